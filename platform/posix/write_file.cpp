// WriteFile: writing with the Windows serial write time-out.
#include <poll.h>
#include <unistd.h>
#include <cerrno>
#include <cstdint>

#include "platform/posix/deadline.h"
#include "platform/posix/handle.h"
#include "platform/posix/last_error.h"

namespace {

using corvane_posix::Deadline;
using corvane_posix::finish_transfer;

Deadline write_deadline(const COMMTIMEOUTS& timeouts, DWORD count) {
  DWORD multiplier = timeouts.WriteTotalTimeoutMultiplier;
  DWORD constant = timeouts.WriteTotalTimeoutConstant;
  if (multiplier == 0 && constant == 0) return Deadline::never();
  return Deadline::after_ms(static_cast<std::uint64_t>(multiplier) * count + constant);
}

}  // namespace

// WriteFile: writes `bytesToWrite` bytes from `buffer` to the open device.
// The write ends after WriteTotalTimeoutMultiplier × bytesToWrite +
// WriteTotalTimeoutConstant ms (no limit when both are 0), as on Windows; a
// device that does not take the bytes (a pseudo-terminal whose other side
// does not read, a line held by flow control) cannot hold the caller longer.
// A time-out is no failure: the call returns TRUE with fewer bytes written.
// Only synchronous writes are done: `overlapped` must be nullptr.
// `bytesWritten` may be nullptr.
//
// Returns TRUE with *bytesWritten set to the count the device took
// (bytesToWrite, or fewer after a time-out).
// Returns FALSE with *bytesWritten set to the bytes taken before the failure
// and the last error set to:
//   ERROR_INVALID_HANDLE     not a live handle;
//   ERROR_INVALID_PARAMETER  `buffer` is nullptr with a nonzero count, or
//                            `overlapped` given;
//   ERROR_BAD_COMMAND        the device vanished (write() failed with EIO, or
//                            POLLHUP or POLLERR while waiting);
//   the code for the errno of write() or poll() otherwise.
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten, LPOVERLAPPED overlapped) {
  DWORD sent = 0;
  corvane_posix::PortRecord* record = corvane_posix::record_of(file);
  if (record == nullptr) return finish_transfer(FALSE, sent, bytesWritten);
  if (overlapped != nullptr || (buffer == nullptr && bytesToWrite != 0)) {
    return finish_transfer(corvane_posix::fail(EINVAL), sent, bytesWritten);
  }

  const unsigned char* bytes = static_cast<const unsigned char*>(buffer);
  Deadline deadline = write_deadline(record->timeouts, bytesToWrite);
  while (sent < bytesToWrite) {
    ssize_t n = write(record->fd, bytes + sent, bytesToWrite - sent);
    if (n > 0) {
      sent += static_cast<DWORD>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      return finish_transfer(corvane_posix::fail(errno), sent, bytesWritten);
    }
    int error = 0;
    switch (corvane_posix::poll_until(record->fd, POLLOUT, deadline, &error)) {
      case corvane_posix::PollOutcome::ready: break;
      case corvane_posix::PollOutcome::timed_out: return finish_transfer(TRUE, sent, bytesWritten);
      case corvane_posix::PollOutcome::hung_up: return finish_transfer(corvane_posix::fail(EIO), sent, bytesWritten);
      case corvane_posix::PollOutcome::failed: return finish_transfer(corvane_posix::fail(error), sent, bytesWritten);
    }
  }
  return finish_transfer(TRUE, sent, bytesWritten);
}
