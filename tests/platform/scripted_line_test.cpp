// The layer against devices played by a script on a clock of its own: reads
// under every kind of time-out, to the millisecond and without waiting;
// hang-ups that only poll reports, or that come with bytes still to give;
// and a device that takes only one of the two line speeds.
#include <gtest/gtest.h>
#include <termios.h>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/handle.h"
#include "platform/serial_api.h"
#include "tests/platform/open_port.h"
#include "tests/platform/scripted_line.h"

namespace {

using HangUpRead = ScriptedLine::HangUpRead;

// An open port whose device the test scripts from here on.
class ScriptedPort : public OpenPort {
 protected:
  void SetUp() override {
    OpenPort::SetUp();
    if (HasFatalFailure()) return;
    corvane_posix::PortRecord* record = corvane_posix::record_of(port);
    ASSERT_NE(record, nullptr);
    line = std::make_unique<ScriptedLine>(record->fd);
  }
  void TearDown() override {
    line.reset();
    OpenPort::TearDown();
  }

  struct Read {
    BOOL ok;
    std::string bytes;
    DWORD error;
  };
  // One ReadFile of `count` bytes into a buffer that holds 0xA5 beyond what
  // the read reports; checks that the rest of it is untouched.
  Read read(DWORD count) {
    std::vector<unsigned char> buffer(count + 8, 0xA5);
    DWORD got = 99;
    SetLastError(0);
    BOOL ok = ReadFile(port, buffer.data(), count, &got, nullptr);
    DWORD error = GetLastError();
    EXPECT_LE(got, count);
    if (got > count) got = count;
    for (std::size_t i = got; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xA5) << "byte " << i;
    return Read{ok, std::string(buffer.begin(), buffer.begin() + got), error};
  }

