// The emulator's report: its JSON is valid UTF-8 whatever the command line
// held, line bytes travel as hex, and the records that grow with every run
// of the host keep only the latest runs, so that a link served for weeks
// gives a report (and facts) of a fixed size.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "emulator/adapter.h"
#include "emulator/dialogue_log.h"
#include "emulator/line_output.h"
#include "emulator/report.h"
#include "emulator/run_facts.h"

namespace emulator {
namespace {

using Json = nlohmann::json;

Json ParsedReport(const RunFacts& facts) {
  // The parser refuses text that is not UTF-8.
  const Json report = Json::parse(JsonReport(facts), nullptr, false);
  EXPECT_FALSE(report.is_discarded()) << JsonReport(facts);
  return report;
}

// ---------------------------------------------------------------------------
// Text in the report.

struct WordCase {
  std::string name;
  std::string word;      // as the command line gave it
  std::string reported;  // as the report's reader gets it
};

std::ostream& operator<<(std::ostream& out, const WordCase& c) { return out << c.name; }

class CommandWord : public testing::TestWithParam<WordCase> {};

TEST_P(CommandWord, ComesOutAsUtf8) {
  RunFacts facts;
  facts.command = {"corvane-handshake", GetParam().word};
  const Json report = ParsedReport(facts);
  ASSERT_EQ(report.at("command").size(), 2u);
  EXPECT_EQ(report.at("command").at(1).get<std::string>(), GetParam().reported);
}

const std::string kReplacement = "\xEF\xBF\xBD";  // U+FFFD

INSTANTIATE_TEST_SUITE_P(
    Words, CommandWord,
    testing::Values(WordCase{"ascii", "on", "on"}, WordCase{"quote_and_backslash", "a\"b\\c", "a\"b\\c"},
                    WordCase{"control_characters", std::string("\x01\n\t\0", 4), std::string("\x01\n\t\0", 4)},
                    WordCase{"two_byte_utf8", "caf\xC3\xA9", "caf\xC3\xA9"},
                    WordCase{"three_byte_utf8",
                             "\xE2\x82\xAC"
                             "5",
                             "\xE2\x82\xAC"
                             "5"},
                    WordCase{"four_byte_utf8", "\xF0\x9F\x94\x8C", "\xF0\x9F\x94\x8C"},
                    WordCase{"latin1_byte", "caf\xE9", "caf" + kReplacement},
                    WordCase{"lone_continuation_byte", "\x80x", kReplacement + "x"},
                    WordCase{"truncated_sequence", "\xE2\x82", kReplacement},
                    WordCase{"byte_ff", "on\xFF", "on" + kReplacement}),
    [](const testing::TestParamInfo<WordCase>& info) { return info.param.name; });

TEST(Report, PathsThatAreNotUtf8AreReplacedToo) {
  RunFacts facts;
  facts.port.path = "/dev/pts/7";
  facts.port.link = "/tmp/COM\xA0";
  const Json report = ParsedReport(facts);
  EXPECT_EQ(report.at("port").at("path"), "/dev/pts/7");
  EXPECT_EQ(report.at("port").at("link"), "/tmp/COM" + kReplacement);
}

TEST(Report, AbsentThingsAreNull) {
  RunFacts facts;
  const Json report = ParsedReport(facts);
  EXPECT_TRUE(report.at("command_exit").is_null());
  EXPECT_TRUE(report.at("port").at("link").is_null());
  EXPECT_TRUE(report.at("port").at("vanished_at").is_null());
  facts.command_exit = 3;
  facts.port.link = "/tmp/COM1";
  facts.port.vanished_at = "sync";
  const Json set = ParsedReport(facts);
  EXPECT_EQ(set.at("command_exit"), 3);
  EXPECT_EQ(set.at("port").at("link"), "/tmp/COM1");
  EXPECT_EQ(set.at("port").at("vanished_at"), "sync");
}

// The exclusive flag and the signal sent to the command, in both reports.
TEST(Report, TheExclusiveFlagAtTheEnd) {
  struct Case {
    std::optional<bool> exclusive;
    Json json;
    std::string line;
  };
  const Case cases[] = {
      {std::nullopt, nullptr, "  exclusive flag  unknown at the end (the line had vanished)\n"},
      {false, false, "  exclusive flag  cleared at the end\n"},
      {true, true, "  exclusive flag  still set at the end: only root can open the port\n"},
  };
  for (const Case& c : cases) {
    RunFacts facts;
    facts.port.exclusive_at_end = c.exclusive;
    EXPECT_EQ(ParsedReport(facts).at("port").at("exclusive_at_end"), c.json);
    const std::string text = TextReport(facts);
    EXPECT_NE(text.find(c.line), std::string::npos) << text;
  }
}

TEST(Report, TheSignalSentToTheCommand) {
  RunFacts facts;
  facts.command = {"tool", "on"};
  EXPECT_TRUE(ParsedReport(facts).at("command_signal").is_null());
  EXPECT_EQ(TextReport(facts).find("command signal"), std::string::npos);
  facts.command_signal = CommandSignalFacts{"write-2", "SIGINT"};
  facts.command_exit = 130;
  EXPECT_EQ(ParsedReport(facts).at("command_signal"), (Json{{"step", "write-2"}, {"signal", "SIGINT"}}));
  const std::string text = TextReport(facts);
  EXPECT_NE(text.find("  command signal  SIGINT at write-2\n  command exit    130\n"), std::string::npos) << text;
}

// Every byte value, as hex, and no member that would carry them raw.
TEST(Report, LineBytesAreHex) {
  RunFacts facts;
  Recent<std::uint8_t>& fast = facts.adapter.heard.try_emplace(115200, kKeptLineBytes).first->second;
  std::string expected;
  for (unsigned b = 0; b < 256; ++b) {
    fast.Add(static_cast<std::uint8_t>(b));
    const char digits[] = "0123456789abcdef";
    expected += digits[b >> 4];
    expected += digits[b & 15];
  }
  facts.adapter.heard.try_emplace(1200, kKeptLineBytes).first->second.Add(0xC0);
  const Json received = ParsedReport(facts).at("adapter").at("received");
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received.at(0), (Json{{"baud", 1200}, {"hex", "c0"}, {"bytes", 1}}));
  EXPECT_EQ(received.at(1), (Json{{"baud", 115200}, {"hex", expected}, {"bytes", 256}}));
}

// ---------------------------------------------------------------------------
// The kept records.

TEST(Recent, KeepsTheLatestEntriesAndCountsThemAll) {
  Recent<int> recent(3);
  EXPECT_TRUE(recent.empty());
  EXPECT_EQ(recent.Find(0), nullptr);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(recent.Add(i * 10), i * 10);
  EXPECT_EQ(recent.total(), 5u);
  EXPECT_EQ(recent.forgotten(), 2u);
  ASSERT_EQ(recent.size(), 3u);
  EXPECT_EQ(recent[0], 20);
  EXPECT_EQ(recent[2], 40);
  EXPECT_EQ(recent.Find(1), nullptr);  // forgotten
  ASSERT_NE(recent.Find(2), nullptr);
  EXPECT_EQ(*recent.Find(2), 20);
  ASSERT_NE(recent.Find(4), nullptr);
  *recent.Find(4) = 41;
  EXPECT_EQ(recent[2], 41);
  EXPECT_EQ(recent.Find(5), nullptr);  // not yet added
}

// The adapter's line toward the host, going nowhere.
class NoLine : public LineOutput {
 public:
  void Send(const Bytes&, TimePoint) override {}
  std::size_t Queued() const override { return 0; }
  unsigned Baud() const override { return kPnpBaud; }
};

// Past the limit, each kept discovery is still the whole of its own open:
// the adapter records into the entry it started, not into a neighbour.
TEST(Recent, AdapterKeepsItsLatestDiscoveriesWhole) {
  AdapterOptions options;
  options.pulse_check = PulseCheck::kJudged;
  NoLine line;
  DialogueLog log(false, Clock::now());
  AdapterFacts facts;
  Adapter adapter(options, line, log, facts);
  const unsigned discoveries = kKeptDiscoveries + 5;
  for (unsigned open = 1; open <= discoveries; ++open) {
    const TimePoint now = Clock::now();
    adapter.OnPortOpened();
    adapter.OnLineRate(kPnpBaud, now);
    // As many changes as the open's number, up to 4, and the last of them
    // out of order: each discovery tells its own story.
    const LineState steps[] = {{false, true}, {false, false}, {false, true}, {true, false}};
    for (unsigned k = 0; k < std::min(open, 4u); ++k)
      adapter.OnModemLines(steps[k], now + std::chrono::milliseconds(k + 1));
    adapter.OnPortClosed();
  }
  ASSERT_EQ(facts.pulses.size(), kKeptDiscoveries);
  EXPECT_EQ(facts.pulses.total(), discoveries);
  unsigned open = discoveries - kKeptDiscoveries + 1;
  for (const PulseFacts& kept : facts.pulses) {
    EXPECT_EQ(kept.open, open);
    EXPECT_EQ(kept.changes.size(), std::min(open, 4u)) << "open " << open;
    EXPECT_EQ(kept.verdict.rfind("rejected: ", 0), 0u) << "open " << open << ": " << kept.verdict;
    ++open;
  }
}

// One complete run of the tool as the facts see it: one discovery with the
// four pulse steps, the setup request and hand-over at 115200 and three
// setting writes. `run` marks the entries, so the latest can be told apart.
void AddRun(RunFacts& facts, unsigned run) {
  ++facts.port.opens;
  ++facts.port.closes;
  PulseFacts& pulses = facts.adapter.pulses.Add(PulseFacts{});
  pulses.open = 2 * run + 1;
  pulses.accepted = true;
  pulses.verdict = "accepted: RTS rose at 600.2 ms, the reply was due at 650.2 ms";
  for (int step = 0; step < 5; ++step) pulses.changes.push_back({200.0 * step, step % 2 == 0, step != 2, false});
  Recent<std::uint8_t>& fast = facts.adapter.heard.try_emplace(115200, kKeptLineBytes).first->second;
  for (const char c : std::string("KESTRAVIN SETUP\x01\xF8\x00\x00", 19)) fast.Add(static_cast<std::uint8_t>(c));
  for (std::uint16_t setting = 1; setting <= 3; ++setting) facts.module.writes.Add({0, setting, run, 0});
  facts.line_traces.watched = true;
  for (unsigned open = 2 * run + 1; open <= 2 * run + 2; ++open) {
    LineTraceFacts& trace = facts.line_traces.opens.Add(LineTraceFacts{});
    trace.open = open;
    trace.road = open % 2 == 1 ? "discovery" : "link";
    if (open % 2 == 1) {
      for (int step = 0; step < 7; ++step) trace.steps.push_back({100.0 * step, step >= 5, step % 2 == 0, 1200});
    }
    trace.end = "closed";
    trace.ended_ms = 1500;
    trace.outcome = "as windows";
    trace.verdict = "open " + std::to_string(open) + ": as Windows drives it";
  }
}

std::size_t ReportSizeAfter(unsigned runs, RunFacts& facts) {
  for (unsigned run = 0; run < runs; ++run) AddRun(facts, run);
  return JsonReport(facts).size() + TextReport(facts).size();
}

TEST(Report, StaysTheSameSizeHoweverManyRunsItCovers) {
  RunFacts after_200;
  RunFacts after_1000;
  const std::size_t size_200 = ReportSizeAfter(200, after_200);
  const std::size_t size_1000 = ReportSizeAfter(1000, after_1000);
  // Only numbers grow, by a digit here and there (an open's number stands
  // three times in each of the 40 kept traces); 800 more runs kept whole
  // would add megabytes.
  EXPECT_LT(size_1000, size_200 + 300);

  const Json report = ParsedReport(after_1000);
  const Json& pulses = report.at("adapter").at("pulses");
  ASSERT_EQ(pulses.size(), kKeptDiscoveries);
  EXPECT_EQ(report.at("adapter").at("pulses_forgotten"), 1000 - kKeptDiscoveries);
  EXPECT_EQ(pulses.back().at("open"), 2 * 999 + 1);
  EXPECT_EQ(pulses.front().at("open"), 2 * (1000 - kKeptDiscoveries) + 1);

  const Json& traces = report.at("line_traces").at("opens");
  ASSERT_EQ(traces.size(), kKeptTraces);
  EXPECT_EQ(report.at("line_traces").at("forgotten"), 2000 - kKeptTraces);
  EXPECT_EQ(traces.back().at("open"), 2000);
  EXPECT_EQ(traces.front().at("open"), 2000 - kKeptTraces + 1);

  const Json& writes = report.at("module").at("writes");
  ASSERT_EQ(writes.size(), kKeptWrites);
  EXPECT_EQ(report.at("module").at("writes_forgotten"), 3000 - kKeptWrites);
  EXPECT_EQ(writes.back().at("value"), 999);
  EXPECT_EQ(writes.front().at("value"), 1000 - kKeptWrites / 3);

  const Json& fast = report.at("adapter").at("received").at(0);
  EXPECT_EQ(fast.at("bytes"), 19 * 1000);
  EXPECT_EQ(fast.at("hex").get<std::string>().size(), 2 * kKeptLineBytes);
  EXPECT_EQ(report.at("port").at("opens"), 1000);

  const std::string text = TextReport(after_1000);
  EXPECT_NE(text.find("  pulses          980 earlier discoveries not kept\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  line traces     1960 earlier opens not kept\n"), std::string::npos) << text;
  EXPECT_NE(text.find("at 115200 baud (the last 1280 of 19000): "), std::string::npos) << text;
  EXPECT_NE(text.find("  module writes   2940 earlier writes not kept, "), std::string::npos) << text;
}

TEST(Report, KeepsEverythingOfAFewRuns) {
  RunFacts facts;
  ReportSizeAfter(3, facts);
  const Json report = ParsedReport(facts);
  EXPECT_EQ(report.at("adapter").at("pulses").size(), 3u);
  EXPECT_EQ(report.at("line_traces").at("opens").size(), 6u);
  EXPECT_EQ(report.at("line_traces").at("forgotten"), 0);
  EXPECT_EQ(report.at("adapter").at("pulses_forgotten"), 0);
  EXPECT_EQ(report.at("module").at("writes").size(), 9u);
  EXPECT_EQ(report.at("module").at("writes_forgotten"), 0);
  EXPECT_EQ(report.at("adapter").at("received").at(0).at("hex").get<std::string>().size(), 2u * 19 * 3);
  const std::string text = TextReport(facts);
  EXPECT_EQ(text.find("not kept"), std::string::npos) << text;
  EXPECT_EQ(text.find("(the last"), std::string::npos) << text;
}

}  // namespace
}  // namespace emulator

