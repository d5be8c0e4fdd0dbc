// The SLIP deframer and the packet parser fed an arbitrary byte stream.
//
// Properties, strongest first:
//  - The decoder keeps exactly the frames the framing rules keep, in order,
//    and drops as many as they drop.
//  - Every kept frame re-encodes to the very bytes it came from on the wire,
//    from its opening 0xC0 to its closing one (escaping has one form only).
//  - Every packet the parser accepts encodes back to the same frame bytes, and
//    it accepts every frame whose header check, length and CRC are right.
//  - A settings payload that decodes as a request or an answer encodes back to
//    the same payload.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "bcsp/crc16.h"
#include "bcsp/packet.h"
#include "bcsp/settings_message.h"
#include "bcsp/slip.h"
#include "fuzz/fuzz_assert.h"
#include "fuzz/reference_deframer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The packet rules on their own: header check, length against the frame's
// size, and the CRC when its flag is set.
bool PacketIsWellFormed(const Bytes& frame) {
  if (frame.size() < 4) return false;
  if ((std::uint8_t)(frame[0] + frame[1] + frame[2] + frame[3]) != 0xFF) return false;
  const bool crc = (frame[0] & 0x40) != 0;
  const std::size_t length = (frame[1] >> 4) | ((std::size_t)frame[2] << 4);
  if (frame.size() != 4 + length + (crc ? 2 : 0)) return false;
  if (!crc) return true;
  const std::uint16_t sent = (std::uint16_t)((frame[4 + length] << 8) | frame[5 + length]);
  return bcsp::Crc16CcittFalse(frame.data(), 4 + length) == sent;
}

void CheckSettingsPayload(const Bytes& payload) {
  bcsp::WriteRequest request;
  if (bcsp::DecodeWriteRequest(payload.data(), payload.size(), &request))
    FUZZ_ASSERT(bcsp::EncodeWriteRequest(request) == payload, "a decoded request encodes back");
  bcsp::WriteAnswer answer;
  if (bcsp::DecodeWriteAnswer(payload.data(), payload.size(), &answer))
    FUZZ_ASSERT(bcsp::EncodeWriteAnswer(answer) == payload, "a decoded answer encodes back");
}

void CheckPacket(const Bytes& frame) {
  bcsp::Packet packet;
  const bool accepted = bcsp::DecodePacket(frame.data(), frame.size(), &packet) == bcsp::DecodeResult::kOk;
  FUZZ_ASSERT(accepted == PacketIsWellFormed(frame), "the parser accepts exactly the well-formed packets");
  if (!accepted) return;
  FUZZ_ASSERT(bcsp::EncodePacket(packet) == frame, "an accepted packet encodes back to its frame");
  CheckSettingsPayload(packet.payload);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fuzzref::Deframed expected = fuzzref::Deframe(data, size);

  bcsp::SlipDecoder decoder;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < size; ++i) {
    if (!decoder.Push(data[i])) continue;
    FUZZ_ASSERT(kept < expected.frames.size(), "no frame the rules would not keep");
    const fuzzref::WireFrame& frame = expected.frames[kept++];
    FUZZ_ASSERT(frame.close == i, "a frame ends at its closing 0xC0");
    FUZZ_ASSERT(decoder.frame() == frame.packet, "the frame's bytes are the rules' bytes");

    const Bytes wire(data + frame.open, data + frame.close + 1);
    FUZZ_ASSERT(bcsp::SlipEncode(decoder.frame()) == wire, "a kept frame re-encodes to its wire bytes");
    CheckPacket(decoder.frame());
  }
  FUZZ_ASSERT(kept == expected.frames.size(), "every frame the rules keep is kept");
  FUZZ_ASSERT(decoder.dropped() == expected.dropped, "the frames dropped are the rules' ones");
  return 0;
}
