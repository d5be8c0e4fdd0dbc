// Ending a run cleanly when it is interrupted from outside.
//
//   InstallInterruptionHandlers()  POSIX: catches SIGINT, SIGTERM and SIGHUP.
//       The handler does two async-signal-safe things only: it records the
//       signal (RecordInterruption) and cuts the serial layer's waits short
//       (CancelWaits), so that the run's own failure paths close the port
//       and prodtest's connection. Windows: a console control handler for
//       Ctrl-C, Ctrl-Break, the console closing, log-off and shut-down; it
//       records the event, cancels the main thread's serial I/O in progress
//       (CancelSynchronousIo) until the run has noticed, and keeps the
//       process alive until the run has ended (at most 4.5 s; Windows ends a
//       closing console's process after 5 s). 1 when every handler is in
//       place; 0 otherwise (the run then goes on as it would without one).
//   InterruptionStatus()  the exit status of an interrupted run: 128 + the
//       signal number on POSIX (130 SIGINT, 143 SIGTERM, 129 SIGHUP); on
//       Windows 0xC000013A (STATUS_CONTROL_C_EXIT), the status with which
//       Windows ends a console program on Ctrl-C when it has no handler, for
//       every event alike.
//   EndInterruptibleWaits()  the run has no wait left to cut short (its
//       last one is over, or it has seen the interruption): on Windows the
//       handler stops cancelling the main thread's I/O, so that the closing
//       lines are not cut; POSIX: nothing. Idempotent. No result.
//   ReleaseInterruptionHandling()  after the last output: POSIX closes the
//       layer's wake-up channel (a signal still only records itself);
//       Windows: nothing. No result.
#ifndef CORVANE_APP_INTERRUPT_H
#define CORVANE_APP_INTERRUPT_H

int InstallInterruptionHandlers(void);
int InterruptionStatus(void);
void EndInterruptibleWaits(void);
void ReleaseInterruptionHandling(void);

#endif
