#include "bcsp/crc16.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

TEST(Crc16CcittFalse, CheckValue) {
  const char* text = "123456789";
  EXPECT_EQ(bcsp::Crc16CcittFalse(reinterpret_cast<const std::uint8_t*>(text), std::strlen(text)), 0x29B1);
}

TEST(Crc16CcittFalse, EmptyInputIsInitialValue) { EXPECT_EQ(bcsp::Crc16CcittFalse(nullptr, 0), 0xFFFF); }

TEST(Crc16CcittFalse, SingleZeroByte) {
  const std::uint8_t zero = 0;
  EXPECT_EQ(bcsp::Crc16CcittFalse(&zero, 1), 0xE1F0);
}

}  // namespace
