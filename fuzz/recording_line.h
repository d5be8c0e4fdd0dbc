// A line toward the host that keeps what the module hands it: every Send as
// it came, nothing paced, nothing ever queued.
#ifndef CORVANE_FUZZ_RECORDING_LINE_H
#define CORVANE_FUZZ_RECORDING_LINE_H

#include <cstddef>
#include <vector>

#include "emulator/line_output.h"

namespace fuzzcheck {

class RecordingLine : public emulator::LineOutput {
 public:
  void Send(const emulator::Bytes& bytes, emulator::TimePoint) override { sends.push_back(bytes); }
  std::size_t Queued() const override { return 0; }
  unsigned Baud() const override { return emulator::kFastBaud; }

  std::vector<emulator::Bytes> sends;
};

}  // namespace fuzzcheck

#endif
