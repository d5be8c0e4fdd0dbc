#include "platform/posix/wait_cancel.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>

#include "platform/posix/last_error.h"

namespace {

volatile std::sig_atomic_t cancelled = 0;
// Set and cleared outside signal handlers only; a handler that runs in
// between sees either no channel or a whole one, since it runs to its end
// before the interrupted code goes on.
volatile std::sig_atomic_t wake_read = -1;
volatile std::sig_atomic_t wake_write = -1;

}  // namespace

BOOL PrepareWaitCancel() {
  if (wake_read >= 0) return TRUE;
  int ends[2];
  if (pipe(ends) != 0) return corvane_posix::fail(errno);
  for (int end : ends) {
    // Non-blocking: a handler's write must never wait, even when the pipe is
    // full of earlier requests.
    if (fcntl(end, F_SETFD, FD_CLOEXEC) != 0 || fcntl(end, F_SETFL, O_NONBLOCK) != 0) {
      int error = errno;
      close(ends[0]);
      close(ends[1]);
      return corvane_posix::fail(error);
    }
  }
  wake_read = ends[0];
  wake_write = ends[1];
  if (cancelled) {
    char byte = 1;
    if (write(wake_write, &byte, 1) < 0) {
      // Full or closed: a waiter sees the flag all the same.
    }
  }
  return TRUE;
}

void CancelWaits() {
  int saved = errno;
  cancelled = 1;
  int end = wake_write;
  if (end >= 0) {
    char byte = 1;
    if (write(end, &byte, 1) < 0) {
      // A full pipe is already readable, which is all a waiter needs.
    }
  }
  errno = saved;
}

BOOL WaitsCancelled() { return cancelled ? TRUE : FALSE; }

void ReleaseWaitCancel() {
  int read_end = wake_read;
  int write_end = wake_write;
  wake_read = -1;
  wake_write = -1;
  if (read_end >= 0) close(read_end);
  if (write_end >= 0) close(write_end);
}

namespace corvane_posix {

int wait_cancel_fd() { return wake_read; }

}  // namespace corvane_posix