namespace emulator {
namespace {

// ---------------------------------------------------------------------------
// The line traces.

RunFacts TracedRun() {
  RunFacts facts;
  facts.line_traces.watched = true;
  LineTraceFacts& tool = facts.line_traces.opens.Add(LineTraceFacts{});
  tool.open = 1;
  tool.road = "discovery";
  tool.baud_at_open = 9600;
  tool.steps = {{0.0625, true, false, 1200}, {0.5, false, false, 0}};
  tool.end = "closed";
  tool.ended_ms = 2300.25;
  tool.outcome = "cut short";
  tool.departs_at = 2;
  tool.verdict = "open 1: the port closed at 2300.2 ms before the pulses; Windows would next raise DTR";
  LineTraceFacts& link = facts.line_traces.opens.Add(LineTraceFacts{});
  link.open = 2;
  link.road = "link";
  link.dtr_at_open = false;
  link.baud_at_open = 115200;
  link.end = "open";
  link.outcome = "as windows";
  link.verdict = "open 2: as Windows drives prodtest's settings";
  return facts;
}

TEST(LineTraceReport, JsonCarriesEveryStepAndTheVerdict) {
  const Json traces = ParsedReport(TracedRun()).at("line_traces");
  EXPECT_EQ(traces.at("watched"), true);
  EXPECT_EQ(traces.at("forgotten"), 0);
  ASSERT_EQ(traces.at("opens").size(), 2u);
  const Json expected_tool = Json::parse(R"({
    "open": 1, "road": "discovery", "at_open": {"rts": true, "dtr": true, "baud": 9600},
    "steps": [{"ms": 0.063, "rts": true, "dtr": false, "baud": 1200}, {"ms": 0.5, "rts": false, "dtr": false, "baud": 0}],
    "end": "closed", "ended_ms": 2300.25, "outcome": "cut short", "departs_at": 2,
    "verdict": "open 1: the port closed at 2300.2 ms before the pulses; Windows would next raise DTR"})");
  EXPECT_EQ(traces.at("opens").at(0), expected_tool);
  const Json& link = traces.at("opens").at(1);
  EXPECT_EQ(link.at("at_open"), (Json{{"rts", true}, {"dtr", false}, {"baud", 115200}}));
  EXPECT_EQ(link.at("steps"), Json::array());
  EXPECT_EQ(link.at("end"), "open");
  EXPECT_TRUE(link.at("ended_ms").is_null()) << "an open in progress has not ended";
  EXPECT_TRUE(link.at("departs_at").is_null());
}

TEST(LineTraceReport, TextShowsEachOpensLines) {
  const std::string text = TextReport(TracedRun());
  const std::string expected =
      "  line trace      open 1: the port closed at 2300.2 ms before the pulses; Windows would next raise DTR\n"
      "                    at the open  RTS high, DTR high  9600 baud\n"
      "                        0.1 ms  RTS high, DTR low   1200 baud\n"
      "                        0.5 ms  RTS low , DTR low   rate unknown\n"
      "                     2300.2 ms  closed\n"
      "  line trace      open 2: as Windows drives prodtest's settings\n"
      "                    at the open  RTS high, DTR low   115200 baud\n"
      "  modem lines     ";
  EXPECT_NE(text.find(expected), std::string::npos) << text;
}

TEST(LineTraceReport, SaysWhenTheLinesAreNotWatched) {
  RunFacts facts;
  EXPECT_NE(TextReport(facts).find("  line traces     none: the modem lines are not reported\n"), std::string::npos);
  EXPECT_EQ(ParsedReport(facts).at("line_traces"),
            (Json{{"watched", false}, {"opens", Json::array()}, {"forgotten", 0}}));
  facts.line_traces.watched = true;
  EXPECT_NE(TextReport(facts).find("  line traces     none: the port was not opened\n"), std::string::npos);
}

}  // namespace
}  // namespace emulator
