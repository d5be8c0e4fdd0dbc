// How one ReadFile waits under the handle's COMMTIMEOUTS, as Windows' serial
// drivers have it: a pure function of the time-outs, the count asked for and
// where the read stands. No clock is read here; the caller passes its times
// in, so the rules can be checked over a table of cases.
//
//   read_rule_for(timeouts, count)          which kind of wait one read is
//   next_read_step(rule, count, progress)   return now, or wait until when
#ifndef CORVANE_PLATFORM_POSIX_READ_RULES_H
#define CORVANE_PLATFORM_POSIX_READ_RULES_H

#include <cstdint>

#include "platform/posix/win32_subset.h"

namespace corvane_posix {

// The wait of one read; times in nanoseconds.
struct ReadRule {
  bool return_at_once = false;  // return with what is there, never wait
  bool return_on_any = false;   // return as soon as at least one byte is in
  bool has_total = false;       // the read ends `total_ns` after it began
  std::int64_t total_ns = 0;
  bool has_interval = false;     // ... or `interval_ns` after the latest byte
  std::int64_t interval_ns = 0;  // without the next one
};

// The rule for a read of `count` bytes under `timeouts` (the table is in
// read_rules.cpp). Products too large for any wait saturate at a limit far
// beyond one (about 73 years) instead of overflowing.
ReadRule read_rule_for(const COMMTIMEOUTS& timeouts, DWORD count);

// Where a read stands, in nanoseconds on any one clock.
struct ReadProgress {
  DWORD got = 0;                  // bytes in so far
  std::int64_t began_ns = 0;      // when the read began
  std::int64_t last_byte_ns = 0;  // when the latest bytes came; read only when got > 0
  std::int64_t now_ns = 0;
};

// What the read does next.
struct ReadStep {
  bool finished = false;           // return now, with `got` bytes (a time-out is no failure)
  bool wait_forever = false;       // else wait for the device with no end in time,
  std::int64_t wait_until_ns = 0;  // or until this time, then ask again
};

// Returns finished once `count` bytes are in, at once for a rule that never
// waits, as soon as a byte is in for a rule that returns on any, and once
// `now_ns` reaches the end of the total time or of the interval after the
// latest byte; otherwise the earlier of those two ends to wait for (or
// wait_forever when there is neither).
ReadStep next_read_step(const ReadRule& rule, DWORD count, const ReadProgress& progress);

}  // namespace corvane_posix

#endif
