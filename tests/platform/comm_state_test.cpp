// Line settings through GetCommState and SetCommState, checked from the
// other side of the pty (the master sees the slave's termios).
#include <gtest/gtest.h>
#include <termios.h>
#include <ostream>
#include <string>

#include "platform/serial_api.h"
#include "tests/platform/open_port.h"

namespace {

struct RateCase {
  DWORD rate;
  speed_t speed;
};

void PrintTo(const RateCase& c, std::ostream* os) { *os << c.rate; }

class LineRate : public OpenPort, public ::testing::WithParamInterface<RateCase> {};

TEST_P(LineRate, IsVisibleFromTheOtherSide) {
  DCB dcb = reported_state();
  dcb.BaudRate = GetParam().rate;
  ASSERT_TRUE(SetCommState(port, &dcb)) << "error " << GetLastError();
  termios seen = pty.settings();
  EXPECT_EQ(cfgetospeed(&seen), GetParam().speed);
  EXPECT_EQ(cfgetispeed(&seen), GetParam().speed);
  EXPECT_EQ(reported_state().BaudRate, GetParam().rate);
}

INSTANTIATE_TEST_SUITE_P(Rates, LineRate,
                         ::testing::Values(RateCase{1200, B1200}, RateCase{9600, B9600}, RateCase{115200, B115200},
                                           RateCase{230400, B230400}),
                         [](const ::testing::TestParamInfo<RateCase>& info) {
                           return std::to_string(info.param.rate);
                         });

using CommState = OpenPort;

TEST_F(CommState, NonStandardRateFailsAndKeepsTheLine) {
  for (DWORD rate : {DWORD{0}, DWORD{14400}, DWORD{12345}}) {
    DCB dcb = reported_state();
    dcb.BaudRate = rate;
    EXPECT_FALSE(SetCommState(port, &dcb)) << rate;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << rate;
    termios seen = pty.settings();
    EXPECT_EQ(cfgetospeed(&seen), static_cast<speed_t>(B1200)) << rate;
  }
}

struct FrameCase {
  const char* name;
  BYTE stop_bits;
  bool cts_flow;
  bool xon_xoff;
  tcflag_t cflag_set;    // must be set in c_cflag
  tcflag_t cflag_clear;  // must be clear in c_cflag
};

// Names the case in test listings.
void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.name; }

class Frame : public OpenPort, public ::testing::WithParamInterface<FrameCase> {};

