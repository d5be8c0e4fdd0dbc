// A write to a pty whose other side never reads: the pty's buffer fills and
// the write time-out, not the reader, decides when WriteFile returns.
#include <gtest/gtest.h>
#include <chrono>
#include <vector>

#include "platform/serial_api.h"
#include "tests/platform/open_port.h"

namespace {

using WriteTimeout = OpenPort;

TEST_F(WriteTimeout, EndsWithAShortCountWhenNobodyReads) {
  use_timeouts(COMMTIMEOUTS{0, 0, 0, 0, 400});
  std::vector<unsigned char> block(4 * 1024 * 1024, 0x55);
  DWORD written = 0;
  auto start = std::chrono::steady_clock::now();
  BOOL ok = WriteFile(port, block.data(), static_cast<DWORD>(block.size()), &written, nullptr);
  double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_TRUE(ok) << "error " << GetLastError();
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, block.size());
  EXPECT_GE(elapsed, 0.38);
  EXPECT_LT(elapsed, 3.0);
}

}  // namespace
