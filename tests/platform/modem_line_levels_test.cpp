// The levels of RTS and DTR that the layer drives, on a pseudo-terminal with
// emulated modem lines (emulated_modem_lines.h): after SetCommState with each
// pair of control modes, after each EscapeCommFunction, and the order in
// which SetCommState changes them: RTS, then DTR, as Windows does.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <cstdlib>
#include <ostream>
#include <vector>

#include "emulator/preload/modem_line_report.h"
#include "platform/serial_api.h"
#include "tests/platform/emulated_modem_lines.h"
#include "tests/platform/open_port.h"

namespace {

class LinePort : public OpenPort {
 protected:
  void SetUp() override {
    ASSERT_TRUE(reports.ok());
    OpenPort::SetUp();
    if (HasFatalFailure()) return;
    struct stat status {};
    ASSERT_EQ(fstat(watch, &status), 0);
    device = static_cast<std::uint64_t>(status.st_rdev);
    // The lines are emulated, or every level below would be meaningless.
    int bits = 0;
    ASSERT_EQ(ioctl(watch, TIOCMGET, &bits), 0) << "the modem-line library is not in this process";
    reports.take(device);
  }
  void TearDown() override {
    unsetenv(CORVANE_MODEM_LINES_ABSENT_ENV);
    OpenPort::TearDown();
  }

  // The levels now, read back through another descriptor of the slave.
  LineLevels levels() {
    int bits = 0;
    EXPECT_EQ(ioctl(watch, TIOCMGET, &bits), 0);
    return LineLevels{(bits & TIOCM_RTS) != 0, (bits & TIOCM_DTR) != 0};
  }

  // Brings the lines to `wanted` with EscapeCommFunction, and forgets the
  // reports of it.
  void set_levels(LineLevels wanted) {
    ASSERT_TRUE(EscapeCommFunction(port, wanted.rts ? SETRTS : CLRRTS)) << "error " << GetLastError();
    ASSERT_TRUE(EscapeCommFunction(port, wanted.dtr ? SETDTR : CLRDTR)) << "error " << GetLastError();
    ASSERT_EQ(levels(), wanted);
    reports.take(device);
  }

  BOOL apply_modes(DWORD dtr_control, DWORD rts_control) {
    DCB dcb = reported_state();
    dcb.fDtrControl = dtr_control;
    dcb.fRtsControl = rts_control;
    SetLastError(0);
    return SetCommState(port, &dcb);
  }

