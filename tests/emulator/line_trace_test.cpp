// The check of each open's modem lines against what Windows drives: a table
// of traces (the tool's and prodtest's as Windows drives them, and each way
// a trace can depart or end early) with the verdict each gets; then the
// tracer that builds the traces from the port's events and the library's
// reports.
#include "emulator/line_trace.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace emulator {
namespace {

using std::chrono::microseconds;

Duration Ms(double ms) { return microseconds(static_cast<long long>(ms * 1000)); }

struct Step {
  double ms;
  bool rts;
  bool dtr;
  unsigned baud;
};

// What Windows drives for the tool: RTS, then DTR dropped by the open's
// settings, the pulses, and DTR dropped at the switch to 115200.
const std::vector<Step> kOpenSettings = {{0.1, false, true, 1200}, {0.2, false, false, 1200}};
const std::vector<Step> kPulses = {
    {0.3, false, true, 1200}, {200.4, false, false, 1200}, {400.6, false, true, 1200}, {600.7, true, true, 1200}};
const std::vector<Step> kSwitch = {{801.0, true, false, 115200}};

std::vector<Step> Join(std::initializer_list<std::vector<Step>> parts) {
  std::vector<Step> steps;
  for (const std::vector<Step>& part : parts) steps.insert(steps.end(), part.begin(), part.end());
  return steps;
}

// Wine's SetCommState drops DTR before RTS.
const std::vector<Step> kWineOpenSettings = {{0.1, true, false, 1200}, {0.2, false, false, 1200}};

enum class Rates { kNone, kPnp, kPnpThenFast, kFast };

struct Case {
  std::string name;
  Rates rates;
  bool driven;
  std::vector<Step> steps;
  TraceEnd end;
  double ended_ms;
  TraceRoad road;
  TraceOutcome outcome;
  std::optional<std::size_t> departs_at;  // for kDeparts and kCutShort
  std::string text;
};

std::ostream& operator<<(std::ostream& out, const Case& c) { return out << c.name; }

OpenTrace TraceOf(const Case& c) {
  OpenTrace trace;
  trace.baud_at_open = 9600;
  trace.driven = c.driven;
  trace.reached_pnp = c.rates == Rates::kPnp || c.rates == Rates::kPnpThenFast;
  trace.switched_to_fast = c.rates == Rates::kPnpThenFast;
  for (const Step& step : c.steps) trace.steps.push_back({Ms(step.ms), {step.rts, step.dtr}, step.baud});
  trace.end = c.end;
  trace.ended_at = Ms(c.ended_ms);
  return trace;
}

const std::vector<Case> kCases = {
    // As Windows drives them.
    {"tool_complete", Rates::kPnpThenFast, true, Join({kOpenSettings, kPulses, kSwitch}), TraceEnd::kClosed, 1509.6,
     TraceRoad::kDiscovery, TraceOutcome::kAsWindows, std::nullopt,
     "as Windows drives the tool's calls: the open's settings, the pulses and the switch to 115200"},
    {"tool_pnp_failed", Rates::kPnp, true, Join({kOpenSettings, kPulses}), TraceEnd::kClosed, 2300,
     TraceRoad::kDiscovery, TraceOutcome::kAsWindows, std::nullopt,
     "as Windows drives the tool's calls: the open's settings and the pulses"},
    {"prodtest_link",
     Rates::kFast,
     true,
     {},
     TraceEnd::kClosed,
     14.9,
     TraceRoad::kLink,
     TraceOutcome::kAsWindows,
     std::nullopt,
     "as Windows drives prodtest's settings: RTS high, DTR high from the open to the close"},
    {"nothing_driven",
     Rates::kNone,
     false,
     {},
     TraceEnd::kClosed,
     0.3,
     TraceRoad::kUndriven,
     TraceOutcome::kAsWindows,
     std::nullopt,
     "no line driven: RTS high, DTR high from the open to the close"},
    // A rate the library could not read is not held against a step.
    {"rate_unknown", Rates::kPnp, true, Join({{{0.1, false, true, 0}, {0.2, false, false, 0}}, kPulses}),
     TraceEnd::kClosed, 2300, TraceRoad::kDiscovery, TraceOutcome::kAsWindows, std::nullopt,
     "as Windows drives the tool's calls: the open's settings and the pulses"},

    // A step unlike Windows'.
    {"dtr_before_rts_at_open", Rates::kPnpThenFast, true, Join({kWineOpenSettings, kPulses, kSwitch}),
     TraceEnd::kClosed, 1509.6, TraceRoad::kDiscovery, TraceOutcome::kDeparts, 0,
     "in the open's settings DTR fell at 0.1 ms (RTS high, DTR low); Windows drops RTS here (RTS low, DTR high)"},
    // DTR control enable at the open: DTR stays up and the pulses' first
    // call is no step, so the states run two short and RTS rises where
    // Windows drops DTR (the times are not judged).
    {"dtr_enabled_at_open",
     Rates::kPnpThenFast,
     true,
     {{0.1, false, true, 1200},
      {200.4, false, false, 1200},
      {400.6, false, true, 1200},
      {600.7, true, true, 1200},
      {801.0, true, false, 115200}},
     TraceEnd::kClosed,
     1509.6,
     TraceRoad::kDiscovery,
     TraceOutcome::kDeparts,
     3,
     "in the pulses RTS rose at 600.7 ms (RTS high, DTR high); Windows drops DTR here (RTS low, DTR low)"},
    {"rts_enabled_at_open",
     Rates::kPnp,
     true,
     {{0.1, true, false, 1200},
      {0.3, false, false, 1200},
      {0.4, false, true, 1200},
      {200.4, false, false, 1200},
      {400.6, false, true, 1200},
      {600.7, true, true, 1200}},
     TraceEnd::kClosed,
     2300,
     TraceRoad::kDiscovery,
     TraceOutcome::kDeparts,
     0,
     "in the open's settings DTR fell at 0.1 ms (RTS high, DTR low); Windows drops RTS here (RTS low, DTR high)"},
    // RTS control disable at the switch: RTS falls, then DTR.
    {"rts_disabled_at_switch", Rates::kPnpThenFast, true,
     Join({kOpenSettings, kPulses, {{801.0, false, true, 115200}, {801.1, false, false, 115200}}}), TraceEnd::kClosed,
     1509.6, TraceRoad::kDiscovery, TraceOutcome::kDeparts, 6,
     "at the switch to 115200 RTS fell at 801.0 ms (RTS low, DTR high); Windows drops DTR here (RTS high, DTR low)"},
    // The lines driven before the rate is set.
    {"lines_before_the_rate", Rates::kPnpThenFast, true, Join({kOpenSettings, kPulses, {{801.0, true, false, 1200}}}),
     TraceEnd::kClosed, 1509.6, TraceRoad::kDiscovery, TraceOutcome::kDeparts, 6,
     "at the switch to 115200 DTR fell at 801.0 ms at 1200 baud; Windows drops DTR at 115200 baud"},
    {"open_settings_at_the_old_rate", Rates::kPnp, true,
     Join({{{0.1, false, true, 9600}, {0.2, false, false, 1200}}, kPulses}), TraceEnd::kClosed, 2300,
     TraceRoad::kDiscovery, TraceOutcome::kDeparts, 0,
     "in the open's settings RTS fell at 0.1 ms at 9600 baud; Windows drops RTS at 1200 baud"},

    // A step where Windows drives none.
    {"dtr_rises_after_the_switch", Rates::kPnpThenFast, true,
     Join({kOpenSettings, kPulses, kSwitch, {{803.6, true, true, 115200}}}), TraceEnd::kClosed, 1509.6,
     TraceRoad::kDiscovery, TraceOutcome::kDeparts, 7,
     "after the switch to 115200 DTR rose at 803.6 ms; Windows keeps it low until the close"},
    // DTR control disable in the switch, RTS control disable too: after the
    // switch both lines move at once.
    {"both_lines_after_the_pulses", Rates::kPnp, true, Join({kOpenSettings, kPulses, {{900.0, false, false, 1200}}}),
     TraceEnd::kClosed, 2300, TraceRoad::kDiscovery, TraceOutcome::kDeparts, 6,
     "after the pulses RTS fell and DTR fell at 900.0 ms; Windows keeps RTS high and DTR high until the close"},
    // prodtest's link opened with DTR control disable.
    {"prodtest_drops_dtr",
     Rates::kFast,
     true,
     {{1.2, true, false, 115200}},
     TraceEnd::kClosed,
     14.9,
     TraceRoad::kLink,
     TraceOutcome::kDeparts,
     0,
     "in prodtest's open DTR fell at 1.2 ms; Windows keeps it high until the close"},

    // Ended before Windows' last step.
    {"closed_in_the_pulses", Rates::kPnp, true, Join({kOpenSettings, {{0.3, false, true, 1200}}}), TraceEnd::kClosed,
     150.0, TraceRoad::kDiscovery, TraceOutcome::kCutShort, 3,
     "the port closed at 150.0 ms before the end of the pulses; Windows would next drop DTR (RTS low, DTR low)"},
    {"vanished_before_the_pulses", Rates::kPnp, true, kOpenSettings, TraceEnd::kVanished, 90.5, TraceRoad::kDiscovery,
     TraceOutcome::kCutShort, 2,
     "the device vanished at 90.5 ms before the pulses; Windows would next raise DTR (RTS low, DTR high)"},
    {"closed_at_once",
     Rates::kPnp,
     true,
     {},
     TraceEnd::kClosed,
     0.5,
     TraceRoad::kDiscovery,
     TraceOutcome::kCutShort,
     0,
     "the port closed at 0.5 ms before the open's settings; Windows would next drop RTS (RTS low, DTR high)"},
    {"still_open_at_the_end", Rates::kPnpThenFast, true, Join({kOpenSettings, kPulses}), TraceEnd::kStillOpen, 0,
     TraceRoad::kDiscovery, TraceOutcome::kCutShort, 6,
     "the run ended with the port still open before the switch to 115200; Windows would next drop DTR (RTS high, "
     "DTR low)"},
};

class TraceCheck : public testing::TestWithParam<Case> {};

TEST_P(TraceCheck, GivesTheVerdict) {
  const Case& c = GetParam();
  const OpenTrace trace = TraceOf(c);
  EXPECT_EQ(RoadOf(trace), c.road);
  const TraceVerdict verdict = CheckTrace(trace);
  EXPECT_EQ(OutcomeName(verdict.outcome), std::string(OutcomeName(c.outcome)));
  if (c.departs_at) {
    EXPECT_EQ(verdict.departs_at, *c.departs_at);
  }
  EXPECT_EQ(verdict.text, c.text);
}

INSTANTIATE_TEST_SUITE_P(Traces, TraceCheck, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

// The steps themselves, which the end-to-end rows also hold the emulator to.
TEST(WindowsSteps, AreTheToolsInWindowsOrder) {
  OpenTrace trace;
  trace.driven = true;
  trace.reached_pnp = true;
  std::vector<WindowsStep> steps = WindowsSteps(trace);
  ASSERT_EQ(steps.size(), 6u);
  trace.switched_to_fast = true;
  steps = WindowsSteps(trace);
  const std::vector<Step> expected = Join({kOpenSettings, kPulses, kSwitch});
  ASSERT_EQ(steps.size(), expected.size());
  for (std::size_t i = 0; i < steps.size(); ++i) {
    EXPECT_EQ(steps[i].state, (LineState{expected[i].rts, expected[i].dtr})) << i;
    EXPECT_EQ(steps[i].baud, expected[i].baud) << i;
  }
  trace.reached_pnp = false;
  EXPECT_TRUE(WindowsSteps(trace).empty()) << "prodtest's settings change neither raised line";
}

// ---------------------------------------------------------------------------
// The tracer.

class Tracer : public testing::Test {
 protected:
  LineTraces traces_;
  LineTracer tracer_{traces_};
  const TimePoint start_ = Clock::now();

  TimePoint At(double ms) const { return start_ + Ms(ms); }
  const LineTraceFacts& Only() {
    EXPECT_EQ(traces_.opens.size(), 1u);
    return traces_.opens[0];
  }
};

TEST_F(Tracer, KeepsChangesOnlyWithTheirRateAndTimeSinceTheOpen) {
  tracer_.OnOpened(1, At(0), 9600);
  tracer_.OnLineRate(1200);
  tracer_.OnCall(At(1), {false, true}, 1200);
  tracer_.OnCall(At(2), {false, true}, 1200);  // no step
  tracer_.OnCall(At(3), {false, false}, 1200);
  tracer_.OnClosed(At(10));
  const LineTraceFacts& trace = Only();
  EXPECT_EQ(trace.open, 1u);
  EXPECT_EQ(trace.road, "discovery");
  EXPECT_EQ(trace.baud_at_open, 9600u);
  EXPECT_TRUE(trace.rts_at_open);
  EXPECT_TRUE(trace.dtr_at_open);
  ASSERT_EQ(trace.steps.size(), 2u);
  EXPECT_DOUBLE_EQ(trace.steps[0].ms, 1.0);
  EXPECT_FALSE(trace.steps[0].rts);
  EXPECT_TRUE(trace.steps[0].dtr);
  EXPECT_EQ(trace.steps[0].baud, 1200u);
  EXPECT_DOUBLE_EQ(trace.steps[1].ms, 3.0);
  EXPECT_FALSE(trace.steps[1].dtr);
  EXPECT_EQ(trace.end, "closed");
  EXPECT_DOUBLE_EQ(trace.ended_ms, 10.0);
  EXPECT_EQ(trace.outcome, "cut short");
  ASSERT_TRUE(trace.departs_at.has_value());
  EXPECT_EQ(*trace.departs_at, 2u);
  EXPECT_EQ(trace.verdict.rfind("open 1: the port closed at 10.0 ms before the pulses;", 0), 0u) << trace.verdict;
}

// The emulator hears of an open after the fact: a call stamped before it
// moves the open back.
TEST_F(Tracer, AnOpenSeenLateStartsAtItsFirstCall) {
  tracer_.OnOpened(1, At(5), 115200);
  tracer_.OnCall(At(2), {true, false}, 115200);
  tracer_.OnClosed(At(7));
  const LineTraceFacts& trace = Only();
  ASSERT_EQ(trace.steps.size(), 1u);
  EXPECT_DOUBLE_EQ(trace.steps[0].ms, 0.0);
  EXPECT_DOUBLE_EQ(trace.ended_ms, 5.0);
}

// A call that changes nothing still makes the open prodtest's link rather
// than one that drove nothing.
TEST_F(Tracer, TellsTheRoadsApart) {
  tracer_.OnOpened(1, At(0), 115200);
  tracer_.OnClosed(At(1));
  tracer_.OnOpened(2, At(2), 115200);
  tracer_.OnCall(At(3), {true, true}, 115200);
  tracer_.OnClosed(At(4));
  tracer_.OnOpened(3, At(5), 115200);
  tracer_.OnCall(At(6), {true, true}, 1200);
  tracer_.OnClosed(At(7));
  ASSERT_EQ(traces_.opens.size(), 3u);
  EXPECT_EQ(traces_.opens[0].road, "undriven");
  EXPECT_EQ(traces_.opens[1].road, "link");
  EXPECT_EQ(traces_.opens[1].outcome, "as windows");
  EXPECT_FALSE(traces_.opens[1].departs_at.has_value());
  EXPECT_EQ(traces_.opens[2].road, "discovery") << "the rate of a call counts as the line's rate";
}

// Each open starts afresh, whatever the last one left.
TEST_F(Tracer, EachOpenStartsWithBothLinesRaised) {
  tracer_.OnOpened(1, At(0), 9600);
  tracer_.OnCall(At(1), {false, false}, 1200);
  tracer_.OnClosed(At(2));
  tracer_.OnOpened(2, At(3), 1200);
  tracer_.OnCall(At(4), {false, false}, 1200);
  tracer_.OnClosed(At(5));
  ASSERT_EQ(traces_.opens.size(), 2u);
  ASSERT_EQ(traces_.opens[1].steps.size(), 1u);
  EXPECT_DOUBLE_EQ(traces_.opens[1].steps[0].ms, 1.0);
}

TEST_F(Tracer, NothingComesBetweenAnOpenAndItsClose) {
  tracer_.OnCall(At(1), {false, false}, 1200);  // no open yet
  tracer_.OnLineRate(1200);
  EXPECT_TRUE(traces_.opens.empty());
  tracer_.OnOpened(1, At(2), 9600);
  tracer_.OnClosed(At(3));
  tracer_.OnCall(At(4), {false, false}, 1200);  // after the close
  tracer_.OnVanished(At(5));
  const LineTraceFacts& trace = Only();
  EXPECT_TRUE(trace.steps.empty());
  EXPECT_EQ(trace.end, "closed");
  EXPECT_EQ(trace.road, "undriven");
}

TEST_F(Tracer, AVanishedDeviceStaysVanishedWhenTheHolderCloses) {
  tracer_.OnOpened(1, At(0), 9600);
  tracer_.OnLineRate(1200);
  tracer_.OnVanished(At(50));
  tracer_.OnClosed(At(80));
  const LineTraceFacts& trace = Only();
  EXPECT_EQ(trace.end, "vanished");
  EXPECT_DOUBLE_EQ(trace.ended_ms, 50.0);
  EXPECT_EQ(trace.outcome, "cut short");
}

// The entry is kept up to date while the port is open, for a report written
// before the close.
TEST_F(Tracer, AnOpenInProgressIsInTheFacts) {
  tracer_.OnOpened(1, At(0), 9600);
  tracer_.OnLineRate(1200);
  tracer_.OnCall(At(1), {false, true}, 1200);
  const LineTraceFacts& trace = Only();
  EXPECT_EQ(trace.end, "open");
  EXPECT_EQ(trace.steps.size(), 1u);
  EXPECT_EQ(trace.verdict.rfind("open 1: the run ended with the port still open", 0), 0u) << trace.verdict;
}

TEST_F(Tracer, KeepsTheLatestOpens) {
  const unsigned opens = static_cast<unsigned>(kKeptTraces) + 3;
  for (unsigned open = 1; open <= opens; ++open) {
    tracer_.OnOpened(open, At(open * 10), 115200);
    // Every open's own changes, as many as its number allows, so a trace
    // written into a neighbour's entry would show.
    if (open % 2 == 0) tracer_.OnCall(At(open * 10 + 1), {true, false}, 115200);
    tracer_.OnClosed(At(open * 10 + 2));
  }
  ASSERT_EQ(traces_.opens.size(), kKeptTraces);
  EXPECT_EQ(traces_.opens.forgotten(), 3u);
  unsigned open = 4;
  for (const LineTraceFacts& trace : traces_.opens) {
    EXPECT_EQ(trace.open, open);
    EXPECT_EQ(trace.steps.size(), open % 2 == 0 ? 1u : 0u) << open;
    ++open;
  }
}

}  // namespace
}  // namespace emulator
