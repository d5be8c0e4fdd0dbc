// The emulated devices' way onto the line toward the host: bytes handed over
// here leave at the line's current rate, one byte time each.
#ifndef CORVANE_EMULATOR_LINE_OUTPUT_H
#define CORVANE_EMULATOR_LINE_OUTPUT_H

#include <cstddef>

#include "emulator/byte_text.h"
#include "emulator/line_time.h"

namespace emulator {

class LineOutput {
 public:
  virtual ~LineOutput() = default;
  virtual void Send(const Bytes& bytes, TimePoint now) = 0;
  // Bytes handed over and not yet on their way to the host.
  virtual std::size_t Queued() const = 0;
  virtual unsigned Baud() const = 0;
};

}  // namespace emulator

#endif
