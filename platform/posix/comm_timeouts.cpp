// SetCommTimeouts: the time-outs that ReadFile and WriteFile honour.
#include <cerrno>

#include "platform/posix/handle.h"
#include "platform/posix/last_error.h"

// SetCommTimeouts: stores `timeouts` with the handle; every later ReadFile
// and WriteFile on it waits as they say (see those calls for the meaning of
// each field).
//
// Returns TRUE when stored.
// Returns FALSE with the last error set to ERROR_INVALID_HANDLE (not a live
// handle) or ERROR_INVALID_PARAMETER (`timeouts` is nullptr).
BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
  corvane_posix::PortRecord* record = corvane_posix::record_of(file);
  if (record == nullptr) return FALSE;
  if (timeouts == nullptr) return corvane_posix::fail(EINVAL);
  record->timeouts = *timeouts;
  return TRUE;
}
