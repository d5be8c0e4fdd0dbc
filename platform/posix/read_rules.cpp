#include "platform/posix/read_rules.h"

#include <cstdint>

namespace corvane_posix {

namespace {

constexpr std::int64_t ns_per_ms = 1000000;
// About 73 years: longer than any wait that can end, small enough that a
// clock reading plus two of it cannot overflow.
constexpr std::int64_t longest_wait_ns = INT64_MAX / 4;

std::int64_t wait_ns(std::uint64_t ms) {
  std::uint64_t limit_ms = static_cast<std::uint64_t>(longest_wait_ns / ns_per_ms);
  return ms >= limit_ms ? longest_wait_ns : static_cast<std::int64_t>(ms) * ns_per_ms;
}

// multiplier × count + constant fits 64 bits: both factors are below 2^32.
std::int64_t total_ns(DWORD multiplier, DWORD count, DWORD constant) {
  return wait_ns(static_cast<std::uint64_t>(multiplier) * count + constant);
}

}  // namespace

// The combinations, as Windows' serial driver sorts them (interval I,
// multiplier M, constant C, all in ms; n bytes asked for):
//   I = MAXDWORD, M = 0, C = 0: return at once with what is there.
//   I = MAXDWORD, C ≠ MAXDWORD, M ≠ MAXDWORD: return as soon as any byte is
//     in; with none, time out after M × n + C.
//   I = MAXDWORD, C ≠ MAXDWORD, M = MAXDWORD: the same, with C in all.
//   I = MAXDWORD, C = MAXDWORD: the driver sets no timer at all; the read
//     waits for n bytes.
//   any other I: a total limit of M × n + C unless both are 0, and, unless I
//     is 0, an interval limit of I after each byte (none before the first).
// Wine (8.0) differs in the two middle cases: it waits out the whole total
// even with bytes waiting at the start.
ReadRule read_rule_for(const COMMTIMEOUTS& timeouts, DWORD count) {
  ReadRule rule;
  DWORD interval = timeouts.ReadIntervalTimeout;
  DWORD multiplier = timeouts.ReadTotalTimeoutMultiplier;
  DWORD constant = timeouts.ReadTotalTimeoutConstant;
  if (interval == MAXDWORD) {
    if (multiplier == 0 && constant == 0) {
      rule.return_at_once = true;
    } else if (constant != MAXDWORD) {
      rule.return_on_any = true;
      rule.has_total = true;
      rule.total_ns = multiplier == MAXDWORD ? total_ns(0, count, constant) : total_ns(multiplier, count, constant);
    }
    return rule;
  }
  if (multiplier != 0 || constant != 0) {
    rule.has_total = true;
    rule.total_ns = total_ns(multiplier, count, constant);
  }
  if (interval != 0) {
    rule.has_interval = true;
    rule.interval_ns = wait_ns(interval);
  }
  return rule;
}

ReadStep next_read_step(const ReadRule& rule, DWORD count, const ReadProgress& progress) {
  ReadStep step;
  if (progress.got >= count || rule.return_at_once || (rule.return_on_any && progress.got > 0)) {
    step.finished = true;
    return step;
  }
  // The interval runs from the latest byte, so only once one has come.
  bool has_end = false;
  std::int64_t end_ns = 0;
  if (rule.has_total) {
    has_end = true;
    end_ns = progress.began_ns + rule.total_ns;
  }
  if (rule.has_interval && progress.got > 0) {
    std::int64_t interval_end_ns = progress.last_byte_ns + rule.interval_ns;
    if (!has_end || interval_end_ns < end_ns) end_ns = interval_end_ns;
    has_end = true;
  }
  if (!has_end) {
    step.wait_forever = true;
    return step;
  }
  if (progress.now_ns >= end_ns) {
    step.finished = true;
    return step;
  }
  step.wait_until_ns = end_ns;
  return step;
}

}  // namespace corvane_posix
