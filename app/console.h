// Standard output and the standard descriptors as the tool uses them.
//
//   OpenStandardDescriptors()  POSIX: opens /dev/null on each of descriptors
//       0, 1 and 2 that is closed, before anything else can take those
//       numbers (the serial port must never become standard output). A
//       closed standard output counts as a failed write of it (OutputError
//       EBADF), reported at the end. 1 on success; 0 when /dev/null could not
//       be opened, after "failed to open /dev/null: %s\n" on standard error
//       if that is open. Windows: 1, nothing to do (a handle is never a
//       standard descriptor's number).
//   SetUpConsoleOutput()  on a terminal (a Windows console included) every
//       print is written at once, down to a single echoed character, and the
//       echo shows only visible text (EchoVisibleOnly); toward a pipe or a
//       file each line is written when it is printed (on Windows each print,
//       since its C library has no line buffering) and the echo keeps the
//       bytes as they came. POSIX: SIGPIPE is ignored, so that writing to a
//       closed pipe fails with EPIPE instead of ending the run. No result.
//   FinishOutput(status)  writes what is pending; if any write of standard
//       output failed, prints "failed to write standard output: %s\n" with
//       the system's text for the first error on standard error. Returns the
//       exit status: ExitOutputFailed in place of ExitSettingsWritten after
//       such a failure, otherwise `status` as it was (a failed or
//       interrupted run keeps its own status).
#ifndef CORVANE_APP_CONSOLE_H
#define CORVANE_APP_CONSOLE_H

int OpenStandardDescriptors(void);
void SetUpConsoleOutput(void);
int FinishOutput(int status);

#endif
