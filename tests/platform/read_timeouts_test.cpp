// ReadFile's time-outs in real time, once, on a pty whose master side plays
// the device: the tool's one-byte read. The rules themselves are checked
// exactly elsewhere, as a pure function (read_rules_test.cpp) and through
// ReadFile on a scripted clock (scripted_line_test.cpp); this check shows
// that the real clock, the real poll and signals agree with them. Its bounds
// are loose on purpose: they tell a wait that ends from one that ends much
// too early, too late or never, not how precise it is.
#include <gtest/gtest.h>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/serial_api.h"
#include "tests/platform/open_port.h"
#include "tests/platform/signal_storm.h"

namespace {

using ReadTimeouts = OpenPort;

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The tool's read, twice: on a silent line it ends after the total limit,
// multiplier × count + constant (500 × 1 + 1000 ms), as a successful read of
// nothing that leaves the caller's buffer alone; with a byte that comes
// while it waits, it wakes and returns that byte at once. Signals arrive all
// the while: they must neither end a wait early nor restart it.
TEST_F(ReadTimeouts, ToolReadWaitsForItsByteUpToTheTotalLimit) {
  SignalStorm storm(5);
  unsigned char buffer[8];
  std::memset(buffer, 0xA5, sizeof buffer);
  DWORD got = 99;
  auto start = std::chrono::steady_clock::now();
  BOOL ok = ReadFile(port, buffer, 1, &got, nullptr);
  double elapsed = seconds_since(start);
  EXPECT_TRUE(ok) << "error " << GetLastError();
  EXPECT_EQ(got, 0u);
  for (unsigned char byte : buffer) EXPECT_EQ(byte, 0xA5);
  EXPECT_GE(elapsed, 1.4);
  EXPECT_LE(elapsed, 3.0);

  std::thread device([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    pty.write_all({'('});
  });
  start = std::chrono::steady_clock::now();
  ok = ReadFile(port, buffer, 1, &got, nullptr);
  elapsed = seconds_since(start);
  device.join();
  EXPECT_TRUE(ok) << "error " << GetLastError();
  ASSERT_EQ(got, 1u);
  EXPECT_EQ(buffer[0], '(');
  EXPECT_EQ(buffer[1], 0xA5);
  EXPECT_GE(elapsed, 0.25);
  EXPECT_LT(elapsed, 1.4) << "the read did not wake for its byte";
  EXPECT_GT(SignalStorm::delivered(), 0);
}

}  // namespace
