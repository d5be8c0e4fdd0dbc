#include "emulator/frame_faults.h"

#include "testlib/packet.h"

namespace emulator {

FrameFate FrameFaults::Next() {
  ++count_;
  if (Matches(faults_.lose)) return FrameFate::kLose;
  if (Matches(faults_.corrupt)) return FrameFate::kCorrupt;
  return FrameFate::kDeliver;
}

bool FrameFaults::Matches(const FrameFaultRule& rule) const {
  return rule.nth.count(count_) > 0 || (rule.every > 0 && count_ % rule.every == 0);
}

void CorruptPacket(Bytes* packet) {
  if (packet->empty()) return;
  const bool has_crc = ((*packet)[0] & 0x40) != 0;
  if (has_crc && packet->size() >= bcsp::kHeaderSize + bcsp::kCrcSize) {
    packet->back() ^= 0x01;
  } else if (packet->size() >= bcsp::kHeaderSize) {
    (*packet)[3] ^= 0x01;
  } else {
    (*packet)[0] ^= 0x01;
  }
}

}  // namespace emulator
