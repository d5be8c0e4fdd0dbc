#include "fuzz/reference_deframer.h"

namespace fuzzref {
namespace {

const std::uint8_t kEnd = 0xC0;
const std::uint8_t kEsc = 0xDB;
// Header, the longest payload, CRC.
const std::size_t kLongestPacket = 4 + 4095 + 2;

// The bytes between two 0xC0, unescaped. False when they break a rule; a
// segment that stops right after an escape byte is not at fault yet unless
// it was closed there.
bool Unescape(const std::uint8_t* data, std::size_t size, bool closed, Bytes* packet) {
  packet->clear();
  for (std::size_t i = 0; i < size; ++i) {
    std::uint8_t byte = data[i];
    if (byte == kEsc) {
      if (i + 1 == size) return !closed;
      const std::uint8_t next = data[++i];
      if (next == 0xDC)
        byte = kEnd;
      else if (next == 0xDD)
        byte = kEsc;
      else
        return false;
    }
    if (packet->size() == kLongestPacket) return false;
    packet->push_back(byte);
  }
  return true;
}

}  // namespace

Deframed Deframe(const std::uint8_t* data, std::size_t size) {
  Deframed result;
  std::size_t open = 0;
  while (open < size && data[open] != kEnd) ++open;
  while (open < size) {
    std::size_t close = open + 1;
    while (close < size && data[close] != kEnd) ++close;
    const bool closed = close < size;
    Bytes packet;
    if (!Unescape(data + open + 1, close - open - 1, closed, &packet))
      ++result.dropped;
    else if (closed && !packet.empty())
      result.frames.push_back(WireFrame{packet, open, close});
    open = close;
  }
  return result;
}

}  // namespace fuzzref
