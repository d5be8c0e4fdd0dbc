// The module link's framing rules applied to a whole byte stream at once, as a
// reference for the incremental decoder: the frames a receiver keeps, where
// each sat on the wire, and how many it had to drop.
#ifndef CORVANE_FUZZ_REFERENCE_DEFRAMER_H
#define CORVANE_FUZZ_REFERENCE_DEFRAMER_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fuzzref {

using Bytes = std::vector<std::uint8_t>;

struct WireFrame {
  Bytes packet;       // unescaped
  std::size_t open;   // offset of the 0xC0 before it
  std::size_t close;  // offset of the 0xC0 after it
};

struct Deframed {
  std::vector<WireFrame> frames;
  // Frames with a bad escape or too long, the unfinished one at the end
  // included once its fault has arrived.
  std::size_t dropped = 0;
};

Deframed Deframe(const std::uint8_t* data, std::size_t size);

}  // namespace fuzzref

#endif
