// Sleep: the fixed waits.
#include <cerrno>
#include <ctime>

#include "platform/posix/deadline.h"
#include "platform/posix/win32_subset.h"

// Sleep: suspends the calling thread for `milliseconds` milliseconds.
// A signal does not cut the wait short: the sleep is resumed for the time
// left to the same monotonic deadline. Sleep(0) returns at once.
//
// Returns nothing; it cannot fail.
void Sleep(DWORD milliseconds) {
  corvane_posix::Deadline deadline = corvane_posix::Deadline::after_ms(milliseconds);
  while (!deadline.expired()) {
    timespec left = deadline.remaining();
    nanosleep(&left, nullptr);  // EINTR: go round for what is left
  }
}
