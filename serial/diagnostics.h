// Diagnostics of the serial line and the adapter dialogue: failure messages,
// progress lines and the echo of bytes read from the adapter. They are printed
// to standard output while ShowDiagnostics is on; the entry's user messages do
// not go through here and are printed whatever it holds.
#ifndef CORVANE_SERIAL_DIAGNOSTICS_H
#define CORVANE_SERIAL_DIAGNOSTICS_H

// On at start; no option changes it.
extern int ShowDiagnostics;

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void Diagnostic(const char* format, ...);

#endif
