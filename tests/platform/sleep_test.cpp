// Sleep lasts at least as long as asked, signals or not.
#include <gtest/gtest.h>
#include <chrono>

#include "platform/serial_api.h"
#include "tests/platform/signal_storm.h"

TEST(Sleep, SignalsDoNotCutItShort) {
  SignalStorm storm(5);
  auto start = std::chrono::steady_clock::now();
  Sleep(300);
  double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(elapsed, 0.3);
  EXPECT_LT(elapsed, 3.0);
  EXPECT_GT(SignalStorm::delivered(), 10);
}
