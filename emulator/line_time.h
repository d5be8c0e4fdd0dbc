// Time on the emulated line: one monotonic clock for every deadline, and the
// time a byte occupies the wire at a given rate (start bit, 8 data bits, stop
// bit: 10 bit times).
#ifndef CORVANE_EMULATOR_LINE_TIME_H
#define CORVANE_EMULATOR_LINE_TIME_H

#include <chrono>
#include <string>

namespace emulator {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using Duration = std::chrono::nanoseconds;

constexpr unsigned kPnpBaud = 1200;
constexpr unsigned kFastBaud = 115200;

inline Duration ByteTime(unsigned baud) {
  // A line set to 0 baud (hang-up) carries nothing useful; pace it as the
  // slowest standard rate rather than divide by zero.
  const unsigned rate = baud < 50 ? 50 : baud;
  return Duration(10LL * 1000 * 1000 * 1000 / rate);
}

// A span of time in milliseconds, and as text ("650.0 ms") for the reports.
double Milliseconds(Duration d);
std::string MillisecondsText(Duration d);

}  // namespace emulator

#endif
