#include "testlib/link_clock.h"

namespace prodtest {

Clock::time_point Clock::now() noexcept { return std::chrono::steady_clock::now(); }

}  // namespace prodtest
