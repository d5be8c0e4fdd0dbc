// PurgeComm empties the receive queue when asked, and only then.
#include <gtest/gtest.h>

#include "platform/serial_api.h"
#include "tests/platform/open_port.h"

namespace {

class Purge : public OpenPort {
 protected:
  void SetUp() override {
    OpenPort::SetUp();
    use_timeouts(COMMTIMEOUTS{MAXDWORD, 0, 0, 0, 0});
  }
  DWORD bytes_waiting() {
    char buffer[16];
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(port, buffer, sizeof buffer, &got, nullptr));
    return got;
  }
};

TEST_F(Purge, ReceiveFlagsDiscardWhatArrivedTransmitFlagsDoNot) {
  struct Case {
    DWORD flags;
    DWORD left;
  };
  for (Case c :
       {Case{PURGE_RXCLEAR, 0}, Case{PURGE_RXABORT, 0}, Case{0x0F, 0}, Case{PURGE_TXCLEAR | PURGE_TXABORT, 3}}) {
    ASSERT_TRUE(pty.write_all({'a', 'b', 'c'}));
    ASSERT_EQ(wait_for_input(2000), 3);
    EXPECT_TRUE(PurgeComm(port, c.flags)) << c.flags << ": error " << GetLastError();
    EXPECT_EQ(bytes_waiting(), c.left) << c.flags;
  }
}

TEST_F(Purge, UnknownFlagIsAnInvalidParameter) {
  EXPECT_FALSE(PurgeComm(port, 0x10));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
