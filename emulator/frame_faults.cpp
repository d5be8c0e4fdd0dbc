#include "emulator/frame_faults.h"

#include "bcsp/packet.h"

namespace emulator {
namespace {

// mt19937 draws 32 bits, and its output (unlike that of the standard
// distributions) is the same in every library: a plain comparison keeps a
// seed's losses the same everywhere.
constexpr double kDrawRange = 4294967296.0;

std::mt19937 SeededGenerator(const RandomLoss& loss, LinkDirection direction) {
  std::seed_seq seeds{loss.seed, static_cast<std::uint32_t>(direction)};
  return std::mt19937(seeds);
}

}  // namespace

FrameFaults::FrameFaults(const DirectionFaults& faults, const RandomLoss& loss, LinkDirection direction)
    : faults_(faults),
      loss_threshold_(static_cast<std::uint64_t>(loss.probability * kDrawRange)),
      random_(SeededGenerator(loss, direction)) {}

FrameFate FrameFaults::Next() {
  ++count_;
  // Drawn for every frame, so that the nth frame's fate does not depend on
  // the other rules.
  const bool random_loss = LosesAtRandom();
  if (Matches(faults_.lose) || random_loss) return FrameFate::kLose;
  if (Matches(faults_.corrupt)) return FrameFate::kCorrupt;
  return FrameFate::kDeliver;
}

bool FrameFaults::Matches(const FrameFaultRule& rule) const {
  return rule.nth.count(count_) > 0 || (rule.every > 0 && count_ % rule.every == 0);
}

bool FrameFaults::LosesAtRandom() { return static_cast<std::uint64_t>(random_()) < loss_threshold_; }

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
