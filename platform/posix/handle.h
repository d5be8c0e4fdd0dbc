// The record behind a HANDLE of this layer, and the lookup that checks one.
#ifndef CORVANE_PLATFORM_POSIX_HANDLE_H
#define CORVANE_PLATFORM_POSIX_HANDLE_H

#include "platform/posix/win32_subset.h"

namespace corvane_posix {

struct PortRecord {
  int fd = -1;
  // TIOCEXCL was set by us and must be cleared before the close: on a
  // pseudo-terminal the flag outlives the descriptor.
  bool exclusive_flag_set = false;
  // Held with flock(LOCK_EX) for the lifetime of the handle.
  bool locked = false;
  COMMTIMEOUTS timeouts = {};
  // What the last successful SetCommState asked for. Fields that termios
  // cannot hold are reported back from here, so a read-modify-write of the
  // DCB keeps them; the DTR and RTS control modes live here too.
  DCB remembered = {};
};

// Makes `record` known as a live handle and returns it as a HANDLE.
HANDLE register_record(PortRecord* record);

// The live record behind `handle`, or nullptr (with the last error set to
// ERROR_INVALID_HANDLE, from EBADF) for INVALID_HANDLE_VALUE, nullptr, a
// closed handle or anything else this layer did not hand out.
PortRecord* record_of(HANDLE handle);

// Removes `handle` from the live set and returns its record for the caller to
// free; nullptr (last error ERROR_INVALID_HANDLE) when it is not a live
// handle.
PortRecord* unregister_record(HANDLE handle);

// The end of a ReadFile or WriteFile: the count of bytes moved goes to the
// caller's counter (which may be nullptr) whatever the result.
inline BOOL finish_transfer(BOOL result, DWORD count, LPDWORD counted) {
  if (counted != nullptr) *counted = count;
  return result;
}

}  // namespace corvane_posix

#endif
