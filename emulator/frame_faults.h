// Which frames of one direction of the module link are lost or corrupted on
// purpose: chosen ones counted from 1, and frames lost at random from a
// seeded generator of this direction's own, which draws once per frame so
// that the same seed loses the same frames. And how a frame is corrupted so
// that its receiver must notice.
#ifndef CORVANE_EMULATOR_FRAME_FAULTS_H
#define CORVANE_EMULATOR_FRAME_FAULTS_H

#include <random>

#include "emulator/byte_text.h"
#include "emulator/options.h"

namespace emulator {

enum class FrameFate { kDeliver, kLose, kCorrupt };

// The two directions draw from different streams of the same seed.
enum class LinkDirection : unsigned { kFromHost = 0, kToHost = 1 };

class FrameFaults {
 public:
  FrameFaults(const DirectionFaults& faults, const RandomLoss& loss, LinkDirection direction);
  // The fate of the next frame; a frame both lost and corrupted is lost.
  FrameFate Next();
  unsigned count() const { return count_; }

 private:
  bool Matches(const FrameFaultRule& rule) const;
  bool LosesAtRandom();

  const DirectionFaults& faults_;
  std::uint64_t loss_threshold_;  // a draw below it loses the frame
  std::mt19937 random_;
  unsigned count_ = 0;
};

// Flips one bit of an unescaped packet: the CRC's low byte when the packet
// carries a CRC, else the header check.
void CorruptPacket(Bytes* packet);

}  // namespace emulator

#endif
