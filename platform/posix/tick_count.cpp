// GetTickCount64: the clock that the tool's own time bounds read.
#include "platform/posix/deadline.h"
#include "platform/posix/win32_subset.h"

// GetTickCount64: milliseconds on the monotonic clock, which wall-clock
// changes do not move. As on Windows only differences between two readings
// mean anything (there it counts from boot, here from the clock's own epoch).
//
// Returns the count; it cannot fail.
ULONGLONG GetTickCount64() { return static_cast<ULONGLONG>(corvane_posix::monotonic_now_ns() / 1000000); }
