#include "app/interrupt.h"

#include <csignal>

#include "platform/posix/wait_cancel.h"
#include "serial/interruption.h"

namespace {

const int kInterruptingSignals[] = {SIGINT, SIGTERM, SIGHUP};

void OnInterruption(int signalNumber) {
  RecordInterruption(signalNumber);
  CancelWaits();
}

}  // namespace

int InstallInterruptionHandlers(void) {
  // Without the channel a signal just before a wait is seen only when the
  // wait ends; the run still ends cleanly, only later.
  int installed = PrepareWaitCancel() ? 1 : 0;

  struct sigaction action = {};
  action.sa_handler = OnInterruption;
  // SA_RESTART: a write of standard output that a signal interrupts goes
  // on rather than fail with EINTR and count as lost output. The layer's
  // waits do not restart; they see the cancellation.
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int signalNumber : kInterruptingSignals) sigaddset(&action.sa_mask, signalNumber);
  for (int signalNumber : kInterruptingSignals)
    if (sigaction(signalNumber, &action, NULL) != 0) installed = 0;
  return installed;
}

int InterruptionStatus(void) { return 128 + RunInterrupted(); }

void EndInterruptibleWaits(void) {
  // The layer's waits are cut by the signal itself and nothing else is.
}

void ReleaseInterruptionHandling(void) { ReleaseWaitCancel(); }
