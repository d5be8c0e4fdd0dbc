#include "bcsp/crc16.h"

namespace bcsp {

std::uint16_t Crc16CcittFalse(const std::uint8_t* data, std::size_t size) {
  std::uint16_t crc = 0xFFFF;
  for (std::size_t i = 0; i < size; ++i) {
    crc = static_cast<std::uint16_t>(crc ^ (data[i] << 8));
    for (int bit = 0; bit < 8; ++bit) {
      const bool top = (crc & 0x8000) != 0;
      crc = static_cast<std::uint16_t>(crc << 1);
      if (top) crc = static_cast<std::uint16_t>(crc ^ 0x1021);
    }
  }
  return crc;
}

}  // namespace bcsp
