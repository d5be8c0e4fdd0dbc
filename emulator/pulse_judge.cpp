#include "emulator/pulse_judge.h"

namespace emulator {
namespace {

constexpr LineState kFirst{false, true};    // RTS low, DTR high
constexpr LineState kSecond{false, false};  // DTR low
constexpr LineState kThird{false, true};    // DTR high again
constexpr LineState kLast{true, true};      // RTS high: the reply comes in this step
constexpr LineState kSteps[] = {kFirst, kSecond, kThird};

struct Step {
  Duration start;
  LineState state;
};

std::vector<Step> StepsOf(LineState at_open, const std::vector<LineChange>& changes) {
  std::vector<Step> steps{{Duration{0}, at_open}};
  for (const LineChange& change : changes) {
    if (change.state != steps.back().state) steps.push_back({change.at, change.state});
  }
  return steps;
}

std::string Sequence(const std::vector<Step>& steps, std::size_t from, std::size_t to) {
  std::string text;
  for (std::size_t i = from; i <= to; ++i) {
    if (!text.empty()) text += " -> ";
    text += "(" + Describe(steps[i].state) + ")";
  }
  return text;
}

// The verdict on the sequence that ends by entering the last step at index i.
PulseVerdict JudgeEnding(const std::vector<Step>& steps, std::size_t i, Duration observed_until,
                         const PulseRules& rules) {
  PulseVerdict verdict;
  const std::size_t from = i >= 3 ? i - 3 : 0;
  if (i < 3 || steps[i - 3].state != kFirst || steps[i - 2].state != kSecond || steps[i - 1].state != kThird) {
    verdict.why =
        "out of order: RTS rose at " + MillisecondsText(steps[i].start) + " after " + Sequence(steps, from, i - 1);
    return verdict;
  }
  for (std::size_t k = 0; k < 3; ++k) {
    const Duration held = steps[from + k + 1].start - steps[from + k].start;
    if (held < rules.step - rules.short_by || held > rules.step + rules.long_by) {
      verdict.why = "step " + std::to_string(k + 1) + " (" + Describe(kSteps[k]) + ") held " + MillisecondsText(held) +
                    ", wanted " + MillisecondsText(rules.step - rules.short_by) + " to " +
                    MillisecondsText(rules.step + rules.long_by);
      return verdict;
    }
  }
  verdict.last_step_at = steps[i].start;
  verdict.reply_at = steps[i].start + rules.reply_after;
  const bool changed_later = i + 1 < steps.size();
  const Duration last_held = (changed_later ? steps[i + 1].start : observed_until) - steps[i].start;
  if (last_held >= rules.reply_after) {
    verdict.outcome = PulseOutcome::kAccepted;
  } else if (changed_later) {
    verdict.why = "the last step (" + Describe(kLast) + ") ended after " + MillisecondsText(last_held) +
                  ", before the reply was due";
  } else {
    verdict.outcome = PulseOutcome::kPending;
  }
  return verdict;
}

}  // namespace

PulseVerdict JudgePulses(LineState at_open, const std::vector<LineChange>& changes, Duration observed_until,
                         const PulseRules& rules) {
  const std::vector<Step> steps = StepsOf(at_open, changes);
  PulseVerdict latest;
  bool tried = false;
  for (std::size_t i = 1; i < steps.size(); ++i) {
    if (steps[i].state != kLast) continue;
    tried = true;
    latest = JudgeEnding(steps, i, observed_until, rules);
    if (latest.outcome != PulseOutcome::kRejected) return latest;
  }
  if (tried) return latest;
  PulseVerdict none;
  none.why = steps.size() == 1 ? "the lines never changed after the open"
                               : "RTS never rose with DTR high; the lines went " + Sequence(steps, 0, steps.size() - 1);
  return none;
}

}  // namespace emulator
