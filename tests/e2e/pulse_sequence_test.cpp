// The adapter judges the pulses it is sent: a stand-in host (pulse_program)
// drives the modem lines through the emulator's preloaded library, and only
// the right sequence gets the Plug-and-Play reply; --any-pulses and
// --no-modem-lines answer on the timer whatever the lines did.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/bounded_process.h"
#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

const std::string kReply = "reply: (10KVT3052)\n";
const std::string kNoReply = "no reply\n";

// What the tool does after its open (whose settings leave both lines low).
const std::vector<std::string> kRightPulses = {"dtr=0",    "rts=0", "wait=5",   "dtr=1", "wait=200", "dtr=0",
                                               "wait=200", "dtr=1", "wait=200", "rts=1", "wait=200"};

struct PulseRow {
  std::string name;
  std::vector<std::string> emulator_options;
  std::vector<std::string> steps;
  std::string output;
  std::string pulse_check;  // the report's
  bool accepted;            // the verdict; unused when the lines are not watched
  std::string why;          // a part of the verdict
};

std::ostream& operator<<(std::ostream& out, const PulseRow& row) { return out << row.name; }

const std::vector<PulseRow> kRows = {
    {"right_sequence", {}, kRightPulses, kReply, "judged", true, "accepted"},
    // One step later the reply is long under way: the lines no longer matter.
    {"right_sequence_then_more_changes",
     {},
     {"dtr=0", "rts=0", "wait=5", "dtr=1", "wait=200", "dtr=0", "wait=200", "dtr=1", "wait=200", "rts=1", "wait=200",
      "dtr=0", "rts=0"},
     kReply,
     "judged",
     true,
     "accepted"},
    {"no_pulses", {}, {}, kNoReply, "judged", false, "never changed"},
    {"too_short_without_dtr_pulse",
     {},
     {"dtr=0", "rts=0", "wait=5", "dtr=1", "wait=200", "rts=1", "wait=200"},
     kNoReply,
     "judged",
     false,
     "out of order"},
    {"out_of_order_rts_before_dtr",
     {},
     {"dtr=0", "rts=0", "wait=5", "rts=1", "wait=200", "rts=0", "wait=200", "dtr=1", "wait=200", "rts=1", "wait=200"},
     kNoReply,
     "judged",
     false,
     "out of order"},
    {"step_held_far_too_short",
     {},
     {"dtr=0", "rts=0", "wait=5", "dtr=1", "wait=200", "dtr=0", "wait=40", "dtr=1", "wait=200", "rts=1", "wait=200"},
     kNoReply,
     "judged",
     false,
     "step 2"},
    {"step_held_far_too_long",
     {},
     {"dtr=0", "rts=0", "wait=5", "dtr=1", "wait=200", "dtr=0", "wait=200", "dtr=1", "wait=500", "rts=1", "wait=200"},
     kNoReply,
     "judged",
     false,
     "step 3"},
    {"last_step_cut_short",
     {},
     {"dtr=0", "rts=0", "wait=5", "dtr=1", "wait=200", "dtr=0", "wait=200", "dtr=1", "wait=200", "rts=1", "rts=0",
      "wait=200"},
     kNoReply,
     "judged",
     false,
     "last step"},
    {"any_pulses_answers_a_wrong_sequence",
     {"--any-pulses"},
     {"dtr=0", "rts=0", "wait=5", "dtr=1", "wait=200", "rts=1", "wait=200"},
     kReply,
     "any pulses",
     false,
     "answered on the timer"},
    {"no_modem_lines_answers_on_the_timer", {"--no-modem-lines"}, {}, kReply, "timer", false, ""},
};

class PulseSequence : public testing::TestWithParam<PulseRow> {};

TEST_P(PulseSequence, GetsTheReplyOnlyWhenTheAdapterSaysSo) {
  const PulseRow& row = GetParam();
  ScratchDir scratch;
  const std::string json = scratch.File("report.json");
  std::vector<std::string> argv = {kEmulatorBinary, "--quiet", "--json", json};
  argv.insert(argv.end(), row.emulator_options.begin(), row.emulator_options.end());
  argv.push_back("--");
  argv.push_back(CORVANE_PULSE_PROGRAM);
  argv.insert(argv.end(), row.steps.begin(), row.steps.end());

  const ProcessResult run = RunBounded(argv, {}, kRunLimit);
  ASSERT_FALSE(run.timed_out) << run.out << run.err;
  EXPECT_EQ(run.exit_status, 0) << "the emulator itself failed: " << run.err;
  EXPECT_EQ(run.out, row.output) << run.err;

  Json report;
  std::string error;
  ASSERT_TRUE(ReadJsonFile(json, &report, &error)) << error;
  EXPECT_EQ(At(report, "command_exit"), row.output == kReply ? 0 : 3);
  EXPECT_EQ(At(report, "adapter/pulse_check"), row.pulse_check);
  EXPECT_EQ(At(report, "adapter/pnp_replies"), row.output == kReply ? 1 : 0);
  const Json& pulses = At(report, "adapter/pulses");
  if (row.pulse_check == "timer") {
    EXPECT_EQ(pulses, Json::array());
    return;
  }
  ASSERT_EQ(pulses.size(), 1u) << pulses;
  EXPECT_EQ(At(pulses, "0/open"), 1);
  const std::string verdict = At(pulses, "0/verdict").get<std::string>();
  EXPECT_EQ(At(pulses, "0/accepted"), row.accepted) << verdict;
  EXPECT_NE(verdict.find(row.why), std::string::npos) << verdict;

  // Every change of the lines that the program made is in the report, in
  // order: its steps replayed from the state a line has after its open
  // (both raised), each step that changes nothing left out.
  struct Lines {
    bool rts;
    bool dtr;
  };
  Lines lines{true, true};
  std::vector<Lines> expected;
  for (const std::string& step : row.steps) {
    if (step.rfind("wait=", 0) == 0) continue;
    Lines next = lines;
    (step.rfind("rts=", 0) == 0 ? next.rts : next.dtr) = step.back() == '1';
    if (next.rts != lines.rts || next.dtr != lines.dtr) expected.push_back(next);
    lines = next;
  }
  const Json& changes = At(pulses, "0/changes");
  ASSERT_EQ(changes.size(), expected.size()) << changes;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const std::string at = std::to_string(i) + "/";
    EXPECT_EQ(At(changes, at + "rts"), expected[i].rts) << "change " << i;
    EXPECT_EQ(At(changes, at + "dtr"), expected[i].dtr) << "change " << i;
    if (i > 0) {
      EXPECT_GE(At(changes, at + "ms").get<double>(), At(changes, std::to_string(i - 1) + "/ms").get<double>())
          << "change " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, PulseSequence, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<PulseRow>& info) { return info.param.name; });

}  // namespace
}  // namespace e2e
