// The layer's record of its last failure, read back through GetLastError.
//
//   fail(error)              records an errno met on an open port (or by any
//                            call but CreateFileA); returns FALSE.
//   fail_to_open(error)      the same for CreateFileA, where a device that is
//                            not there reads as a port Windows does not know.
//   win32_error_for(e, c)    the table: the Win32 code for errno `e` met in
//                            call kind `c`.
//   last_errno()             the errno behind the code GetLastError returns,
//                            for tests and for messages that want it.
#ifndef CORVANE_PLATFORM_POSIX_LAST_ERROR_H
#define CORVANE_PLATFORM_POSIX_LAST_ERROR_H

#include "platform/posix/win32_subset.h"

namespace corvane_posix {

// Where an errno was met: some mean one thing while a device is being opened
// and another once it is open (EIO from open() is a node without a device
// behind it; from read() it is a device that went away).
enum class FailedCall { open_device, open_port };

// The Win32 code that Windows gives for the condition that `error` (an errno
// value) stands for, in a call of kind `call`. Never 0: an errno outside the
// table gives ERROR_GEN_FAILURE.
DWORD win32_error_for(int error, FailedCall call);

// Records `error` (an errno value) as the calling thread's last failure of a
// call on an open port and returns FALSE, so that a failing call can end with
// `return fail(EINVAL);`. GetLastError then returns
// win32_error_for(error, FailedCall::open_port).
BOOL fail(int error);

// Records `error` as the calling thread's last failure of CreateFileA:
// GetLastError then returns win32_error_for(error, FailedCall::open_device).
void fail_to_open(int error);

// The errno recorded with the calling thread's last failure; 0 before any,
// and after SetLastError (which gives a code, not an errno).
int last_errno();

}  // namespace corvane_posix

#endif