  std::unique_ptr<ScriptedLine> line;
};

// --- Reads under every kind of time-out -------------------------------------

struct TimedCase {
  const char* name;
  COMMTIMEOUTS timeouts;
  DWORD count;
  std::vector<std::pair<int, std::string>> arrivals;  // ms after the start, bytes
  std::string expected;
  std::int64_t returns_at_ms;
};

void PrintTo(const TimedCase& c, std::ostream* os) { *os << c.name; }

class TimedRead : public ScriptedPort, public ::testing::WithParamInterface<TimedCase> {};

TEST_P(TimedRead, ReturnsWithTheBytesAtTheRightMoment) {
  const TimedCase& c = GetParam();
  use_timeouts(c.timeouts);
  for (const auto& arrival : c.arrivals) line->arrive(arrival.first, arrival.second);
  Read result = read(c.count);
  EXPECT_TRUE(result.ok) << "error " << result.error;
  EXPECT_EQ(result.bytes, c.expected);
  EXPECT_EQ(line->elapsed_ms(), c.returns_at_ms);
}

const COMMTIMEOUTS kTool = tool_timeouts();

INSTANTIATE_TEST_SUITE_P(
    Rules, TimedRead,
    ::testing::Values(
        // No time-out: only the count ends the read.
        TimedCase{"all_zero_waits_for_the_count", {0, 0, 0, 0, 0}, 4, {{0, "ab"}, {300, "cd"}}, "abcd", 300},
        TimedCase{"all_zero_takes_no_more_than_the_count", {0, 0, 0, 0, 0}, 3, {{50, "abcd"}}, "abc", 50},
        // Whatever is there, at once.
        TimedCase{"maxdword_0_0_with_bytes", {MAXDWORD, 0, 0, 0, 0}, 16, {{0, "123"}, {10, "4"}}, "123", 0},
        TimedCase{"maxdword_0_0_with_nothing", {MAXDWORD, 0, 0, 0, 0}, 16, {{10, "4"}}, "", 0},
        // Return as soon as something is in, having waited for it.
        TimedCase{"maxdword_maxdword_c_first_byte",
                  {MAXDWORD, MAXDWORD, 5000, 0, 0},
                  16,
                  {{200, "hi"}, {800, "jk"}},
                  "hi",
                  200},
        TimedCase{"maxdword_maxdword_c_bytes_waiting", {MAXDWORD, MAXDWORD, 5000, 0, 0}, 16, {{0, "ok"}}, "ok", 0},
        TimedCase{"maxdword_maxdword_c_silent", {MAXDWORD, MAXDWORD, 300, 0, 0}, 16, {}, "", 300},
        TimedCase{"maxdword_0_c_first_byte", {MAXDWORD, 0, 5000, 0, 0}, 16, {{200, "hi"}, {800, "jk"}}, "hi", 200},
        TimedCase{"maxdword_0_c_silent", {MAXDWORD, 0, 5000, 0, 0}, 16, {{6000, "late"}}, "", 5000},
        TimedCase{"maxdword_m_c_silent", {MAXDWORD, 100, 1000, 0, 0}, 4, {}, "", 1400},
        TimedCase{"maxdword_0_maxdword_waits_for_the_count",
                  {MAXDWORD, 0, MAXDWORD, 0, 0},
                  2,
                  {{200, "a"}, {900000, "b"}},
                  "ab",
                  900000},
        // Interval only: as long as it takes for the first byte, then the gap.
        TimedCase{"interval_only", {100, 0, 0, 0, 0}, 16, {{3000, "x"}, {3050, "y"}, {3400, "z"}}, "xy", 3150},
        // Totals only: from the start, bytes or not.
        TimedCase{"totals_only_silent", {0, 300, 100, 0, 0}, 3, {}, "", 1000},
        TimedCase{"totals_only_some_bytes", {0, 300, 100, 0, 0}, 3, {{200, "a"}, {1200, "b"}}, "a", 1000},
        // Both: the first to come.
        TimedCase{"both_interval_first", {100, 0, 5000, 0, 0}, 16, {{100, "abc"}, {700, "def"}}, "abc", 200},
        TimedCase{"both_total_first", {500, 0, 250, 0, 0}, 8, {{100, "a"}, {300, "b"}}, "a", 250},
        // The tool's one-byte read.
        TimedCase{"tool_silent", kTool, 1, {}, "", 1500}, TimedCase{"tool_byte", kTool, 1, {{700, "("}}, "(", 700}),
    [](const ::testing::TestParamInfo<TimedCase>& info) { return info.param.name; });

// --- Hang-ups ---------------------------------------------------------------

struct HangUpCase {
  const char* name;
  HangUpRead read_answer;
  int at_ms;
};

void PrintTo(const HangUpCase& c, std::ostream* os) { *os << c.name; }

class HangUp : public ScriptedPort, public ::testing::WithParamInterface<HangUpCase> {};

// However the device tells of it (poll alone, end-of-file, EIO), a hang-up
// fails the call when it comes, not at the end of the time-out.
TEST_P(HangUp, FailsTheReadWhenItComes) {
  const HangUpCase& c = GetParam();
  line->hang_up(c.at_ms, c.read_answer);
  Read result = read(1);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error, ERROR_BAD_COMMAND);
  EXPECT_EQ(result.bytes, "");
  EXPECT_EQ(line->elapsed_ms(), c.at_ms);
}

