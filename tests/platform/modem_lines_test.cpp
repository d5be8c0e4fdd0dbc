// Modem lines on a device that has none: a pseudo-terminal.
#include <gtest/gtest.h>

#include "platform/serial_api.h"
#include "tests/platform/open_port.h"

namespace {

using ModemLines = OpenPort;

TEST_F(ModemLines, EscapeCommFunctionOnAPtyFailsAsAnUnsupportedRequest) {
  for (DWORD function : {SETRTS, CLRRTS, SETDTR, CLRDTR}) {
    EXPECT_FALSE(EscapeCommFunction(port, function)) << function;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION) << function;
  }
  // The port is still usable afterwards.
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(port, "k", 1, &written, nullptr));
  EXPECT_EQ(pty.read_up_to(1, 1000), std::vector<unsigned char>{'k'});
}

TEST_F(ModemLines, UnknownFunctionIsAnInvalidParameter) {
  for (DWORD function : {DWORD{0}, DWORD{1}, DWORD{2}, DWORD{7}, DWORD{9}, MAXDWORD}) {
    EXPECT_FALSE(EscapeCommFunction(port, function)) << function;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << function;
  }
}

TEST_F(ModemLines, SetCommStateWithEveryLineModeWorksOnAPty) {
  for (DWORD dtr : {DTR_CONTROL_DISABLE, DTR_CONTROL_ENABLE, DTR_CONTROL_HANDSHAKE}) {
    for (DWORD rts : {RTS_CONTROL_DISABLE, RTS_CONTROL_ENABLE, RTS_CONTROL_HANDSHAKE}) {
      DCB dcb = reported_state();
      dcb.fDtrControl = dtr;
      dcb.fRtsControl = rts;
      EXPECT_TRUE(SetCommState(port, &dcb)) << dtr << "/" << rts << ": error " << GetLastError();
      DCB back = reported_state();
      EXPECT_EQ(back.fDtrControl, dtr);
      EXPECT_EQ(back.fRtsControl, rts);
    }
  }
}

TEST(BadHandle, EveryCallFailsWithInvalidHandle) {
  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  COMMTIMEOUTS timeouts{};
  char byte = 0;
  DWORD count = 0;
  for (HANDLE bad : {INVALID_HANDLE_VALUE, static_cast<HANDLE>(nullptr), static_cast<HANDLE>(&dcb)}) {
    EXPECT_FALSE(SetupComm(bad, 4096, 4096));
    EXPECT_FALSE(GetCommState(bad, &dcb));
    EXPECT_FALSE(SetCommState(bad, &dcb));
    EXPECT_FALSE(SetCommTimeouts(bad, &timeouts));
    EXPECT_FALSE(PurgeComm(bad, PURGE_RXCLEAR));
    EXPECT_FALSE(EscapeCommFunction(bad, SETRTS));
    EXPECT_FALSE(ReadFile(bad, &byte, 1, &count, nullptr));
    EXPECT_FALSE(WriteFile(bad, &byte, 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
}

}  // namespace
