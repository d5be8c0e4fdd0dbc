// SetupComm: the driver queue sizes.
#include "platform/posix/handle.h"

// SetupComm: asks for driver queues of `inQueue` and `outQueue` bytes.
// The kernel keeps its own queues, whose sizes cannot be chosen, so the sizes
// are accepted as given.
//
// Returns TRUE for a live handle.
// Returns FALSE with the last error set to ERROR_INVALID_HANDLE for anything
// else.
BOOL SetupComm(HANDLE file, DWORD /*inQueue*/, DWORD /*outQueue*/) {
  return corvane_posix::record_of(file) != nullptr ? TRUE : FALSE;
}
