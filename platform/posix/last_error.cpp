#include "platform/posix/last_error.h"

namespace {

// Per thread, as on Windows: a writer thread's failure must not overwrite the
// code that the reading thread is about to print.
thread_local int last_error = 0;

}  // namespace

namespace corvane_posix {

BOOL fail(int error) {
  last_error = error;
  return FALSE;
}

}  // namespace corvane_posix

// GetLastError: the error number of the last call of this layer that failed
// on the calling thread.
//
// Returns the errno value that the failing call recorded (for example ENOENT
// for a missing device, EBUSY for a device held by someone else, EIO for a
// device that vanished), or the code last given to SetLastError, whichever
// came later; 0 when neither has happened on this thread yet. Successful
// calls leave it as it is.
DWORD GetLastError() {
  return static_cast<DWORD>(last_error);
}

// SetLastError: sets the code that GetLastError returns next on this thread,
// for callers that report a failure of their own in the platform's terms.
void SetLastError(DWORD errorCode) {
  last_error = static_cast<int>(errorCode);
}
