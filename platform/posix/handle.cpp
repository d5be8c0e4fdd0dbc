#include "platform/posix/handle.h"

#include <cerrno>
#include <mutex>
#include <unordered_set>

#include "platform/posix/last_error.h"

namespace corvane_posix {

namespace {

// Handles are checked against the set of live records instead of being
// dereferenced on trust, so a stale or foreign handle is an EBADF failure
// rather than undefined behaviour.
struct LiveRecords {
  std::mutex mutex;
  std::unordered_set<PortRecord*> records;
};

LiveRecords& live_records() {
  static LiveRecords live;
  return live;
}

}  // namespace

HANDLE register_record(PortRecord* record) {
  LiveRecords& live = live_records();
  std::lock_guard<std::mutex> lock(live.mutex);
  live.records.insert(record);
  return static_cast<HANDLE>(record);
}

PortRecord* record_of(HANDLE handle) {
  LiveRecords& live = live_records();
  std::lock_guard<std::mutex> lock(live.mutex);
  auto found = live.records.find(static_cast<PortRecord*>(handle));
  if (found == live.records.end()) {
    fail(EBADF);
    return nullptr;
  }
  return *found;
}

PortRecord* unregister_record(HANDLE handle) {
  LiveRecords& live = live_records();
  std::lock_guard<std::mutex> lock(live.mutex);
  auto found = live.records.find(static_cast<PortRecord*>(handle));
  if (found == live.records.end()) {
    fail(EBADF);
    return nullptr;
  }
  PortRecord* record = *found;
  live.records.erase(found);
  return record;
}

}  // namespace corvane_posix
