#include "emulator/paced_queue.h"

#include <algorithm>

namespace emulator {

void PacedQueue::Push(const std::uint8_t* data, std::size_t size, unsigned baud, TimePoint now) {
  const Duration byte_time = ByteTime(baud);
  for (std::size_t i = 0; i < size; ++i) {
    wire_free_ = std::max(wire_free_, now) + byte_time;
    entries_.push_back(Entry{wire_free_, PacedByte{data[i], baud}});
  }
}

std::vector<PacedByte> PacedQueue::TakeDue(TimePoint now) {
  std::vector<PacedByte> due;
  while (!entries_.empty() && entries_.front().due <= now) {
    due.push_back(entries_.front().byte);
    entries_.pop_front();
  }
  return due;
}

std::vector<PacedByte> PacedQueue::TakeAll() {
  std::vector<PacedByte> all;
  for (const Entry& entry : entries_) all.push_back(entry.byte);
  entries_.clear();
  return all;
}

std::optional<TimePoint> PacedQueue::NextDue() const {
  if (entries_.empty()) return std::nullopt;
  return entries_.front().due;
}

void PacedQueue::Clear() {
  entries_.clear();
  wire_free_ = TimePoint{};
}

}  // namespace emulator
