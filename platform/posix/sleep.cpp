// Sleep: the fixed waits.
#include <poll.h>
#include <cerrno>
#include <ctime>

#include "platform/posix/deadline.h"
#include "platform/posix/wait_cancel.h"
#include "platform/posix/win32_subset.h"

// Sleep: suspends the calling thread for `milliseconds` milliseconds.
// A signal does not cut the wait short: the sleep is resumed for the time
// left to the same monotonic deadline, unless the layer's waits have been
// cancelled (wait_cancel.h), before or during the sleep: then it returns at
// once. Sleep(0) returns at once.
//
// Returns nothing; it cannot fail.
void Sleep(DWORD milliseconds) {
  corvane_posix::Deadline deadline = corvane_posix::Deadline::after_ms(milliseconds);
  while (!deadline.expired() && !WaitsCancelled()) {
    int wake = corvane_posix::wait_cancel_fd();
    if (wake >= 0) {
      // Rounded up to whole milliseconds, so the sleep never ends early.
      pollfd watched{wake, POLLIN, 0};
      poll(&watched, 1, deadline.poll_timeout_ms());  // EINTR or woken: look again
    } else {
      timespec left = deadline.remaining();
      nanosleep(&left, nullptr);  // EINTR: go round for what is left
    }
  }
}
