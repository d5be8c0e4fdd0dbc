// ReadFile: reading with the Windows serial time-out rules.
#include <poll.h>
#include <unistd.h>
#include <cerrno>
#include <cstdint>

#include "platform/posix/deadline.h"
#include "platform/posix/handle.h"
#include "platform/posix/last_error.h"
#include "platform/posix/read_rules.h"

namespace {

using corvane_posix::Deadline;
using corvane_posix::finish_transfer;

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

// A failure met after bytes came in this call ends the call with those
// bytes, so that none is lost: a caller that sees FALSE takes nothing from
// the buffer, as on Windows, where a failed read reports no bytes. A device
// that failed or went away fails the next call at once.
BOOL end_with_failure(int error, DWORD got, LPDWORD bytesRead) {
  if (got > 0) return finish_transfer(TRUE, got, bytesRead);
  return finish_transfer(corvane_posix::fail(error), 0, bytesRead);
}

// The deadline for a wait until `until_ns`, rounded up to whole milliseconds
// so that the wait never ends before it.
Deadline deadline_for(const corvane_posix::ReadStep& step, std::int64_t now_ns) {
  if (step.wait_forever) return Deadline::never();
  constexpr std::int64_t ns_per_ms = 1000000;
  std::int64_t left_ns = step.wait_until_ns - now_ns;
  return Deadline::after_ms(static_cast<std::uint64_t>((left_ns + ns_per_ms - 1) / ns_per_ms));
}

}  // namespace

// ReadFile: reads up to `bytesToRead` bytes (n) from the open device into
// `buffer`, waiting as the handle's COMMTIMEOUTS say, with the rules of
// Windows' serial drivers (ReadIntervalTimeout I, ReadTotalTimeoutMultiplier
// M and ReadTotalTimeoutConstant C, in ms):
//   all zero: no time-out; the read waits until n bytes are in.
//   I = MAXDWORD, M = 0, C = 0: return at once with whatever has arrived,
//     possibly nothing.
//   I = MAXDWORD, M = MAXDWORD, 0 < C < MAXDWORD: return at once if any
//     bytes are there; else wait up to C for the first byte and return as
//     soon as something arrived.
//   I = MAXDWORD with other totals (C < MAXDWORD, not both 0): the same,
//     waiting up to M × n + C for the first byte (M = MAXDWORD counts as
//     0). With C = MAXDWORD Windows sets no timer: the read waits for n.
//   I only (0 < I < MAXDWORD, M = C = 0): no limit on the wait for the first
//     byte; after each byte the read ends once I passes without the next.
//   totals only (I = 0): the read ends after M × n + C in all.
//   both: whichever of the two limits comes first.
// The read always ends as soon as n bytes are in. A time-out is no failure:
// the call returns TRUE with fewer bytes (perhaps none), and the bytes of
// `buffer` past those read are left untouched. Every wait is a poll against
// a monotonic deadline (read_rules.h has the rules as a pure function).
// Only synchronous reads are done: `overlapped` must be nullptr. `bytesRead`
// may be nullptr.
//
// A device that fails or goes away after some bytes came in this call (bytes
// that arrive together with a hang-up, say) gives those bytes first: this
// call returns TRUE with them, and the next call fails.
//
// Returns TRUE with *bytesRead set to the count read (0 ≤ count ≤
// bytesToRead) when the count was reached or a time-out ended the read.
// Returns FALSE with *bytesRead set to 0 and the last error set to:
//   ERROR_INVALID_HANDLE     not a live handle;
//   ERROR_INVALID_PARAMETER  `buffer` is nullptr with a nonzero count, or
//                            `overlapped` given;
//   ERROR_BAD_COMMAND        the device vanished (a pseudo-terminal whose
//                            other side closed, an unplugged adapter): read()
//                            failed with EIO, poll reported POLLHUP or
//                            POLLERR, or read() gave end-of-file right after
//                            poll said the device was readable or while the
//                            device reports a hang-up;
//   the code for the errno of read() or poll() otherwise.
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPOVERLAPPED overlapped) {
  DWORD got = 0;
  corvane_posix::PortRecord* record = corvane_posix::record_of(file);
  if (record == nullptr) return finish_transfer(FALSE, got, bytesRead);
  if (overlapped != nullptr || (buffer == nullptr && bytesToRead != 0)) {
    return finish_transfer(corvane_posix::fail(EINVAL), got, bytesRead);
  }
  if (bytesToRead == 0) return finish_transfer(TRUE, got, bytesRead);

  unsigned char* bytes = static_cast<unsigned char*>(buffer);
  corvane_posix::ReadRule rule = corvane_posix::read_rule_for(record->timeouts, bytesToRead);
  corvane_posix::ReadProgress progress;
  progress.began_ns = corvane_posix::monotonic_now_ns();
  bool poll_said_readable = false;
  for (;;) {
    DWORD before = got;
    int error = 0;
    Drain drained = drain_available(record->fd, bytes, bytesToRead, &got, &error);
    progress.now_ns = corvane_posix::monotonic_now_ns();
    progress.got = got;
    if (got > before) progress.last_byte_ns = progress.now_ns;
    if (drained == Drain::failed) return end_with_failure(error, got, bytesRead);
    // End-of-file right after poll said readable, or on a hung-up device,
    // is the device gone; otherwise (VMIN 0) it is a quiet line.
    if (drained == Drain::end_of_file && ((poll_said_readable && got == before) || device_gone(record->fd))) {
      return end_with_failure(EIO, got, bytesRead);
    }

    corvane_posix::ReadStep step = corvane_posix::next_read_step(rule, bytesToRead, progress);
    if (step.finished) return finish_transfer(TRUE, got, bytesRead);
    switch (corvane_posix::poll_until(record->fd, POLLIN, deadline_for(step, progress.now_ns), &error)) {
      case corvane_posix::PollOutcome::ready: poll_said_readable = true; break;
      case corvane_posix::PollOutcome::timed_out:
        // The next step finds the limit reached, unless a byte came just now.
        break;
      case corvane_posix::PollOutcome::hung_up:
        // Bytes may have come with the hang-up: they are the caller's.
        drain_available(record->fd, bytes, bytesToRead, &got, &error);
        return end_with_failure(EIO, got, bytesRead);
      case corvane_posix::PollOutcome::failed: return end_with_failure(error, got, bytesRead);
    }
  }
}
