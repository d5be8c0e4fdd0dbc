#include "app/interrupt.h"

#include <atomic>

#include "platform/serial_api.h"
#include "serial/interruption.h"

namespace {

// What Windows itself ends a console program with on Ctrl-C or Ctrl-Break
// when no handler takes the event; shells and scripts know it.
const int kControlCExitStatus = (int)0xC000013Au;

// The console control events, recorded as these numbers (nonzero).
const int kEventBase = 1;

// Windows ends the process of a closing console 5 s after the event; stop
// holding it a little before.
const DWORD kLongestHoldMs = 4500;
const DWORD kCancelBeatMs = 10;

HANDLE mainThread = NULL;
int handlerReady = 0;
CRITICAL_SECTION cancelling;
// Set once the run has seen the interruption: nothing needs cutting short
// after that, and its closing lines must not be.
std::atomic<int> runHasNoticed(0);

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: break;
    default: return FALSE;
  }
  RecordInterruption(kEventBase + (int)event);
  // The main thread may be between two calls when one cancel comes, so
  // keep cancelling until it has noticed; the process ends when the run
  // returns, this thread with it.
  for (DWORD held = 0; held < kLongestHoldMs; held += kCancelBeatMs) {
    EnterCriticalSection(&cancelling);
    if (!runHasNoticed.load()) CancelSynchronousIo(mainThread);
    LeaveCriticalSection(&cancelling);
    Sleep(kCancelBeatMs);
  }
  return TRUE;
}

}  // namespace

int InstallInterruptionHandlers(void) {
  InitializeCriticalSection(&cancelling);
  handlerReady = 1;
  // GetCurrentThread() names whichever thread uses it; the handler runs on
  // a thread of its own and needs the main thread's real handle.
  if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &mainThread, 0, FALSE,
                       DUPLICATE_SAME_ACCESS))
    mainThread = NULL;
  if (!SetConsoleCtrlHandler(OnConsoleEvent, TRUE)) return 0;
  return mainThread != NULL ? 1 : 0;
}

int InterruptionStatus(void) { return kControlCExitStatus; }

void EndInterruptibleWaits(void) {
  if (!handlerReady) return;
  EnterCriticalSection(&cancelling);
  runHasNoticed.store(1);
  LeaveCriticalSection(&cancelling);
}

void ReleaseInterruptionHandling(void) {}
