#include "tests/fake/fake_link_clock.h"

namespace fakeclock {
namespace {
TimePoint current{};
}

void Set(TimePoint now) { current = now; }
void Advance(std::chrono::nanoseconds by) { current += by; }
TimePoint Now() { return current; }

}  // namespace fakeclock

prodtest::Clock::time_point prodtest::Clock::now() noexcept { return fakeclock::Now(); }
