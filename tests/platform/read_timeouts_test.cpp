// ReadFile against the time-out rules of COMMTIMEOUTS, on a pty whose master
// side plays the device. The bounds on elapsed time are loose on purpose:
// they tell a wait that ends from one that ends much too early, too late or
// never, not how precise it is.
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <ostream>
#include <thread>
#include <vector>

#include "platform/serial_api.h"
#include "tests/platform/open_port.h"
#include "tests/platform/signal_storm.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Writes `chunks` into the master one after another, `gap_ms` apart, the
// first after `gap_ms`.
std::thread write_later(PtyPair& pty, std::vector<std::vector<unsigned char>> chunks, int gap_ms) {
  return std::thread([&pty, chunks, gap_ms] {
    for (const auto& chunk : chunks) {
      std::this_thread::sleep_for(std::chrono::milliseconds(gap_ms));
      pty.write_all(chunk);
    }
  });
}

struct SilentCase {
  const char* name;
  COMMTIMEOUTS timeouts;
  DWORD count;
  double low_s;   // the total limit, less a little
  double high_s;  // generous
};

// Names the case in test listings.
void PrintTo(const SilentCase& c, std::ostream* os) { *os << c.name; }


class SilentLine : public OpenPort, public ::testing::WithParamInterface<SilentCase> {};

