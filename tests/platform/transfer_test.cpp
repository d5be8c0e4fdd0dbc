// Bytes in both directions after the layer's SetCommState, starting from the
// pty's default (cooked) settings: every byte value arrives unchanged,
// nothing is echoed, nothing is held back for a line end.
#include <gtest/gtest.h>
#include <vector>

#include "platform/serial_api.h"
#include "tests/platform/open_port.h"

namespace {

std::vector<unsigned char> every_byte_value() {
  std::vector<unsigned char> bytes(256);
  for (int value = 0; value < 256; ++value) bytes[value] = static_cast<unsigned char>(value);
  return bytes;
}

using Transfer = OpenPort;

TEST_F(Transfer, SlaveToMasterCarriesEveryByteUnchanged) {
  std::vector<unsigned char> sent = every_byte_value();
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(port, sent.data(), static_cast<DWORD>(sent.size()), &written, nullptr))
      << "error " << GetLastError();
  EXPECT_EQ(written, sent.size());
  // One more than was sent: output processing (a CR added before LF) shows
  // as an extra byte.
  EXPECT_EQ(pty.read_up_to(sent.size() + 1, 1000), sent);
}

TEST_F(Transfer, MasterToSlaveCarriesEveryByteWithoutEcho) {
  std::vector<unsigned char> sent = every_byte_value();
  ASSERT_TRUE(pty.write_all(sent));
  use_timeouts(COMMTIMEOUTS{1000, 0, 3000, 0, 0});
  std::vector<unsigned char> received(sent.size() + 1, 0);
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(port, received.data(), static_cast<DWORD>(received.size()), &got, nullptr))
      << "error " << GetLastError();
  received.resize(got);
  EXPECT_EQ(received, sent);
  EXPECT_TRUE(pty.read_up_to(1, 300).empty()) << "the slave echoed what it received";
}

}  // namespace
