// The adapter's judge of the pulses: sequences with their times since the
// open, and the verdict each gets.
#include "emulator/pulse_judge.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace emulator {
namespace {

using std::chrono::microseconds;

struct Step {
  double ms;
  bool rts;
  bool dtr;
};

struct Case {
  std::string name;
  std::vector<Step> steps;
  double observed_until_ms;
  PulseOutcome outcome;
  double reply_at_ms;  // for kAccepted and kPending
  std::string why;     // a part of the reason, for kRejected
};

std::ostream& operator<<(std::ostream& out, const Case& c) { return out << c.name; }

Duration Ms(double ms) { return microseconds(static_cast<long long>(ms * 1000)); }

// What the tool does: its open's settings lower DTR, then RTS; then the
// pulses, RTS off (no step: already low), DTR on, 200 ms, DTR off, 200 ms,
// DTR on, 200 ms, RTS on.
const std::vector<Step> kSettingsAtOpen = {{0.1, true, false}, {0.2, false, false}};

std::vector<Step> ToolPulses(double first, double second, double third, std::vector<Step> after = {}) {
  std::vector<Step> steps = kSettingsAtOpen;
  const double start = 1.0;
  steps.push_back({start, false, true});
  steps.push_back({start + first, false, false});
  steps.push_back({start + first + second, false, true});
  steps.push_back({start + first + second + third, true, true});
  steps.insert(steps.end(), after.begin(), after.end());
  return steps;
}

const std::vector<Case> kCases = {
    {"tool_sequence", ToolPulses(200, 200, 200), 800, PulseOutcome::kAccepted, 651, ""},
    {"reply_not_yet_due", ToolPulses(200, 200, 200), 620, PulseOutcome::kPending, 651, ""},
    // SetFastLine lowers DTR once the reply is under way: too late to matter.
    {"changes_after_the_reply", ToolPulses(200, 200, 200, {{900, true, false}, {1500, false, false}}), 2000,
     PulseOutcome::kAccepted, 651, ""},
    {"steps_at_the_tolerances", ToolPulses(150, 350, 150), 900, PulseOutcome::kAccepted, 701, ""},
    {"no_settings_before_the_pulses",
     {{0.5, false, true}, {200.5, false, false}, {400.5, false, true}, {600.5, true, true}},
     800,
     PulseOutcome::kAccepted,
     650.5,
     ""},
    // A report that leaves the lines as they were does not cut a step short.
    {"repeated_state_is_no_step",
     {{0.5, false, true}, {100, false, true}, {200.5, false, false}, {400.5, false, true}, {600.5, true, true}},
     800,
     PulseOutcome::kAccepted,
     650.5,
     ""},
    {"second_try_right",
     ToolPulses(200, 30, 200, {{700, false, true}, {900, false, false}, {1100, false, true}, {1300, true, true}}), 1500,
     PulseOutcome::kAccepted, 1350, ""},

    {"no_changes", {}, 2000, PulseOutcome::kRejected, 0, "never changed"},
    {"settings_only", kSettingsAtOpen, 2000, PulseOutcome::kRejected, 0, "RTS never rose"},
    {"three_steps_no_rts_rise",
     {{0.1, true, false}, {0.2, false, false}, {1, false, true}, {201, false, false}, {401, false, true}},
     2000,
     PulseOutcome::kRejected,
     0,
     "RTS never rose"},
    {"too_short_no_dtr_pulse",
     {{0.2, false, false}, {1, false, true}, {201, true, true}},
     800,
     PulseOutcome::kRejected,
     0,
     "out of order"},
    {"dtr_pulsed_with_rts_high",
     {{0.1, true, false}, {200, true, true}},
     800,
     PulseOutcome::kRejected,
     0,
     "out of order"},
    {"rts_and_dtr_swapped",
     {{0.1, false, false}, {1, true, false}, {201, false, false}, {401, true, false}, {601, true, true}},
     800,
     PulseOutcome::kRejected,
     0,
     "out of order"},
    {"first_step_far_too_long", ToolPulses(500, 200, 200), 1200, PulseOutcome::kRejected, 0, "step 1"},
    {"second_step_far_too_short", ToolPulses(200, 100, 200), 800, PulseOutcome::kRejected, 0, "step 2"},
    {"third_step_just_too_long", ToolPulses(200, 200, 351), 900, PulseOutcome::kRejected, 0, "step 3"},
    {"first_step_just_too_short", ToolPulses(149, 200, 200), 800, PulseOutcome::kRejected, 0, "step 1"},
    {"last_step_cut_before_the_reply", ToolPulses(200, 200, 200, {{620, true, false}}), 800, PulseOutcome::kRejected, 0,
     "last step"},
};

class JudgePulsesTest : public testing::TestWithParam<Case> {};

TEST_P(JudgePulsesTest, GivesTheVerdict) {
  const Case& c = GetParam();
  std::vector<LineChange> changes;
  for (const Step& step : c.steps) changes.push_back({Ms(step.ms), LineState{step.rts, step.dtr}});
  const PulseVerdict verdict = JudgePulses(kLinesAtOpen, changes, Ms(c.observed_until_ms));
  EXPECT_EQ(static_cast<int>(verdict.outcome), static_cast<int>(c.outcome)) << verdict.why;
  if (c.outcome == PulseOutcome::kRejected) {
    EXPECT_NE(verdict.why.find(c.why), std::string::npos) << verdict.why;
  } else {
    EXPECT_EQ(verdict.reply_at, Ms(c.reply_at_ms));
  }
}

INSTANTIATE_TEST_SUITE_P(Sequences, JudgePulsesTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST(JudgePulses, FollowsItsRules) {
  PulseRules rules;
  rules.step = std::chrono::milliseconds(100);
  rules.short_by = std::chrono::milliseconds(10);
  rules.long_by = std::chrono::milliseconds(10);
  rules.reply_after = std::chrono::milliseconds(20);
  const std::vector<LineChange> changes = {
      {Ms(0), {false, true}}, {Ms(100), {false, false}}, {Ms(200), {false, true}}, {Ms(300), {true, true}}};
  const PulseVerdict verdict = JudgePulses(kLinesAtOpen, changes, Ms(400), rules);
  EXPECT_EQ(verdict.outcome, PulseOutcome::kAccepted) << verdict.why;
  EXPECT_EQ(verdict.reply_at, Ms(320));
  // The same sequence is far too fast for the default 200 ms steps.
  EXPECT_EQ(JudgePulses(kLinesAtOpen, changes, Ms(400)).outcome, PulseOutcome::kRejected);
}

}  // namespace
}  // namespace emulator
