// SLIP framing of the module link: a packet travels as 0xC0, its bytes
// escaped (0xC0 as 0xDB 0xDC, 0xDB as 0xDB 0xDD), 0xC0. No I/O here: the host
// library and the module side (the emulator) both use it.
#ifndef CORVANE_BCSP_SLIP_H
#define CORVANE_BCSP_SLIP_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bcsp {

constexpr std::uint8_t kSlipEnd = 0xC0;
constexpr std::uint8_t kSlipEsc = 0xDB;
constexpr std::uint8_t kSlipEscEnd = 0xDC;
constexpr std::uint8_t kSlipEscEsc = 0xDD;

// The longest packet a frame may carry once unescaped: header, 4095 payload
// bytes, CRC.
constexpr std::size_t kMaxPacketSize = 4 + 4095 + 2;

// The whole frame for one packet: opening 0xC0, escaped bytes, closing 0xC0.
std::vector<std::uint8_t> SlipEncode(const std::vector<std::uint8_t>& packet);

// Assembles frames from a byte stream, one byte at a time. Bytes before the
// first 0xC0 and between frames are ignored, empty frames are ignored, the
// closing 0xC0 of one frame may open the next; a frame with a bad escape or
// longer than kMaxPacketSize is dropped and the decoder resynchronises on the
// next 0xC0.
class SlipDecoder {
 public:
  // Takes one byte. Returns true when it completed a frame; the frame's
  // unescaped bytes are then in frame() until the next call.
  bool Push(std::uint8_t byte);
  const std::vector<std::uint8_t>& frame() const { return frame_; }
  // Forgets any partial frame and waits for the next 0xC0.
  void Reset();
  // Frames dropped so far for a bad escape or for their size.
  std::size_t dropped() const { return dropped_; }

 private:
  void Append(std::uint8_t byte);
  void Drop();

  enum class State { kHunting, kInFrame, kEscape, kDiscarding };
  State state_ = State::kHunting;
  std::vector<std::uint8_t> partial_;
  std::vector<std::uint8_t> frame_;
  std::size_t dropped_ = 0;
};

}  // namespace bcsp

#endif
