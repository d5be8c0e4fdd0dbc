// CRC-16/CCITT-FALSE: polynomial 0x1021, initial value 0xFFFF, no reflection,
// no final XOR. "123456789" gives 0x29B1.
#ifndef CORVANE_BCSP_CRC16_H
#define CORVANE_BCSP_CRC16_H

#include <cstddef>
#include <cstdint>

namespace bcsp {

std::uint16_t Crc16CcittFalse(const std::uint8_t* data, std::size_t size);

}  // namespace bcsp

#endif
