// Cutting this layer's waits short, for a process that has been asked to end
// (a signal handler's one call into the layer). Not a Win32 call: on Windows
// the same is done with CancelSynchronousIo.
//
//   PrepareWaitCancel()  makes the wake-up channel (a pipe, close-on-exec, on
//                        descriptors above the standard three once those are
//                        open) so that a request can never slip in just
//                        before a wait starts. Returns TRUE, or FALSE with the
//                        errno kept for GetLastError; without the channel
//                        CancelWaits still works, but a request that comes
//                        between a wait's check and its start is seen only
//                        when that wait ends. Calling it again does nothing.
//   CancelWaits()        async-signal-safe. From now on every wait of the
//                        layer, the one in progress and every later one, ends
//                        at once: ReadFile and WriteFile fail where they would
//                        wait, with the last error ECANCELED; Sleep returns
//                        early. It cannot be undone. No result.
//   WaitsCancelled()     TRUE once CancelWaits was called.
//   ReleaseWaitCancel()  closes the channel, for a tidy exit; waits are still
//                        cut short if CancelWaits was called. No result.
#ifndef CORVANE_PLATFORM_POSIX_WAIT_CANCEL_H
#define CORVANE_PLATFORM_POSIX_WAIT_CANCEL_H

#include "platform/posix/win32_subset.h"

BOOL PrepareWaitCancel();
void CancelWaits();
BOOL WaitsCancelled();
void ReleaseWaitCancel();

namespace corvane_posix {

// The read end of the wake-up channel, or -1 when there is none. It becomes
// readable when CancelWaits is called and stays so.
int wait_cancel_fd();

}  // namespace corvane_posix

#endif