// Each setting reaches the termios, and GetCommState reports it back. (A pty
// forces eight data bits without parity whatever it is asked, so data bits
// and parity can only be seen on a real port.)
TEST_P(Frame, ReachesTheDeviceAndReadsBack) {
  const FrameCase& c = GetParam();
  DCB dcb = reported_state();
  dcb.StopBits = c.stop_bits;
  dcb.fOutxCtsFlow = c.cts_flow;
  dcb.fOutX = c.xon_xoff;
  dcb.fInX = c.xon_xoff;
  ASSERT_TRUE(SetCommState(port, &dcb)) << "error " << GetLastError();

  termios seen = pty.settings();
  EXPECT_EQ(seen.c_cflag & c.cflag_set, c.cflag_set);
  EXPECT_EQ(seen.c_cflag & c.cflag_clear, 0u);
  EXPECT_EQ((seen.c_iflag & IXON) != 0, c.xon_xoff);
  EXPECT_EQ((seen.c_iflag & IXOFF) != 0, c.xon_xoff);
  EXPECT_EQ(seen.c_cc[VMIN], 1);
  EXPECT_EQ(seen.c_cc[VTIME], 0);

  DCB back = reported_state();
  EXPECT_EQ(back.StopBits, c.stop_bits);
  EXPECT_EQ(back.fOutxCtsFlow, c.cts_flow ? 1u : 0u);
  EXPECT_EQ(back.fOutX, c.xon_xoff ? 1u : 0u);
  EXPECT_EQ(back.fInX, c.xon_xoff ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, Frame,
    ::testing::Values(FrameCase{"OneStopNoFlow", ONESTOPBIT, false, false, CS8 | CLOCAL | CREAD, CSTOPB | CRTSCTS},
                      FrameCase{"TwoStop", TWOSTOPBITS, false, false, CSTOPB | CLOCAL | CREAD, CRTSCTS},
                      FrameCase{"CtsFlow", ONESTOPBIT, true, false, CRTSCTS | CLOCAL | CREAD, CSTOPB},
                      FrameCase{"XonXoff", ONESTOPBIT, false, true, CLOCAL | CREAD, CSTOPB | CRTSCTS}),
    [](const ::testing::TestParamInfo<FrameCase>& info) { return info.param.name; });

// GetCommState reports the device as it is, also after someone else changed
// it, not what this handle last asked for.
TEST_F(CommState, ReportsChangesMadeByTheOtherSide) {
  termios changed = pty.settings();
  cfsetispeed(&changed, B9600);
  cfsetospeed(&changed, B9600);
  changed.c_cflag |= CRTSCTS | CSTOPB;
  changed.c_iflag |= IXON;
  changed.c_cc[VSTART] = 0x01;
  pty.set_settings(changed);
  DCB dcb = reported_state();
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(dcb.fOutxCtsFlow, 1u);
  EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
  EXPECT_EQ(dcb.fOutX, 1u);
  EXPECT_EQ(dcb.fInX, 0u);
  EXPECT_EQ(dcb.XonChar, 0x01);
}

TEST_F(CommState, RefusesFramesWindowsRefuses) {
  struct Bad {
    BYTE byte_size, parity, stop_bits;
    DWORD rts_control;
  };
  for (Bad bad : {Bad{4, NOPARITY, ONESTOPBIT, RTS_CONTROL_DISABLE}, Bad{9, NOPARITY, ONESTOPBIT, RTS_CONTROL_DISABLE},
                  Bad{8, 5, ONESTOPBIT, RTS_CONTROL_DISABLE}, Bad{8, NOPARITY, ONE5STOPBITS, RTS_CONTROL_DISABLE},
                  Bad{5, NOPARITY, TWOSTOPBITS, RTS_CONTROL_DISABLE}, Bad{8, NOPARITY, 3, RTS_CONTROL_DISABLE},
                  Bad{8, NOPARITY, ONESTOPBIT, RTS_CONTROL_TOGGLE}}) {
    DCB dcb = reported_state();
    dcb.ByteSize = bad.byte_size;
    dcb.Parity = bad.parity;
    dcb.StopBits = bad.stop_bits;
    dcb.fRtsControl = bad.rts_control;
    EXPECT_FALSE(SetCommState(port, &dcb))
        << int(bad.byte_size) << "/" << int(bad.parity) << "/" << int(bad.stop_bits) << "/" << bad.rts_control;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
}

// The other side of a pseudo-terminal can set flags the slave never asks
// for (the emulator relies on EXTPROC); SetCommState must edit the device's
// own record instead of writing one built from nothing.
TEST_F(CommState, KeepsFlagsSetThroughTheMaster) {
  termios with_extproc = pty.settings();
  with_extproc.c_lflag |= EXTPROC;
  pty.set_settings(with_extproc);
  DCB dcb = reported_state();
  dcb.BaudRate = 115200;
  ASSERT_TRUE(SetCommState(port, &dcb)) << "error " << GetLastError();
  termios seen = pty.settings();
  EXPECT_TRUE(seen.c_lflag & EXTPROC);
  EXPECT_EQ(cfgetospeed(&seen), static_cast<speed_t>(B115200));
}

// What the tool does on its switch to the fast rate: the fields termios has
// no place for survive a GetCommState / edit / SetCommState round trip.
TEST_F(CommState, RoundTripKeepsFieldsTermiosCannotHold) {
  DCB dcb = reported_state();
  dcb.fDsrSensitivity = 1;
  dcb.fTXContinueOnXoff = 1;
  dcb.fErrorChar = 1;
  dcb.fNull = 1;
  dcb.fAbortOnError = 1;
  dcb.XonLim = 500;
  dcb.XoffLim = 3276;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  dcb.ErrorChar = '?';
  dcb.EofChar = 0x1A;
  dcb.EvtChar = '\n';
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  ASSERT_TRUE(SetCommState(port, &dcb)) << "error " << GetLastError();

  DCB back{};
  back.DCBlength = sizeof(DCB);
  ASSERT_TRUE(GetCommState(port, &back));
  EXPECT_EQ(back.DCBlength, sizeof(DCB));
  EXPECT_EQ(back.fBinary, 1u);
  EXPECT_EQ(back.fDsrSensitivity, 1u);
  EXPECT_EQ(back.fTXContinueOnXoff, 1u);
  EXPECT_EQ(back.fErrorChar, 1u);
  EXPECT_EQ(back.fNull, 1u);
  EXPECT_EQ(back.fAbortOnError, 1u);
  EXPECT_EQ(back.XonLim, 500);
  EXPECT_EQ(back.XoffLim, 3276);
  EXPECT_EQ(back.XonChar, 0x11);
  EXPECT_EQ(back.XoffChar, 0x13);
  EXPECT_EQ(back.ErrorChar, '?');
  EXPECT_EQ(back.EofChar, 0x1A);
  EXPECT_EQ(back.EvtChar, '\n');
  EXPECT_EQ(back.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
  EXPECT_EQ(back.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
  termios seen = pty.settings();
  EXPECT_EQ(seen.c_cc[VSTART], 0x11);
  EXPECT_EQ(seen.c_cc[VSTOP], 0x13);
}

}  // namespace
