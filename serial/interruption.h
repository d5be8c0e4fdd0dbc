// A run cut short from outside: a signal (SIGINT, SIGTERM, SIGHUP) on POSIX,
// a console control event (Ctrl-C, Ctrl-Break, the console closing) on
// Windows. The entry's handler records it here; the serial port and the run
// sequence look at it to stop at the next step, and the diagnostics of the
// calls it cut short are not printed, since they would blame the device.
//
//   RecordInterruption(n)  notes the signal or event n (nonzero); the first
//                          one recorded stays. Safe in a signal handler and
//                          from another thread: it only stores a lock-free
//                          atomic. No result.
//   RunInterrupted()       the recorded signal or event, 0 while none came.
#ifndef CORVANE_SERIAL_INTERRUPTION_H
#define CORVANE_SERIAL_INTERRUPTION_H

#include <atomic>

// 0 while the run goes on; tests clear it between cases.
extern std::atomic<int> InterruptedBy;

void RecordInterruption(int signalNumber);
int RunInterrupted(void);

#endif
