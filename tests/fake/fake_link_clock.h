// The module link's clock, moved only when told to: linked in place of the
// library's own definition of prodtest::Clock::now(), so that a test or a fuzz
// target crosses seconds of the link's deadlines in microseconds and sees
// them to the nanosecond.
//
//   Set(t)       the clock reads t from now on
//   Advance(d)   the clock moves on by d
//   Now()        what prodtest::Clock::now() returns
#ifndef CORVANE_TESTS_FAKE_FAKE_LINK_CLOCK_H
#define CORVANE_TESTS_FAKE_FAKE_LINK_CLOCK_H

#include <chrono>

#include "testlib/link_clock.h"

namespace fakeclock {

using TimePoint = prodtest::Clock::time_point;

void Set(TimePoint now);
void Advance(std::chrono::nanoseconds by);
TimePoint Now();

}  // namespace fakeclock

#endif
