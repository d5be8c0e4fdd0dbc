#include "adapter/adapter.h"
#include "serial/port.h"

namespace {
const DWORD kPulseStepMs = 200;
}

// The pulses that make a Plug-and-Play device send its ID. Nothing is read or
// purged here: reply bytes that arrive during the last step wait in the input
// queue for ReadPnpReply.
void PulsePnpLines(void) {
  SetRts(0);
  SetDtr(1);
  Sleep(kPulseStepMs);
  SetDtr(0);
  Sleep(kPulseStepMs);
  SetDtr(1);
  Sleep(kPulseStepMs);
  SetRts(1);
  Sleep(kPulseStepMs);
}
