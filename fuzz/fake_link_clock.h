// The module link's clock, moved only when told to: linked into a fuzz target
// in place of the library's own definition of prodtest::Clock::now(), so a run
// crosses seconds of deadlines in microseconds.
#ifndef CORVANE_FUZZ_FAKE_LINK_CLOCK_H
#define CORVANE_FUZZ_FAKE_LINK_CLOCK_H

#include <chrono>

#include "testlib/link_clock.h"

namespace fakeclock {

using TimePoint = prodtest::Clock::time_point;

void Set(TimePoint now);
void Advance(std::chrono::nanoseconds by);

}  // namespace fakeclock

#endif
