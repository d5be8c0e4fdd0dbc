// ReadFile: reading with the Windows serial time-out rules.
#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <unistd.h>

#include "platform/posix/deadline.h"
#include "platform/posix/handle.h"
#include "platform/posix/last_error.h"

namespace {

using corvane_posix::Deadline;
using corvane_posix::finish_transfer;

// How one ReadFile waits, derived from the handle's COMMTIMEOUTS.
struct ReadPlan {
  bool wait_at_all = true;       // false: return with what is there now
  bool return_on_any = false;    // return as soon as some bytes are in
  Deadline total = Deadline::never();
  bool has_interval = false;     // a gap after a received byte ends the read
  std::uint64_t interval_ms = 0;
};

ReadPlan plan_for(const COMMTIMEOUTS& timeouts, DWORD count) {
  ReadPlan plan;
  DWORD interval = timeouts.ReadIntervalTimeout;
  DWORD multiplier = timeouts.ReadTotalTimeoutMultiplier;
  DWORD constant = timeouts.ReadTotalTimeoutConstant;
  if (interval == MAXDWORD && multiplier == 0 && constant == 0) {
    plan.wait_at_all = false;
    return plan;
  }
  if (interval == MAXDWORD && multiplier == MAXDWORD && constant > 0 && constant < MAXDWORD) {
    plan.return_on_any = true;
    plan.total = Deadline::after_ms(constant);
    return plan;
  }
  if (multiplier != 0 || constant != 0) {
    std::uint64_t total_ms = static_cast<std::uint64_t>(multiplier) * count + constant;
    plan.total = Deadline::after_ms(total_ms);
  }
  plan.has_interval = interval != 0;
  plan.interval_ms = interval;
  return plan;
}

enum class Drain { more_may_come, end_of_file, failed };

// Reads what the device holds now, up to `count` in all, into `buffer`
// after the `*got` bytes already there. Never waits.
Drain drain_available(int fd, unsigned char* buffer, DWORD count, DWORD* got, int* error) {
  while (*got < count) {
    ssize_t n = read(fd, buffer + *got, count - *got);
    if (n > 0) {
      *got += static_cast<DWORD>(n);
      continue;
    }
    if (n == 0) return Drain::end_of_file;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return Drain::more_may_come;
    *error = errno;
    return Drain::failed;
  }
  return Drain::more_may_come;
}

// After read() gave end-of-file: true when that was the device going away,
// false when it only meant "nothing there" (VMIN 0, on a device nobody has
// set up yet). A hung-up terminal reports POLLHUP at once.
bool device_gone(int fd) {
  int error = 0;
  corvane_posix::PollOutcome now = corvane_posix::poll_until(fd, POLLIN, Deadline::after_ms(0), &error);
  return now == corvane_posix::PollOutcome::hung_up || now == corvane_posix::PollOutcome::failed;
}

}  // namespace

// ReadFile: reads up to `bytesToRead` bytes from the open device into
// `buffer`, waiting as the handle's COMMTIMEOUTS say, exactly as Windows
// does for a serial port:
//   all fields 0: no time-out; wait until `bytesToRead` bytes are in.
//   ReadIntervalTimeout MAXDWORD, both total fields 0: return at once with
//     whatever has arrived, possibly nothing.
//   ReadIntervalTimeout and ReadTotalTimeoutMultiplier MAXDWORD, constant C
//     with 0 < C < MAXDWORD: return at once if any bytes are there; else wait
//     up to C ms for the first byte and return as soon as something arrived.
//   otherwise: the read ends after multiplier × bytesToRead + constant ms in
//     all (no total limit when both are 0), and, when ReadIntervalTimeout is
//     not 0, once more than that many ms pass after a received byte without
//     the next one.
// A time-out is no failure: the call returns TRUE with fewer bytes (perhaps
// none), and the bytes of `buffer` past those read are left untouched. Every
// wait is a poll against a monotonic deadline. Only synchronous reads are
// done: `overlapped` must be nullptr. `bytesRead` may be nullptr.
//
// Returns TRUE with *bytesRead set to the count read (0 ≤ count ≤
// bytesToRead) when the count was reached or a time-out ended the read.
// Returns FALSE with *bytesRead set to the bytes read before the failure and
// the last error set to:
//   EBADF   not a live handle;
//   EINVAL  `buffer` is nullptr with a nonzero count, or `overlapped` given;
//   EIO     the device vanished (a pseudo-terminal whose other side closed,
//           an unplugged adapter): poll reported POLLHUP or POLLERR, or
//           read() gave end-of-file right after poll said the device was
//           readable or while the device reports a hang-up;
//   the errno of read() or poll() otherwise (EIO is the usual one).
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
              LPOVERLAPPED overlapped) {
  DWORD got = 0;
  corvane_posix::PortRecord* record = corvane_posix::record_of(file);
  if (record == nullptr) return finish_transfer(FALSE, got, bytesRead);
  if (overlapped != nullptr || (buffer == nullptr && bytesToRead != 0)) {
    return finish_transfer(corvane_posix::fail(EINVAL), got, bytesRead);
  }
  if (bytesToRead == 0) return finish_transfer(TRUE, got, bytesRead);

  unsigned char* bytes = static_cast<unsigned char*>(buffer);
  ReadPlan plan = plan_for(record->timeouts, bytesToRead);
  Deadline interval_end = Deadline::never();
  bool poll_said_readable = false;
  for (;;) {
    DWORD before = got;
    int error = 0;
    Drain drained = drain_available(record->fd, bytes, bytesToRead, &got, &error);
    if (drained == Drain::failed) return finish_transfer(corvane_posix::fail(error), got, bytesRead);
    // End-of-file right after poll said readable, or on a hung-up device,
    // is the device gone; otherwise (VMIN 0) it is a quiet line.
    if (drained == Drain::end_of_file &&
        ((poll_said_readable && got == before) || device_gone(record->fd))) {
      return finish_transfer(corvane_posix::fail(EIO), got, bytesRead);
    }
    if (got == bytesToRead || !plan.wait_at_all) return finish_transfer(TRUE, got, bytesRead);
    if (plan.return_on_any && got > 0) return finish_transfer(TRUE, got, bytesRead);
    if (plan.has_interval && got > before) interval_end = Deadline::after_ms(plan.interval_ms);

    Deadline until = plan.total.earlier(interval_end);
    corvane_posix::PollOutcome outcome = corvane_posix::poll_until(record->fd, POLLIN, until, &error);
    switch (outcome) {
      case corvane_posix::PollOutcome::ready: poll_said_readable = true; break;
      case corvane_posix::PollOutcome::timed_out: return finish_transfer(TRUE, got, bytesRead);
      case corvane_posix::PollOutcome::hung_up: return finish_transfer(corvane_posix::fail(EIO), got, bytesRead);
      case corvane_posix::PollOutcome::failed: return finish_transfer(corvane_posix::fail(error), got, bytesRead);
    }
  }
}
