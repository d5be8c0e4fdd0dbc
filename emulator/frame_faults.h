// Which frames of one direction of the module link are lost or corrupted on
// purpose, counted from 1, and how a frame is corrupted so that its receiver
// must notice.
#ifndef CORVANE_EMULATOR_FRAME_FAULTS_H
#define CORVANE_EMULATOR_FRAME_FAULTS_H

#include "emulator/byte_text.h"
#include "emulator/options.h"

namespace emulator {

enum class FrameFate { kDeliver, kLose, kCorrupt };

class FrameFaults {
 public:
  explicit FrameFaults(const DirectionFaults& faults) : faults_(faults) {}
  // The fate of the next frame; a frame both lost and corrupted is lost.
  FrameFate Next();
  unsigned count() const { return count_; }

 private:
  bool Matches(const FrameFaultRule& rule) const;

  const DirectionFaults& faults_;
  unsigned count_ = 0;
};

// Flips one bit of an unescaped packet: the CRC's low byte when the packet
// carries a CRC, else the header check.
void CorruptPacket(Bytes* packet);

}  // namespace emulator

#endif
