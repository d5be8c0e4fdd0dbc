#include "bcsp/packet.h"

#include <algorithm>

#include "bcsp/crc16.h"

namespace bcsp {

namespace {

constexpr std::uint8_t kSeqMask = 0x07;
constexpr int kAckShift = 3;
constexpr std::uint8_t kCrcFlag = 0x40;
constexpr std::uint8_t kReliableFlag = 0x80;
constexpr std::uint8_t kChannelMask = 0x0F;

std::size_t PayloadLength(std::uint8_t byte1, std::uint8_t byte2) {
  return static_cast<std::size_t>(byte1 >> 4) | (static_cast<std::size_t>(byte2) << 4);
}

}  // namespace

std::uint8_t HeaderCheck(std::uint8_t byte0, std::uint8_t byte1, std::uint8_t byte2) {
  return static_cast<std::uint8_t>(0xFF - ((byte0 + byte1 + byte2) & 0xFF));
}

std::vector<std::uint8_t> EncodePacket(const Packet& packet) {
  // A longer payload breaks the caller's contract; the header must still
  // describe exactly the bytes that follow it.
  const std::size_t length = std::min(packet.payload.size(), kMaxPayloadSize);
  std::uint8_t byte0 = static_cast<std::uint8_t>((packet.seq & kSeqMask) | ((packet.ack & kSeqMask) << kAckShift));
  if (packet.crc) byte0 |= kCrcFlag;
  if (packet.reliable) byte0 |= kReliableFlag;
  const auto byte1 = static_cast<std::uint8_t>((packet.channel & kChannelMask) | ((length & 0x0F) << 4));
  const auto byte2 = static_cast<std::uint8_t>(length >> 4);

  std::vector<std::uint8_t> bytes;
  bytes.reserve(kHeaderSize + length + kCrcSize);
  bytes.push_back(byte0);
  bytes.push_back(byte1);
  bytes.push_back(byte2);
  bytes.push_back(HeaderCheck(byte0, byte1, byte2));
  bytes.insert(bytes.end(), packet.payload.begin(), packet.payload.begin() + static_cast<std::ptrdiff_t>(length));
  if (packet.crc) {
    const std::uint16_t crc = Crc16CcittFalse(bytes.data(), bytes.size());
    bytes.push_back(static_cast<std::uint8_t>(crc >> 8));
    bytes.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  }
  return bytes;
}

DecodeResult DecodePacket(const std::uint8_t* data, std::size_t size, Packet* out) {
  if (size < kHeaderSize) return DecodeResult::kTooShort;
  if (HeaderCheck(data[0], data[1], data[2]) != data[3]) return DecodeResult::kBadHeader;

  const bool crc = (data[0] & kCrcFlag) != 0;
  const std::size_t length = PayloadLength(data[1], data[2]);
  if (size != kHeaderSize + length + (crc ? kCrcSize : 0)) return DecodeResult::kBadLength;
  if (crc) {
    const std::size_t covered = kHeaderSize + length;
    const std::uint16_t sent = static_cast<std::uint16_t>((data[covered] << 8) | data[covered + 1]);
    if (Crc16CcittFalse(data, covered) != sent) return DecodeResult::kBadCrc;
  }

  out->seq = data[0] & kSeqMask;
  out->ack = (data[0] >> kAckShift) & kSeqMask;
  out->crc = crc;
  out->reliable = (data[0] & kReliableFlag) != 0;
  out->channel = data[1] & kChannelMask;
  out->payload.assign(data + kHeaderSize, data + kHeaderSize + length);
  return DecodeResult::kOk;
}

}  // namespace bcsp
