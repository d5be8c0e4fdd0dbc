// The adapter judges the pulses it is sent: a stand-in host (pulse_program)
// drives the modem lines through the emulator's preloaded library, and only
// the right sequence gets the Plug-and-Play reply; --any-pulses and
// --no-modem-lines answer on the timer whatever the lines did.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/bounded_process.h"
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/json_value.h"

namespace e2e {
namespace {

const std::string kReply = "reply: (10KVT3052)\n";
const std::string kNoReply = "no reply\n";

// What the tool does after its open (whose settings leave both lines low).
const std::vector<std::string> kRightPulses = {"dtr=0", "rts=0", "wait=5",   "dtr=1", "wait=200", "dtr=0",
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
    {"right_sequence_then_more_changes", {}, {"dtr=0", "rts=0", "wait=5", "dtr=1", "wait=200", "dtr=0", "wait=200",
                                              "dtr=1", "wait=200", "rts=1", "wait=200", "dtr=0", "rts=0"},
     kReply, "judged", true, "accepted"},
    {"no_pulses", {}, {}, kNoReply, "judged", false, "never changed"},
    {"too_short_without_dtr_pulse", {}, {"dtr=0", "rts=0", "wait=5", "dtr=1", "wait=200", "rts=1", "wait=200"},
     kNoReply, "judged", false, "out of order"},
    {"out_of_order_rts_before_dtr", {}, {"dtr=0", "rts=0", "wait=5", "rts=1", "wait=200", "rts=0", "wait=200",
                                         "dtr=1", "wait=200", "rts=1", "wait=200"},
     kNoReply, "judged", false, "out of order"},
    {"step_held_far_too_short", {}, {"dtr=0", "rts=0", "wait=5", "dtr=1", "wait=200", "dtr=0", "wait=40", "dtr=1",
                                     "wait=200", "rts=1", "wait=200"},
     kNoReply, "judged", false, "step 2"},
    {"step_held_far_too_long", {}, {"dtr=0", "rts=0", "wait=5", "dtr=1", "wait=200", "dtr=0", "wait=200", "dtr=1",
                                    "wait=500", "rts=1", "wait=200"},
     kNoReply, "judged", false, "step 3"},
    {"last_step_cut_short", {}, {"dtr=0", "rts=0", "wait=5", "dtr=1", "wait=200", "dtr=0", "wait=200", "dtr=1",
                                 "wait=200", "rts=1", "rts=0", "wait=200"},
     kNoReply, "judged", false, "last step"},
    {"any_pulses_answers_a_wrong_sequence", {"--any-pulses"}, {"dtr=0", "rts=0", "wait=5", "dtr=1", "wait=200",
                                                               "rts=1", "wait=200"},
     kReply, "any pulses", false, "answered on the timer"},
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

  JsonValue report;
  std::string error;
  ASSERT_TRUE(ReadJsonFile(json, &report, &error)) << error;
  EXPECT_EQ(report["command_exit"].integer(), row.output == kReply ? 0 : 3);
  const JsonValue& adapter = report["adapter"];
  EXPECT_EQ(adapter["pulse_check"].text, row.pulse_check);
  EXPECT_EQ(adapter["pnp_replies"].integer(), row.output == kReply ? 1 : 0);
  const JsonValue& pulses = adapter["pulses"];
  if (row.pulse_check == "timer") {
    EXPECT_TRUE(pulses.items.empty());
    return;
  }
  ASSERT_EQ(pulses.items.size(), 1u);
  EXPECT_EQ(pulses[0]["open"].integer(), 1);
  EXPECT_EQ(pulses[0]["accepted"].boolean, row.accepted) << pulses[0]["verdict"].text;
  EXPECT_NE(pulses[0]["verdict"].text.find(row.why), std::string::npos) << pulses[0]["verdict"].text;

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
  const JsonValue& changes = pulses[0]["changes"];
  ASSERT_EQ(changes.items.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(changes[i]["rts"].boolean, expected[i].rts) << "change " << i;
    EXPECT_EQ(changes[i]["dtr"].boolean, expected[i].dtr) << "change " << i;
    if (i > 0) {
      EXPECT_GE(changes[i]["ms"].number, changes[i - 1]["ms"].number) << "change " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, PulseSequence, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<PulseRow>& info) { return info.param.name; });

}  // namespace
}  // namespace e2e
