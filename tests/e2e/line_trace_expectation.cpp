#include "tests/e2e/line_trace_expectation.h"

#include <gtest/gtest.h>

#include <sstream>

namespace e2e {
namespace {

constexpr unsigned kPnpRate = 1200;
constexpr unsigned kFastRate = 115200;

// The open's settings at 1200 baud, RTS and DTR control disable: Windows
// drops RTS, then DTR.
const std::vector<LineLevels> kWindowsOpenSettings = {{false, true, kPnpRate}, {false, false, kPnpRate}};
// Wine's SetCommState drops DTR, then RTS.
const std::vector<LineLevels> kWineOpenSettings = {{true, false, kPnpRate}, {false, false, kPnpRate}};
// RTS off (already low: no change), DTR on, 200 ms, DTR off, 200 ms, DTR on,
// 200 ms, RTS on, 200 ms.
const std::vector<LineLevels> kPulses = {
    {false, true, kPnpRate}, {false, false, kPnpRate}, {false, true, kPnpRate}, {true, true, kPnpRate}};
// The switch to 115200, RTS control enable and DTR control disable: RTS is
// high already, DTR drops; both stay so until the close.
const std::vector<LineLevels> kSwitch = {{true, false, kFastRate}};

// Generous: a step of 200 ms that a busy machine (or valgrind) makes late.
constexpr double kShortestPulseMs = 150;
constexpr double kLongestPulseMs = 2000;

std::string Describe(const LineLevels& levels) {
  std::ostringstream text;
  text << "RTS " << (levels.rts ? "high" : "low") << ", DTR " << (levels.dtr ? "high" : "low") << " at " << levels.baud;
  return text.str();
}

std::string Describe(const std::vector<LineLevels>& steps) {
  std::string text;
  for (const LineLevels& step : steps) text += "\n  " + Describe(step);
  return text.empty() ? " none" : text;
}

}  // namespace

std::vector<ExpectedOpen> ExpectedOpens(LineReach reach, const ToolUnderTest& tool) {
  if (reach == LineReach::kNoOpen) return {};
  if (reach == LineReach::kUndrivenOpen) return {{"undriven", {}, true}};
  ExpectedOpen discovery{"discovery", tool.drops_dtr_before_rts ? kWineOpenSettings : kWindowsOpenSettings,
                         !tool.drops_dtr_before_rts};
  discovery.steps.insert(discovery.steps.end(), kPulses.begin(), kPulses.end());
  if (reach != LineReach::kPulses) discovery.steps.insert(discovery.steps.end(), kSwitch.begin(), kSwitch.end());
  std::vector<ExpectedOpen> opens = {discovery};
  // prodtest's link, RTS and DTR control enable: both lines are raised
  // already, and stay so until the close.
  if (reach == LineReach::kLink) opens.push_back({"link", {}, true});
  return opens;
}

void ExpectLineTraces(const Json& report, LineReach reach, const ToolUnderTest& tool) {
  const std::vector<ExpectedOpen> expected = ExpectedOpens(reach, tool);
  EXPECT_EQ(At(report, "line_traces/watched"), true);
  const Json& opens = At(report, "line_traces/opens");
  ASSERT_EQ(opens.size(), expected.size()) << opens.dump(1);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const Json& trace = opens.at(i);
    const ExpectedOpen& want = expected[i];
    SCOPED_TRACE(At(trace, "verdict").get<std::string>());
    EXPECT_EQ(At(trace, "open"), i + 1);
    EXPECT_EQ(At(trace, "road"), want.road);
    // Every open starts with both lines raised, as the driver raises them.
    EXPECT_EQ(At(trace, "at_open/rts"), true);
    EXPECT_EQ(At(trace, "at_open/dtr"), true);

    const Json& steps = At(trace, "steps");
    std::vector<LineLevels> got;
    for (const Json& step : steps) {
      got.push_back({At(step, "rts").get<bool>(), At(step, "dtr").get<bool>(), At(step, "baud").get<unsigned>()});
    }
    bool same = got.size() == want.steps.size();
    for (std::size_t k = 0; same && k < got.size(); ++k) {
      same = got[k].rts == want.steps[k].rts && got[k].dtr == want.steps[k].dtr && got[k].baud == want.steps[k].baud;
    }
    EXPECT_TRUE(same) << tool.build << ": the lines changed" << Describe(got) << "\nwhere this road drives"
                      << Describe(want.steps);

    // The times, where they are the point: the pulses' steps 200 ms apart,
    // everything in order, the close last.
    double last = 0;
    for (const Json& step : steps) {
      const double ms = At(step, "ms").get<double>();
      EXPECT_GE(ms, last) << "the changes in the order they were made";
      last = ms;
    }
    EXPECT_EQ(At(trace, "end"), "closed");
    EXPECT_GE(At(trace, "ended_ms").get<double>(), last);
    if (same && want.road == "discovery") {
      for (std::size_t k = 3; k < 6; ++k) {
        const double held = At(steps.at(k), "ms").get<double>() - At(steps.at(k - 1), "ms").get<double>();
        EXPECT_GE(held, kShortestPulseMs) << "pulse step " << k - 1;
        EXPECT_LE(held, kLongestPulseMs) << "pulse step " << k - 1;
      }
      if (steps.size() > 6) {
        // The switch comes after the last pulse step's 200 ms and the reply.
        const double after = At(steps.at(6), "ms").get<double>() - At(steps.at(5), "ms").get<double>();
        EXPECT_GE(after, kShortestPulseMs);
      }
    }

    if (want.as_windows) {
      EXPECT_EQ(At(trace, "outcome"), std::string("as windows"));
      EXPECT_TRUE(At(trace, "departs_at").is_null());
    } else {
      // Wine's difference, at the first step of the open's settings.
      EXPECT_EQ(At(trace, "outcome"), std::string("departs"));
      EXPECT_EQ(At(trace, "departs_at"), 0);
      const std::string verdict = At(trace, "verdict").get<std::string>();
      EXPECT_EQ(verdict.rfind("open 1: in the open's settings DTR fell at ", 0), 0u) << verdict;
      EXPECT_NE(verdict.find("; Windows drops RTS here (RTS low, DTR high)"), std::string::npos) << verdict;
    }
  }
}

}  // namespace e2e