  LineReports reports;
  std::uint64_t device = 0;
};

// --- SetCommState -----------------------------------------------------------

struct ModeCase {
  const char* name;
  DWORD dtr_control;
  DWORD rts_control;
  LineLevels after;
};

void PrintTo(const ModeCase& c, std::ostream* os) { *os << c.name; }

class ControlModes : public LinePort, public ::testing::WithParamInterface<ModeCase> {};

// From the opposite levels, so that each line has to change: the levels
// after the call, and the changes in Windows' order, RTS before DTR.
TEST_P(ControlModes, SetTheLinesRtsFirst) {
  const ModeCase& c = GetParam();
  set_levels(LineLevels{!c.after.rts, !c.after.dtr});
  ASSERT_TRUE(apply_modes(c.dtr_control, c.rts_control)) << "error " << GetLastError();
  EXPECT_EQ(levels(), c.after);
  std::vector<LineLevels> expected = {LineLevels{c.after.rts, !c.after.dtr}, c.after};
  EXPECT_EQ(reports.take(device), expected) << "the line changes, in order";

  DCB back = reported_state();
  EXPECT_EQ(back.fDtrControl, c.dtr_control);
  EXPECT_EQ(back.fRtsControl, c.rts_control);

  // Applied again over levels already right, nothing moves.
  ASSERT_TRUE(apply_modes(c.dtr_control, c.rts_control));
  EXPECT_EQ(levels(), c.after);
}

constexpr LineLevels kLowLow{false, false};
constexpr LineLevels kRtsHigh{true, false};
constexpr LineLevels kDtrHigh{false, true};
constexpr LineLevels kHighHigh{true, true};

INSTANTIATE_TEST_SUITE_P(
    Modes, ControlModes,
    ::testing::Values(
        // The open's settings: both lines under program control, low.
        ModeCase{"dtr_disable_rts_disable", DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE, kLowLow},
        // The switch to 115200: RTS raised, DTR dropped.
        ModeCase{"dtr_disable_rts_enable", DTR_CONTROL_DISABLE, RTS_CONTROL_ENABLE, kRtsHigh},
        ModeCase{"dtr_disable_rts_handshake", DTR_CONTROL_DISABLE, RTS_CONTROL_HANDSHAKE, kRtsHigh},
        ModeCase{"dtr_enable_rts_disable", DTR_CONTROL_ENABLE, RTS_CONTROL_DISABLE, kDtrHigh},
        ModeCase{"dtr_enable_rts_enable", DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE, kHighHigh},
        ModeCase{"dtr_enable_rts_handshake", DTR_CONTROL_ENABLE, RTS_CONTROL_HANDSHAKE, kHighHigh},
        ModeCase{"dtr_handshake_rts_disable", DTR_CONTROL_HANDSHAKE, RTS_CONTROL_DISABLE, kDtrHigh},
        ModeCase{"dtr_handshake_rts_enable", DTR_CONTROL_HANDSHAKE, RTS_CONTROL_ENABLE, kHighHigh},
        ModeCase{"dtr_handshake_rts_handshake", DTR_CONTROL_HANDSHAKE, RTS_CONTROL_HANDSHAKE, kHighHigh}),
    [](const ::testing::TestParamInfo<ModeCase>& info) { return info.param.name; });

using LineModes = LinePort;

// RTS_CONTROL_TOGGLE has no termios equivalent: refused, and the lines stay.
TEST_F(LineModes, ToggleIsRefusedAndTheLinesStay) {
  for (LineLevels start : {kRtsHigh, kDtrHigh}) {
    set_levels(start);
    EXPECT_FALSE(apply_modes(DTR_CONTROL_ENABLE, RTS_CONTROL_TOGGLE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(levels(), start);
    EXPECT_TRUE(reports.take(device).empty());
  }
}

// --- EscapeCommFunction -----------------------------------------------------

struct EscapeCase {
  const char* name;
  DWORD function;
  LineLevels before;
  LineLevels after;
};

void PrintTo(const EscapeCase& c, std::ostream* os) { *os << c.name; }

class Escape : public LinePort, public ::testing::WithParamInterface<EscapeCase> {};

// Each function moves its own line, once, and leaves the other alone.
TEST_P(Escape, MovesOneLine) {
  const EscapeCase& c = GetParam();
  set_levels(c.before);
  ASSERT_TRUE(EscapeCommFunction(port, c.function)) << "error " << GetLastError();
  EXPECT_EQ(levels(), c.after);
  EXPECT_EQ(reports.take(device), std::vector<LineLevels>{c.after});
}

INSTANTIATE_TEST_SUITE_P(Functions, Escape,
                         ::testing::Values(EscapeCase{"setrts_from_low", SETRTS, kDtrHigh, kHighHigh},
                                           EscapeCase{"setrts_when_high", SETRTS, kRtsHigh, kRtsHigh},
                                           EscapeCase{"clrrts_from_high", CLRRTS, kHighHigh, kDtrHigh},
                                           EscapeCase{"clrrts_when_low", CLRRTS, kLowLow, kLowLow},
                                           EscapeCase{"setdtr_from_low", SETDTR, kRtsHigh, kHighHigh},
                                           EscapeCase{"setdtr_when_high", SETDTR, kDtrHigh, kDtrHigh},
                                           EscapeCase{"clrdtr_from_high", CLRDTR, kHighHigh, kRtsHigh},
                                           EscapeCase{"clrdtr_when_low", CLRDTR, kLowLow, kLowLow}),
                         [](const ::testing::TestParamInfo<EscapeCase>& info) { return info.param.name; });

// --- A port without modem lines ---------------------------------------------

class NoModemLines : public LinePort, public ::testing::WithParamInterface<const char*> {};

// Whether the driver says ENOTTY or EINVAL, the port has no lines: the line
// settings still succeed, and a line request fails as Windows' drivers fail
// a request they do not support.
TEST_P(NoModemLines, SettingsWorkAndLineRequestsAreUnsupported) {
  setenv(CORVANE_MODEM_LINES_ABSENT_ENV, GetParam(), 1);
  for (DWORD dtr : {DTR_CONTROL_DISABLE, DTR_CONTROL_ENABLE, DTR_CONTROL_HANDSHAKE}) {
    for (DWORD rts : {RTS_CONTROL_DISABLE, RTS_CONTROL_ENABLE, RTS_CONTROL_HANDSHAKE}) {
      EXPECT_TRUE(apply_modes(dtr, rts)) << dtr << "/" << rts << ": error " << GetLastError();
    }
  }
  for (DWORD function : {SETRTS, CLRRTS, SETDTR, CLRDTR}) {
    SetLastError(0);
    EXPECT_FALSE(EscapeCommFunction(port, function)) << function;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION) << function;
  }
  EXPECT_TRUE(reports.take(device).empty());
}

INSTANTIATE_TEST_SUITE_P(Answers, NoModemLines, ::testing::Values("ENOTTY", "EINVAL"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

}  // namespace
