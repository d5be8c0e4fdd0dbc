// The process-wide state a run of the tool leaves behind, put back as a fresh
// process has it, with the scripted platform and the stand-in prodtest reset:
// each test of the run sequence starts from here.
#ifndef CORVANE_TESTS_APP_RUN_STATE_H
#define CORVANE_TESTS_APP_RUN_STATE_H

#include "app/run_sequence.h"
#include "serial/diagnostics.h"
#include "serial/interruption.h"
#include "serial/port.h"
#include "tests/fake/fake_platform.h"
#include "tests/fake/fake_prodtest.h"

inline void ResetRunState(void) {
  fake::Reset();
  fake::ResetProdtest();
  PortHandle = INVALID_HANDLE_VALUE;
  HandshakeMode = HandshakeOn;
  InterruptedBy = 0;
  OutputError = 0;
  EchoVisibleOnly = 0;
}

#endif
