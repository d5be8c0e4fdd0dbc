// A device that goes away under an open handle: here the master side of the
// pty closes. Reads and writes must fail, not pass for a quiet line, with the
// code Windows gives for an unplugged adapter.
#include <gtest/gtest.h>
#include <chrono>
#include <ostream>
#include <thread>

#include "platform/serial_api.h"
#include "tests/platform/open_port.h"

namespace {

struct VanishCase {
  const char* name;
  COMMTIMEOUTS timeouts;
  bool write;
  bool while_waiting;  // the master closes 200 ms into the call, not before
};

// Names the case in test listings.
void PrintTo(const VanishCase& c, std::ostream* os) { *os << c.name; }

class VanishedDevice : public OpenPort, public ::testing::WithParamInterface<VanishCase> {};

TEST_P(VanishedDevice, CallFailsAsForAnUnpluggedAdapter) {
  const VanishCase& c = GetParam();
  use_timeouts(c.timeouts);
  std::thread closer;
  if (c.while_waiting) {
    closer = std::thread([this] {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      pty.close_master();
    });
  } else {
    pty.close_master();
  }
  char byte = 'p';
  DWORD count = 99;
  auto start = std::chrono::steady_clock::now();
  BOOL ok = c.write ? WriteFile(port, &byte, 1, &count, nullptr) : ReadFile(port, &byte, 1, &count, nullptr);
  double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (closer.joinable()) closer.join();
  EXPECT_FALSE(ok);
  EXPECT_EQ(GetLastError(), ERROR_BAD_COMMAND);
  EXPECT_EQ(count, 0u);
  EXPECT_LT(elapsed, 1.0) << "the failure must not wait for the time-out";
}

INSTANTIATE_TEST_SUITE_P(
    Calls, VanishedDevice,
    ::testing::Values(VanishCase{"ReadWithToolTimeouts", tool_timeouts(), false, false},
                      VanishCase{"ReadWaitingForFirstByte", COMMTIMEOUTS{MAXDWORD, MAXDWORD, 3000, 0, 0}, false, false},
                      VanishCase{"ReadReturningAtOnce", COMMTIMEOUTS{MAXDWORD, 0, 0, 0, 0}, false, false},
                      VanishCase{"ReadWithToolTimeoutsWhileWaiting", tool_timeouts(), false, true},
                      VanishCase{"ReadWithoutTimeoutsWhileWaiting", COMMTIMEOUTS{0, 0, 0, 0, 0}, false, true},
                      VanishCase{"WriteWithToolTimeouts", tool_timeouts(), true, false}),
    [](const ::testing::TestParamInfo<VanishCase>& info) { return info.param.name; });

}  // namespace
