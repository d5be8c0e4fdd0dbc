// Packets of the module link: the 4-byte header (seq, ack, CRC flag, reliable
// flag, channel, 12-bit payload length, header check), the payload and the
// optional CRC. No I/O here: the host library and the module side both use it.
#ifndef CORVANE_BCSP_PACKET_H
#define CORVANE_BCSP_PACKET_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bcsp {

constexpr std::uint8_t kChannelAck = 0;       // unreliable, empty payload
constexpr std::uint8_t kChannelLink = 1;      // unreliable, SYNC/SYNA/CONF/CONA
constexpr std::uint8_t kChannelSettings = 2;  // reliable

constexpr std::size_t kHeaderSize = 4;
constexpr std::size_t kCrcSize = 2;
constexpr std::size_t kMaxPayloadSize = 4095;

struct Packet {
  std::uint8_t seq = 0;  // 0..7; 0 in an unreliable packet
  std::uint8_t ack = 0;  // 0..7: the seq the sender expects next
  bool crc = false;
  bool reliable = false;
  std::uint8_t channel = 0;  // 0..15
  std::vector<std::uint8_t> payload;
};

// 0xFF - ((byte0 + byte1 + byte2) mod 256).
std::uint8_t HeaderCheck(std::uint8_t byte0, std::uint8_t byte1, std::uint8_t byte2);

// The packet's bytes (header, payload, CRC high byte first when crc is set),
// ready for SlipEncode. The payload must not exceed kMaxPayloadSize.
std::vector<std::uint8_t> EncodePacket(const Packet& packet);

// Why DecodePacket refused a frame.
enum class DecodeResult {
  kOk,
  kTooShort,   // fewer bytes than a header
  kBadHeader,  // header check failed
  kBadLength,  // payload length disagrees with the frame's size
  kBadCrc,     // CRC flag set and the CRC is wrong
};

// Decodes one unescaped frame into *out. Anything but kOk means the frame is
// dropped without an answer; *out is then unspecified.
DecodeResult DecodePacket(const std::uint8_t* data, std::size_t size, Packet* out);

}  // namespace bcsp

#endif
