#include "platform/posix/deadline.h"

#include <poll.h>
#include <cerrno>
#include <climits>

#include "platform/posix/wait_cancel.h"

namespace corvane_posix {

namespace {

constexpr std::int64_t ns_per_ms = 1000000;
constexpr std::int64_t ns_per_s = 1000000000;
// About 146 years: later than any wait that can end, small enough that adding
// it to the clock cannot overflow.
constexpr std::int64_t longest_wait_ns = INT64_MAX / 2;

}  // namespace

std::int64_t monotonic_now_ns() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * ns_per_s + now.tv_nsec;
}

Deadline Deadline::never() { return Deadline(true, 0); }

Deadline Deadline::after_ms(std::uint64_t ms) {
  std::uint64_t limit_ms = static_cast<std::uint64_t>(longest_wait_ns / ns_per_ms);
  std::int64_t wait_ns = ms >= limit_ms ? longest_wait_ns : static_cast<std::int64_t>(ms) * ns_per_ms;
  return Deadline(false, monotonic_now_ns() + wait_ns);
}

bool Deadline::expired() const { return !never_ && monotonic_now_ns() >= at_ns_; }

Deadline Deadline::earlier(const Deadline& other) const {
  if (never_) return other;
  if (other.never_) return *this;
  return at_ns_ <= other.at_ns_ ? *this : other;
}

int Deadline::poll_timeout_ms() const {
  if (never_) return -1;
  std::int64_t left_ns = at_ns_ - monotonic_now_ns();
  if (left_ns <= 0) return 0;
  std::int64_t left_ms = (left_ns + ns_per_ms - 1) / ns_per_ms;
  return left_ms > INT_MAX ? INT_MAX : static_cast<int>(left_ms);
}

timespec Deadline::remaining() const {
  timespec left{};
  std::int64_t left_ns = at_ns_ - monotonic_now_ns();
  if (never_ || left_ns <= 0) return left;
  left.tv_sec = static_cast<time_t>(left_ns / ns_per_s);
  left.tv_nsec = static_cast<long>(left_ns % ns_per_s);
  return left;
}

PollOutcome poll_until(int fd, short events, const Deadline& deadline, int* error) {
  for (;;) {
    if (WaitsCancelled()) {
      *error = ECANCELED;
      return PollOutcome::failed;
    }
    // The wake-up channel becomes readable when the waits are cancelled, so
    // a request that comes after the check above still ends this poll.
    pollfd watched[2] = {{fd, events, 0}, {wait_cancel_fd(), POLLIN, 0}};
    nfds_t count = watched[1].fd >= 0 ? 2 : 1;
    int result = poll(watched, count, deadline.poll_timeout_ms());
    if (result < 0) {
      if (errno == EINTR) continue;
      *error = errno;
      return PollOutcome::failed;
    }
    if (result == 0) {
      if (deadline.expired()) return PollOutcome::timed_out;
      continue;
    }
    if (count == 2 && watched[1].revents != 0) continue;  // the check above ends it
    if (watched[0].revents & POLLNVAL) {
      *error = EBADF;
      return PollOutcome::failed;
    }
    if (watched[0].revents & (POLLHUP | POLLERR)) return PollOutcome::hung_up;
    if (watched[0].revents & events) return PollOutcome::ready;
  }
}

}  // namespace corvane_posix
