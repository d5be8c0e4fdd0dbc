// The tool's console output, all on standard output: the user's messages of
// the entry, and the diagnostics of the serial line and the adapter dialogue
// (failure messages, progress lines and the echo of bytes read from the
// adapter).
//
//   Message(format, ...)     a user message; printed whatever ShowDiagnostics
//                            holds. No result.
//   Diagnostic(format, ...)  printed while ShowDiagnostics is on and the run
//                            has not been interrupted (after an interruption
//                            the failures it causes are not the device's).
//                            No result.
//   EchoByte(c)              a diagnostic: one byte read from the adapter.
//                            While EchoVisibleOnly is on, a byte outside
//                            0x20-0x7E shows as \xNN (two lower-case hex
//                            digits), so that the device cannot drive the
//                            terminal; otherwise it is written as it came.
//                            No result.
//   OutputLineOpen()         1 when the last thing printed did not end its
//                            line (an echo, or a diagnostic glued to one).
//
// Each print is checked: the errno of the first failed write of standard
// output is kept in OutputError (0 while none failed), since stdio keeps only
// a flag and the entry reports the failure at the end.
#ifndef CORVANE_SERIAL_DIAGNOSTICS_H
#define CORVANE_SERIAL_DIAGNOSTICS_H

// On at start; no option changes it.
extern int ShowDiagnostics;

// Off at start: the echo keeps the bytes as they came, for a pipe or a file
// that a script reads. The entry turns it on when standard output is a
// terminal (a Windows console included).
extern int EchoVisibleOnly;

// errno of the first failed write of standard output; 0 while none failed.
extern int OutputError;

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void Message(const char* format, ...);

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void Diagnostic(const char* format, ...);

void EchoByte(char c);
int OutputLineOpen(void);

#endif
