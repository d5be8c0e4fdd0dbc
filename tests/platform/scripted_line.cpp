#include "tests/platform/scripted_line.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr std::int64_t ns_per_ms = 1000000;
// Any reading of the script's clock will do; this one is far from the real
// clock's, so that a time taken from the wrong clock shows.
constexpr std::int64_t script_epoch_ns = std::int64_t{7} * 24 * 3600 * 1000 * ns_per_ms;
// Polls at one moment of the script's clock beyond which the caller spins.
constexpr int spin_limit = 1000;

ScriptedLine* active = nullptr;

template <typename Function>
Function next_definition(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

ScriptedLine::ScriptedLine(int fd) : fd_(fd), start_ns_(script_epoch_ns), now_ns_(script_epoch_ns) {
  EXPECT_EQ(active, nullptr) << "one scripted line at a time";
  active = this;
}

ScriptedLine::~ScriptedLine() { active = nullptr; }

void ScriptedLine::arrive(std::int64_t at_ms, const std::string& bytes) {
  arrivals_.push_back(Arrival{start_ns_ + at_ms * ns_per_ms, bytes});
  std::stable_sort(arrivals_.begin(), arrivals_.end(),
                   [](const Arrival& a, const Arrival& b) { return a.at_ns < b.at_ns; });
}

void ScriptedLine::hang_up(std::int64_t at_ms, HangUpRead read_answer) {
  will_hang_up_ = true;
  hang_up_ns_ = start_ns_ + at_ms * ns_per_ms;
  hang_up_read_ = read_answer;
}

void ScriptedLine::stick_input_speed(speed_t speed) {
  input_stuck_ = true;
  input_speed_ = speed;
}

void ScriptedLine::stick_output_speed(speed_t speed) {
  output_stuck_ = true;
  output_speed_ = speed;
}

std::int64_t ScriptedLine::elapsed_ms() const { return (now_ns_ - start_ns_) / ns_per_ms; }

bool ScriptedLine::hung_up() const { return will_hang_up_ && now_ns_ >= hang_up_ns_; }

bool ScriptedLine::bytes_pending() const {
  return next_arrival_ < arrivals_.size() && arrivals_[next_arrival_].at_ns <= now_ns_;
}

short ScriptedLine::events_now(short events) const {
  short revents = 0;
  if ((events & POLLIN) && bytes_pending()) revents |= POLLIN;
  if (hung_up())
    revents |= POLLHUP;
  else if (events & POLLOUT)
    revents |= POLLOUT;
  return revents;
}

bool ScriptedLine::next_event(std::int64_t* at_ns) const {
  bool found = false;
  for (std::size_t i = next_arrival_; i < arrivals_.size(); ++i) {
    if (arrivals_[i].at_ns > now_ns_) {
      *at_ns = arrivals_[i].at_ns;
      found = true;
      break;
    }
  }
  if (will_hang_up_ && hang_up_ns_ > now_ns_ && (!found || hang_up_ns_ < *at_ns)) {
    *at_ns = hang_up_ns_;
    found = true;
  }
  return found;
}

int ScriptedLine::poll_device(short events, short* revents, int timeout_ms) {
  std::int64_t limit_ns = timeout_ms < 0 ? 0 : now_ns_ + timeout_ms * ns_per_ms;
  // A caller that polls again and again at one moment spins: on a real
  // clock until its deadline, on this one forever. The poll fails instead,
  // so that the call under test ends.
  polls_at_this_moment_ = now_ns_ == last_poll_ns_ ? polls_at_this_moment_ + 1 : 0;
  last_poll_ns_ = now_ns_;
  if (polls_at_this_moment_ >= spin_limit) {
    if (polls_at_this_moment_ == spin_limit) ADD_FAILURE() << "the layer spins on poll at " << elapsed_ms() << " ms";
    errno = EDEADLK;
    return -1;
  }
  for (;;) {
    *revents = events_now(events);
    if (*revents != 0) return 1;
    std::int64_t next_ns = 0;
    bool has_next = next_event(&next_ns);
    if (timeout_ms < 0) {
      if (!has_next) {
        ADD_FAILURE() << "the layer waits with no end on a device that will never act";
        errno = EDEADLK;
        return -1;
      }
      now_ns_ = next_ns;
      continue;
    }
    if (has_next && next_ns <= limit_ns) {
      now_ns_ = next_ns;
      continue;
    }
    now_ns_ = limit_ns;
    return 0;
  }
}

long ScriptedLine::read_device(void* buffer, unsigned long count) {
  if (bytes_pending()) {
    unsigned char* into = static_cast<unsigned char*>(buffer);
    unsigned long done = 0;
    while (done < count && bytes_pending()) {
      const std::string& bytes = arrivals_[next_arrival_].bytes;
      std::size_t take = std::min<std::size_t>(count - done, bytes.size() - offset_);
      std::memcpy(into + done, bytes.data() + offset_, take);
      done += take;
      offset_ += take;
      if (offset_ == bytes.size()) {
        ++next_arrival_;
        offset_ = 0;
      }
    }
    return static_cast<long>(done);
  }
  if (hung_up()) {
    switch (hang_up_read_) {
      case HangUpRead::end_of_file: return 0;
      case HangUpRead::io_error: errno = EIO; return -1;
      case HangUpRead::nothing: break;
    }
  }
  errno = EAGAIN;
  return -1;
}

long ScriptedLine::write_device(const void* buffer, unsigned long count) {
  if (hung_up()) {
    errno = hang_up_read_ == HangUpRead::io_error ? EIO : EAGAIN;
    return -1;
  }
  written_.append(static_cast<const char*>(buffer), count);
  return static_cast<long>(count);
}

// The C library keeps one speed for both directions in the settings (or
// none per direction at all), so a device that reports two different ones
// is played at the calls that read them out.
void ScriptedLine::settings_read(int fd, const termios* settings) {
  if (fd == fd_) {
    reported_at_ = settings;
    reported_ = *settings;
  } else {
    reported_at_ = nullptr;
  }
}

bool ScriptedLine::reported(const termios* settings) const {
  return settings != nullptr && settings == reported_at_ && std::memcmp(settings, &reported_, sizeof reported_) == 0;
}

bool ScriptedLine::input_speed_of(const termios* settings, speed_t* speed) const {
  if (!input_stuck_ || !reported(settings)) return false;
  *speed = input_speed_;
  return true;
}

bool ScriptedLine::output_speed_of(const termios* settings, speed_t* speed) const {
  if (!output_stuck_ || !reported(settings)) return false;
  *speed = output_speed_;
  return true;
}

// The definitions that stand in for the C library's in this executable.

extern "C" int clock_gettime(clockid_t clock, struct timespec* time) noexcept {
  if (active != nullptr && clock == CLOCK_MONOTONIC) {
    time->tv_sec = static_cast<time_t>(active->now_ns() / (1000 * ns_per_ms));
    time->tv_nsec = static_cast<long>(active->now_ns() % (1000 * ns_per_ms));
    return 0;
  }
  static auto real = next_definition<int (*)(clockid_t, struct timespec*)>("clock_gettime");
  return real(clock, time);
}

// The C library declares poll's array write-only, which it is not: the
// caller's fd and events are read.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
extern "C" int poll(struct pollfd* fds, nfds_t count, int timeout) {
  if (active != nullptr && count == 1 && active->plays(fds[0].fd)) {
    return active->poll_device(fds[0].events, &fds[0].revents, timeout);
  }
  static auto real = next_definition<int (*)(struct pollfd*, nfds_t, int)>("poll");
  return real(fds, count, timeout);
}

extern "C" ssize_t read(int fd, void* buffer, size_t count) {
  if (active != nullptr && active->plays(fd)) return active->read_device(buffer, count);
  static auto real = next_definition<ssize_t (*)(int, void*, size_t)>("read");
  return real(fd, buffer, count);
}

extern "C" ssize_t write(int fd, const void* buffer, size_t count) {
  if (active != nullptr && active->plays(fd)) return active->write_device(buffer, count);
  static auto real = next_definition<ssize_t (*)(int, const void*, size_t)>("write");
  return real(fd, buffer, count);
}

extern "C" int tcgetattr(int fd, struct termios* settings) noexcept {
  static auto real = next_definition<int (*)(int, struct termios*)>("tcgetattr");
  int result = real(fd, settings);
  if (result == 0 && active != nullptr) active->settings_read(fd, settings);
  return result;
}

extern "C" speed_t cfgetispeed(const struct termios* settings) noexcept {
  speed_t speed = 0;
  if (active != nullptr && active->input_speed_of(settings, &speed)) return speed;
  static auto real = next_definition<speed_t (*)(const struct termios*)>("cfgetispeed");
  return real(settings);
}

extern "C" speed_t cfgetospeed(const struct termios* settings) noexcept {
  speed_t speed = 0;
  if (active != nullptr && active->output_speed_of(settings, &speed)) return speed;
  static auto real = next_definition<speed_t (*)(const struct termios*)>("cfgetospeed");
  return real(settings);
}