TEST_P(HangUp, FailsTheWriteWhenItComes) {
  const HangUpCase& c = GetParam();
  line->hang_up(0, c.read_answer);
  DWORD written = 99;
  SetLastError(0);
  EXPECT_FALSE(WriteFile(port, "KESTRAVIN SETUP", 15, &written, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_BAD_COMMAND);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(line->elapsed_ms(), 0);
}

// Bytes that the device delivers together with its hang-up are the
// caller's: the read returns them, and the next read fails.
TEST_P(HangUp, GivesTheBytesThatCameWithItThenFails) {
  const HangUpCase& c = GetParam();
  line->arrive(c.at_ms, "ab");
  line->hang_up(c.at_ms, c.read_answer);
  Read first = read(16);
  EXPECT_TRUE(first.ok) << "error " << first.error;
  EXPECT_EQ(first.bytes, "ab");
  EXPECT_EQ(line->elapsed_ms(), c.at_ms);
  Read next = read(16);
  EXPECT_FALSE(next.ok);
  EXPECT_EQ(next.error, ERROR_BAD_COMMAND);
  EXPECT_EQ(next.bytes, "");
}

// Bytes that came while the read waited for more, then the hang-up: the
// read returns all of them, and the next read fails.
TEST_P(HangUp, GivesTheBytesItGotWhileWaitingThenFails) {
  const HangUpCase& c = GetParam();
  line->arrive(c.at_ms / 2, "x");
  line->arrive(c.at_ms, "yz");
  line->hang_up(c.at_ms, c.read_answer);
  use_timeouts(COMMTIMEOUTS{0, 0, 0, 0, 0});
  Read first = read(8);
  EXPECT_TRUE(first.ok) << "error " << first.error;
  EXPECT_EQ(first.bytes, "xyz");
  EXPECT_EQ(line->elapsed_ms(), c.at_ms);
  Read after = read(1);
  EXPECT_FALSE(after.ok);
  EXPECT_EQ(after.error, ERROR_BAD_COMMAND);
}

// The same, one byte at a time, as the tool reads.
TEST_P(HangUp, GivesBytesOneByOneToOneByteReads) {
  const HangUpCase& c = GetParam();
  line->arrive(0, "ab");
  line->hang_up(0, c.read_answer);
  for (const char* expected : {"a", "b"}) {
    Read one = read(1);
    EXPECT_TRUE(one.ok) << "error " << one.error;
    EXPECT_EQ(one.bytes, expected);
  }
  Read after = read(1);
  EXPECT_FALSE(after.ok);
  EXPECT_EQ(after.error, ERROR_BAD_COMMAND);
}

INSTANTIATE_TEST_SUITE_P(Answers, HangUp,
                         ::testing::Values(HangUpCase{"poll_alone", HangUpRead::nothing, 300},
                                           HangUpCase{"end_of_file", HangUpRead::end_of_file, 300},
                                           HangUpCase{"io_error", HangUpRead::io_error, 300},
                                           HangUpCase{"poll_alone_at_once", HangUpRead::nothing, 0}),
                         [](const ::testing::TestParamInfo<HangUpCase>& info) { return info.param.name; });

// --- Both line speeds read back ---------------------------------------------

struct SpeedCase {
  const char* name;
  bool input_stuck;  // else the output speed is
  speed_t stuck_at;
  DWORD rate;
  bool taken;
};

void PrintTo(const SpeedCase& c, std::ostream* os) { *os << c.name; }

class LineSpeeds : public ScriptedPort, public ::testing::WithParamInterface<SpeedCase> {};

// A device that keeps one of its speeds has not taken the rate: the call
// fails as Windows refuses a rate, and the line is as it was.
TEST_P(LineSpeeds, BothMustBeTakenOrTheOldSettingsComeBack) {
  const SpeedCase& c = GetParam();
  if (c.input_stuck)
    line->stick_input_speed(c.stuck_at);
  else
    line->stick_output_speed(c.stuck_at);
  DCB dcb = reported_state();
  dcb.BaudRate = c.rate;
  dcb.StopBits = TWOSTOPBITS;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  SetLastError(0);
  BOOL ok = SetCommState(port, &dcb);

  termios seen = pty.settings();  // the master's view: the device as it is
  DCB back = reported_state();
  if (c.taken) {
    EXPECT_TRUE(ok) << "error " << GetLastError();
    EXPECT_EQ(cfgetospeed(&seen), c.stuck_at);
    EXPECT_TRUE(seen.c_cflag & CSTOPB);
    EXPECT_EQ(back.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
  } else {
    EXPECT_FALSE(ok);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(cfgetospeed(&seen), static_cast<speed_t>(B1200)) << "the old rate is not back";
    EXPECT_FALSE(seen.c_cflag & CSTOPB) << "the old frame is not back";
    EXPECT_EQ(back.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE)) << "the refused record was kept";
    EXPECT_EQ(back.StopBits, ONESTOPBIT);
  }
}

INSTANTIATE_TEST_SUITE_P(Devices, LineSpeeds,
                         ::testing::Values(SpeedCase{"input_stays_at_1200", true, B1200, 115200, false},
                                           SpeedCase{"output_stays_at_1200", false, B1200, 115200, false},
                                           SpeedCase{"input_stays_at_the_rate_asked", true, B115200, 115200, true},
                                           SpeedCase{"output_stays_at_the_rate_asked", false, B9600, 9600, true}),
                         [](const ::testing::TestParamInfo<SpeedCase>& info) { return info.param.name; });

}  // namespace
