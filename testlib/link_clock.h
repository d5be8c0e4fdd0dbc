// The clock that every deadline of the module link is taken from: the steady
// clock, read through Clock::now() alone. Its definition is a file of its own
// in the library, so a program that must cross seconds of deadlines in
// microseconds (the link's tests, a fuzz target) links its own definition in
// its place (tests/fake/fake_link_clock.h).
#ifndef CORVANE_TESTLIB_LINK_CLOCK_H
#define CORVANE_TESTLIB_LINK_CLOCK_H

#include <chrono>

namespace prodtest {

struct Clock {
  using duration = std::chrono::steady_clock::duration;
  using rep = duration::rep;
  using period = duration::period;
  using time_point = std::chrono::steady_clock::time_point;
  static constexpr bool is_steady = true;
  static time_point now() noexcept;
};

}  // namespace prodtest

#endif
