// Bytes in flight on one direction of the line. A pseudo-terminal moves bytes
// at no rate at all, so every byte is given the moment its stop bit would
// leave a real wire: one byte time after the previous byte, or after it was
// handed over if the wire was idle.
#ifndef CORVANE_EMULATOR_PACED_QUEUE_H
#define CORVANE_EMULATOR_PACED_QUEUE_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "emulator/line_time.h"

namespace emulator {

struct PacedByte {
  std::uint8_t byte = 0;
  unsigned baud = 0;  // the rate the byte travelled at
};

class PacedQueue {
 public:
  void Push(const std::uint8_t* data, std::size_t size, unsigned baud, TimePoint now);
  // Removes and returns, in order, every byte whose time has come.
  std::vector<PacedByte> TakeDue(TimePoint now);
  // Removes and returns everything, due or not.
  std::vector<PacedByte> TakeAll();
  std::optional<TimePoint> NextDue() const;
  std::size_t size() const { return entries_.size(); }
  // Drops everything in flight; the wire is idle again.
  void Clear();

 private:
  struct Entry {
    TimePoint due;
    PacedByte byte;
  };
  std::deque<Entry> entries_;
  TimePoint wire_free_{};
};

}  // namespace emulator

#endif
