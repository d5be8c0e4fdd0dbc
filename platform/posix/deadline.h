// Points in time on the monotonic clock, and the one poll() wrapper that every
// wait of this layer goes through.
#ifndef CORVANE_PLATFORM_POSIX_DEADLINE_H
#define CORVANE_PLATFORM_POSIX_DEADLINE_H

#include <cstdint>
#include <ctime>

namespace corvane_posix {

// Nanoseconds on CLOCK_MONOTONIC, which wall-clock changes do not move.
std::int64_t monotonic_now_ns();

class Deadline {
 public:
  // A deadline that never comes: waits on it block until the device acts.
  static Deadline never();
  // `ms` milliseconds from now; saturates (far beyond any real wait) instead
  // of overflowing for the products that time-out multipliers can produce.
  static Deadline after_ms(std::uint64_t ms);

  bool is_never() const { return never_; }
  bool expired() const;
  // Whichever of the two comes first.
  Deadline earlier(const Deadline& other) const;
  // Time left, rounded up to whole milliseconds so that a wait never wakes
  // before the deadline (which would turn the caller's loop into a spin);
  // -1 for never, capped at the largest int.
  int poll_timeout_ms() const;
  // Time left as a timespec, zero once expired; meaningless for never().
  timespec remaining() const;

 private:
  Deadline(bool never, std::int64_t at_ns) : never_(never), at_ns_(at_ns) {}
  bool never_;
  std::int64_t at_ns_;
};

enum class PollOutcome {
  ready,      // the asked-for event is there
  timed_out,  // the deadline passed first
  hung_up,    // POLLHUP or POLLERR: the device has gone away
  failed,     // poll itself failed; *error holds the errno
};

// Waits until `fd` shows `events` (POLLIN or POLLOUT) or `deadline` passes.
// The time left is recomputed before every poll and EINTR is retried, so
// signals neither shorten nor stretch the wait, except one that cancels the
// layer's waits (wait_cancel.h): then, and whenever they were cancelled
// before, it fails at once with *error set to ECANCELED. A deadline that has
// already passed still looks once, without waiting: that is how a caller
// asks whether the device is there at all.
PollOutcome poll_until(int fd, short events, const Deadline& deadline, int* error);

}  // namespace corvane_posix

#endif
