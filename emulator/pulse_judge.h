// The adapter's test of the host's Plug-and-Play pulses: after the open it
// must see RTS low with DTR high, then DTR low, then DTR high, then RTS high,
// the first three steps each held for one step time (within the tolerances),
// and the last one still held when its reply is due. Steps are states, not
// calls: a call that leaves both lines as they were is no step, and whatever
// the lines did before the first step (a port's settings being applied, say)
// does not count against the sequence.
#ifndef CORVANE_EMULATOR_PULSE_JUDGE_H
#define CORVANE_EMULATOR_PULSE_JUDGE_H

#include <chrono>
#include <string>
#include <vector>

#include "emulator/line_time.h"
#include "emulator/modem_line_state.h"

namespace emulator {

struct LineChange {
  Duration at;  // since the open
  LineState state;
};

struct PulseRules {
  Duration step = std::chrono::milliseconds(200);
  // A host's sleep never ends early but may end late when its machine is
  // busy: a step cut short is judged more strictly than one held too long.
  Duration short_by = std::chrono::milliseconds(50);
  Duration long_by = std::chrono::milliseconds(150);
  // How far into the last step the reply starts.
  Duration reply_after = std::chrono::milliseconds(50);
};

enum class PulseOutcome {
  kAccepted,  // the reply is due at reply_at and the last step lasted until then
  kPending,   // the sequence is right so far; the reply is due at reply_at unless the lines change first
  kRejected,  // no reply; why says what was wrong
};

struct PulseVerdict {
  PulseOutcome outcome = PulseOutcome::kRejected;
  Duration last_step_at{};  // since the open: when RTS rose, for kAccepted and kPending
  Duration reply_at{};      // since the open
  std::string why;
};

// Judges the changes since the open (in time order) as seen up to
// observed_until, also since the open. The first right sequence wins.
PulseVerdict JudgePulses(LineState at_open, const std::vector<LineChange>& changes, Duration observed_until,
                         const PulseRules& rules = PulseRules{});

}  // namespace emulator

#endif