// The total limit is multiplier × count + constant, and a time-out is a
// successful read of nothing that leaves the caller's buffer alone. Signals
// arrive all the while: they must neither end the wait early nor restart it.
TEST_P(SilentLine, TimesOutAfterTheTotalLimitWithNothingRead) {
  const SilentCase& c = GetParam();
  use_timeouts(c.timeouts);
  unsigned char buffer[8];
  std::memset(buffer, 0xA5, sizeof buffer);
  DWORD got = 99;
  SignalStorm storm(5);
  Clock::time_point start = Clock::now();
  BOOL ok = ReadFile(port, buffer, c.count, &got, nullptr);
  double elapsed = seconds_since(start);
  EXPECT_TRUE(ok) << "error " << GetLastError();
  EXPECT_EQ(got, 0u);
  for (unsigned char byte : buffer) EXPECT_EQ(byte, 0xA5);
  EXPECT_GE(elapsed, c.low_s);
  EXPECT_LE(elapsed, c.high_s);
  EXPECT_GT(SignalStorm::delivered(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Limits, SilentLine,
    ::testing::Values(
        // The tool's one-byte read: 500 × 1 + 1000 ms.
        SilentCase{"ToolOneByteRead", tool_timeouts(), 1, 1.4, 3.0},
        // The multiplier counts every byte asked for: 300 × 3 + 100 ms.
        SilentCase{"MultiplierPerByte", COMMTIMEOUTS{0, 300, 100, 0, 0}, 3, 0.95, 2.5}),
    [](const ::testing::TestParamInfo<SilentCase>& info) { return info.param.name; });

using ReadTimeouts = OpenPort;

TEST_F(ReadTimeouts, AllZeroWaitsForTheWholeCount) {
  use_timeouts(COMMTIMEOUTS{0, 0, 0, 0, 0});
  std::thread writer = write_later(pty, {{'a', 'b'}, {'c', 'd'}}, 300);
  char buffer[4] = {};
  DWORD got = 0;
  Clock::time_point start = Clock::now();
  BOOL ok = ReadFile(port, buffer, 4, &got, nullptr);
  double elapsed = seconds_since(start);
  writer.join();
  EXPECT_TRUE(ok) << "error " << GetLastError();
  ASSERT_EQ(got, 4u);
  EXPECT_EQ(std::string(buffer, 4), "abcd");
  EXPECT_GE(elapsed, 0.5);
}

TEST_F(ReadTimeouts, IntervalEndsTheReadAfterAGap) {
  // Total limit 5 s; the 100 ms gap after the last byte must end it first.
  use_timeouts(COMMTIMEOUTS{100, 0, 5000, 0, 0});
  std::thread writer = write_later(pty, {{'a', 'b', 'c'}}, 100);
  char buffer[16] = {};
  DWORD got = 0;
  Clock::time_point start = Clock::now();
  BOOL ok = ReadFile(port, buffer, sizeof buffer, &got, nullptr);
  double elapsed = seconds_since(start);
  writer.join();
  EXPECT_TRUE(ok) << "error " << GetLastError();
  ASSERT_EQ(got, 3u);
  EXPECT_EQ(std::string(buffer, 3), "abc");
  EXPECT_LT(elapsed, 2.5);
}

TEST_F(ReadTimeouts, IntervalMaxdwordReturnsAtOnceWithWhatIsThere) {
  use_timeouts(COMMTIMEOUTS{MAXDWORD, 0, 0, 0, 0});
  char buffer[16];
  std::memset(buffer, 'z', sizeof buffer);
  DWORD got = 99;
  Clock::time_point start = Clock::now();
  EXPECT_TRUE(ReadFile(port, buffer, sizeof buffer, &got, nullptr));
  EXPECT_LT(seconds_since(start), 0.5);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(buffer[0], 'z');

  ASSERT_TRUE(pty.write_all({'1', '2', '3'}));
  ASSERT_EQ(wait_for_input(2000), 3);
  EXPECT_TRUE(ReadFile(port, buffer, sizeof buffer, &got, nullptr));
  ASSERT_EQ(got, 3u);
  EXPECT_EQ(std::string(buffer, 3), "123");
}

class WaitForFirstByte : public OpenPort {
 protected:
  void SetUp() override {
    OpenPort::SetUp();
    use_timeouts(COMMTIMEOUTS{MAXDWORD, MAXDWORD, 5000, 0, 0});
  }
};

TEST_F(WaitForFirstByte, ReturnsAsSoonAsAByteArrives) {
  std::thread writer = write_later(pty, {{'h', 'i'}}, 200);
  char buffer[16] = {};
  DWORD got = 0;
  Clock::time_point start = Clock::now();
  BOOL ok = ReadFile(port, buffer, sizeof buffer, &got, nullptr);
  double elapsed = seconds_since(start);
  writer.join();
  EXPECT_TRUE(ok) << "error " << GetLastError();
  ASSERT_GE(got, 1u);
  ASSERT_LE(got, 2u);
  EXPECT_EQ(std::string(buffer, got), std::string("hi", got));
  EXPECT_GE(elapsed, 0.15);
  EXPECT_LT(elapsed, 2.5);  // far from the 5 s limit
}

TEST_F(WaitForFirstByte, ReturnsAtOnceWhenBytesAreWaiting) {
  ASSERT_TRUE(pty.write_all({'o', 'k'}));
  ASSERT_EQ(wait_for_input(2000), 2);
  char buffer[16] = {};
  DWORD got = 0;
  Clock::time_point start = Clock::now();
  EXPECT_TRUE(ReadFile(port, buffer, sizeof buffer, &got, nullptr));
  EXPECT_LT(seconds_since(start), 0.5);
  ASSERT_EQ(got, 2u);
  EXPECT_EQ(std::string(buffer, 2), "ok");
}

TEST_F(WaitForFirstByte, TimesOutAfterTheConstantWithNothingRead) {
  use_timeouts(COMMTIMEOUTS{MAXDWORD, MAXDWORD, 300, 0, 0});
  char buffer[4] = {'q', 'q', 'q', 'q'};
  DWORD got = 99;
  Clock::time_point start = Clock::now();
  EXPECT_TRUE(ReadFile(port, buffer, sizeof buffer, &got, nullptr));
  double elapsed = seconds_since(start);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(buffer[0], 'q');
  EXPECT_GE(elapsed, 0.28);
  EXPECT_LT(elapsed, 2.5);
}

}  // namespace
