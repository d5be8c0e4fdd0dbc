// The layer's record of its last failure, read back through GetLastError.
#ifndef CORVANE_PLATFORM_POSIX_LAST_ERROR_H
#define CORVANE_PLATFORM_POSIX_LAST_ERROR_H

#include "platform/posix/win32_subset.h"

namespace corvane_posix {

// Records `error` (an errno value) as the calling thread's last error and
// returns FALSE, so that a failing call can end with `return fail(EINVAL);`.
BOOL fail(int error);

}  // namespace corvane_posix

#endif
