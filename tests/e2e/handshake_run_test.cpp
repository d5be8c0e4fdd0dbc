// The real corvane-handshake against the emulator on a pseudo-terminal, one
// row per road: complete runs, every failure the adapter and the module can
// be made to show, and the command-line failures. Each row checks the exact
// console text, the tool's exit status, the module's values, that the port
// was opened as often as closed and is closed at the end, and the modem
// lines of each open as Windows drives them for the tool's calls (see
// line_trace_expectation.h). The same table runs against each build of the
// tool (see tool_under_test.h).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"
#include "tests/e2e/line_trace_expectation.h"
#include "tests/e2e/tool_under_test.h"

namespace e2e {
namespace {

struct Scenario {
  std::string name;
  std::vector<std::string> emulator_options;
  std::vector<std::string> words;  // the tool's arguments
  std::string output;
  int exit_status;
  ModuleValues values;
  unsigned opens;          // of the port, by the tool and then by prodtest
  std::string heard_fast;  // what the adapter heard at 115200 before the hand-over
  // Members of the report's "module": numbers, or the length of an array.
  std::map<std::string, long long> module_counts;
  // prodtest's link attempt went to the adapter: after heard_fast it heard
  // the same SYNC frame again and again.
  bool then_repeated_sync = false;
};

// True when text is one SLIP frame carrying SYNC, repeated.
bool IsRepeatedSyncFrame(const std::string& text) {
  const std::size_t end = text.find('\xC0', 1);
  if (text.empty() || text[0] != '\xC0' || end == std::string::npos) return false;
  const std::string frame = text.substr(0, end + 1);
  if (frame.find("SYNC") == std::string::npos) return false;
  for (std::size_t at = 0; at < text.size(); at += frame.size()) {
    if (text.compare(at, frame.size(), frame) != 0) return false;
  }
  return true;
}

std::ostream& operator<<(std::ostream& out, const Scenario& s) { return out << s.name; }

const std::string kReached = kSetupRequest + kHandOver;

std::string Endless(const std::string& id, std::size_t count) {
  std::string text;
  while (text.size() < count) text += id;
  return text.substr(0, count);
}

// From the opening parenthesis on the tool reads at most 256 bytes: the
// parenthesis, two revision bytes and 253 ID characters.
constexpr std::size_t kIdCharactersBeforeBound = 256 - 3;

const std::vector<Scenario> kScenarios = {
    // Complete runs.
    {"on",
     {},
     {"on"},
     Complete("on"),
     0,
     kWrittenOn,
     2,
     kReached,
     {{"lost_from_host", 0}, {"dropped_from_host", 0}, {"writes", 3}}},
    {"off", {}, {"off"}, Complete("off"), 0, kWrittenOff, 2, kReached, {}},
    {"on_with_further_words", {}, {"on", "off", "x"}, Complete("on"), 0, kWrittenOn, 2, kReached, {}},
    {"other_accepted_id", {"--id", "KVT4062"}, {"on"}, Complete("on", "KVT4062"), 0, kWrittenOn, 2, kReached, {}},
    {"mixed_id_3052_then_4062", {"--id", "KVT3062"}, {"on"}, Complete("on", "KVT3062"), 0, kWrittenOn, 2, kReached, {}},
    {"mixed_id_4062_then_3052",
     {"--id", "KVT4052"},
     {"off"},
     Complete("off", "KVT4052"),
     0,
     kWrittenOff,
     2,
     kReached,
     {}},
    {"short_id", {"--id", "KVT"}, {"on"}, Complete("on", "KVT"), 0, kWrittenOn, 2, kReached, {}},
    {"empty_id", {"--id", ""}, {"on"}, Complete("on", ""), 0, kWrittenOn, 2, kReached, {}},
    {"long_id", {"--id", "KVT3052-EXTRA"}, {"on"}, Complete("on", "KVT3052-EXTRA"), 0, kWrittenOn, 2, kReached, {}},
    {"parentheses_in_revision", {"--revision", "))"}, {"on"}, Complete("on"), 0, kWrittenOn, 2, kReached, {}},
    {"non_default_start_values",
     {"--uart-config", "0x00", "--host-interface", "9", "--vm-disable", "7"},
     {"off"},
     Complete("off"),
     0,
     kWrittenOff,
     2,
     kReached,
     {}},

    // The module link recovers from single faults.
    {"first_frame_from_host_lost",
     {"--lose-from-host", "1"},
     {"on"},
     Complete("on"),
     0,
     kWrittenOn,
     2,
     kReached,
     {{"lost_from_host", 1}, {"writes", 3}}},
    {"third_frame_from_host_lost",
     {"--lose-from-host", "3"},
     {"on"},
     Complete("on"),
     0,
     kWrittenOn,
     2,
     kReached,
     {{"lost_from_host", 1}, {"writes", 3}}},
    {"first_frame_to_host_lost",
     {"--lose-to-host", "1"},
     {"on"},
     Complete("on"),
     0,
     kWrittenOn,
     2,
     kReached,
     {{"lost_to_host", 1}, {"writes", 3}}},
    {"third_frame_to_host_lost",
     {"--lose-to-host", "3"},
     {"on"},
     Complete("on"),
     0,
     kWrittenOn,
     2,
     kReached,
     {{"lost_to_host", 1}, {"writes", 3}}},
    {"third_frame_from_host_corrupted",
     {"--corrupt-from-host", "3"},
     {"on"},
     Complete("on"),
     0,
     kWrittenOn,
     2,
     kReached,
     {{"corrupted_from_host", 1}, {"dropped_from_host", 1}, {"writes", 3}}},
    {"fourth_frame_to_host_corrupted",
     {"--corrupt-to-host", "4"},
     {"on"},
     Complete("on"),
     0,
     kWrittenOn,
     2,
     kReached,
     {{"corrupted_to_host", 1}, {"writes", 3}}},

    // The adapter does not answer the pulses as it should.
    {"no_reply", {"--no-reply"}, {"on"}, PnpFailed(""), 1, kUntouched, 1, "", {}},
    {"first_byte_not_parenthesis", {"--first-byte", "["}, {"on"}, PnpFailed(""), 1, kUntouched, 1, "", {}},
    {"first_id_character_wrong", {"--id", "XVT3052"}, {"on"}, PnpFailed("X"), 1, kUntouched, 1, "", {}},
    {"third_id_character_wrong", {"--id", "KVX3052"}, {"on"}, PnpFailed("KVX"), 1, kUntouched, 1, "", {}},
    {"seventh_id_character_wrong", {"--id", "KVT3053"}, {"on"}, PnpFailed("KVT3053"), 1, kUntouched, 1, "", {}},
    {"silent_after_id", {"--no-close", "silent"}, {"on"}, PnpFailed("KVT3052"), 1, kUntouched, 1, "", {}},
    {"silent_inside_compared_id",
     {"--id", "KVT", "--no-close", "silent"},
     {"on"},
     PnpFailed(std::string("KVT\0", 4)),
     1,
     kUntouched,
     1,
     "",
     {}},
    {"never_closing_parenthesis",
     {"--no-close", "endless"},
     {"on"},
     PnpFailed(Endless("KVT3052", kIdCharactersBeforeBound)),
     1,
     kUntouched,
     1,
     "",
     {}},

    // The setup handshake fails.
    {"byte_after_parenthesis",
     {"--after", "Z"},
     {"on"},
     HandshakeFailed("KVT3052", "Z"),
     1,
     kUntouched,
     1,
     kSetupRequest,
     {}},
    {"ready_wrong_at_first_byte",
     {"--ready-wrong-at", "1"},
     {"on"},
     HandshakeFailed("KVT3052", "?"),
     1,
     kUntouched,
     1,
     kSetupRequest,
     {}},
    {"ready_wrong_at_thirteenth_byte",
     {"--ready-wrong-at", "13"},
     {"on"},
     HandshakeFailed("KVT3052", "KESTRAVIN RE?"),
     1,
     kUntouched,
     1,
     kSetupRequest,
     {}},
    {"ready_wrong_at_last_byte",
     {"--ready-wrong-at", "15"},
     {"off"},
     HandshakeFailed("KVT3052", "KESTRAVIN READ?"),
     1,
     kUntouched,
     1,
     kSetupRequest,
     {}},
    {"ready_silent",
     {"--ready-silent"},
     {"on"},
     HandshakeFailed("KVT3052", std::string(1, '\0')),
     1,
     kUntouched,
     1,
     kSetupRequest,
     {}},

    // The module link does not open.
    // prodtest's SYNCs reach only the adapter, which is not listening for them.
    {"no_handover",
     {"--no-handover"},
     {"on"},
     Found() + kLinkFailed,
     1,
     kUntouched,
     2,
     kReached,
     {{"frames_from_host", 0}},
     true},
    {"every_frame_from_host_lost",
     {"--lose-from-host-every", "1"},
     {"on"},
     Found() + kLinkFailed,
     1,
     kUntouched,
     2,
     kReached,
     {{"syncs", 0}}},
    {"every_frame_to_host_corrupted",
     {"--corrupt-to-host-every", "1"},
     {"on"},
     Found() + kLinkFailed,
     1,
     kUntouched,
     2,
     kReached,
     {{"confs", 0}}},

    // A setting write is refused: the later ones are not attempted.
    {"uart_config_refused",
     {"--refuse", "uart-config"},
     {"on"},
     Found() + kUartConfigFailed,
     1,
     kUntouched,
     2,
     kReached,
     {}},
    {"host_interface_refused",
     {"--refuse", "host-interface"},
     {"on"},
     Found() + kHostInterfaceFailed,
     1,
     ModuleValues{0xA8, 1, 1},
     2,
     kReached,
     {}},
    {"vm_disable_refused",
     {"--refuse", "vm-disable"},
     {"off"},
     Found() + kVmDisableFailed,
     1,
     ModuleValues{0xA0, 4, 1},
     2,
     kReached,
     {}},

    // The port is held by someone else.
    {"port_busy", {"--busy"}, {"on"}, OpenFailed(5), 1, kUntouched, 1, "", {}},

    // The command line alone decides: the port is never opened.
    {"no_word", {}, {}, "Usage: \n" + TheTool().name_in_usage + " [on] | [off]\n", 2, kUntouched, 0, "", {}},
    {"word_in_capitals", {}, {"ON"}, "Invalid Argument: ON\n", 2, kUntouched, 0, "", {}},
    {"empty_word", {}, {""}, "Invalid Argument: \n", 2, kUntouched, 0, "", {}},
};

// How far a row's road gets on the line, from how often it opens the port
// and what it prints: prodtest opens it a second time; "PNP HS Failed"
// follows the switch to 115200; "Waiting for PNP Reply" follows the pulses;
// an open with neither is refused before any line setting.
LineReach ReachOf(const Scenario& s) {
  if (s.opens == 0) return LineReach::kNoOpen;
  if (s.opens == 2) return LineReach::kLink;
  if (s.output.find("PNP HS Failed") != std::string::npos) return LineReach::kSwitch;
  if (s.output.find("Waiting for PNP Reply") != std::string::npos) return LineReach::kPulses;
  return LineReach::kUndrivenOpen;
}

// A port that the emulator holds stops only a build that opens exclusively.
std::vector<Scenario> RoadsFor(const ToolUnderTest& tool) {
  std::vector<Scenario> roads;
  for (const Scenario& s : kScenarios) {
    const auto& options = s.emulator_options;
    const bool holds_port = std::find(options.begin(), options.end(), "--busy") != options.end();
    if (tool.opens_exclusively || !holds_port) roads.push_back(s);
  }
  return roads;
}

class HandshakeRun : public testing::TestWithParam<Scenario> {};

TEST_P(HandshakeRun, PrintsExitsAndLeavesModuleAsExpected) {
  const Scenario& s = GetParam();
  const ToolUnderTest& tool = TheTool();
  const EmulatorRun run = RunUnderEmulator(tool, s.emulator_options, s.words, RunLimit(tool));
  ASSERT_FALSE(run.process.timed_out) << "the " << tool.build << " run did not end within " << RunLimit(tool).count()
                                      << " s; output so far:\n"
                                      << run.process.out << run.process.err;
  EXPECT_EQ(run.process.exit_status, 0) << "the emulator itself failed: " << run.process.err;
  EXPECT_EQ(run.text, s.output) << tool.build;

  ASSERT_TRUE(run.report_error.empty()) << run.report_error;
  const Json& report = run.report;
  // The tool's standard error says why when a wrapper changed the status.
  EXPECT_EQ(At(report, "command_exit"), s.exit_status) << tool.build << ":\n" << run.process.err;

  EXPECT_EQ(At(report, "port/opens"), s.opens);
  EXPECT_EQ(At(report, "port/closes"), s.opens);
  EXPECT_EQ(At(report, "port/open_at_end"), false);

  // The tool writes nothing to the adapter but at 115200.
  const Json& heard = At(report, "adapter/received");
  if (s.heard_fast.empty()) {
    EXPECT_EQ(heard, Json::array());
  } else {
    ASSERT_EQ(heard.size(), 1u) << heard;
    EXPECT_EQ(At(heard, "0/baud"), 115200);
    const std::string bytes = FromHex(At(heard, "0/hex").get<std::string>());
    EXPECT_EQ(At(heard, "0/bytes"), bytes.size());
    if (s.then_repeated_sync) {
      EXPECT_EQ(bytes.substr(0, s.heard_fast.size()), s.heard_fast);
      EXPECT_TRUE(IsRepeatedSyncFrame(bytes.substr(s.heard_fast.size()))) << At(heard, "0/hex");
    } else {
      EXPECT_EQ(bytes, s.heard_fast);
    }
  }

  // The adapter judged the tool's pulses on every road that got as far as
  // them, and found them right (a wrong sequence would get no reply).
  const Json& pulses = At(report, "adapter/pulses");
  if (s.output.find("Waiting for PNP Reply") != std::string::npos) {
    ASSERT_EQ(pulses.size(), 1u) << pulses;
    EXPECT_EQ(At(pulses, "0/accepted"), true) << At(pulses, "0/verdict");
    EXPECT_GE(At(pulses, "0/changes").size(), 4u);
  } else {
    EXPECT_EQ(pulses, Json::array());
  }

  ExpectLineTraces(report, ReachOf(s), tool);

  const Json& module = At(report, "module");
  EXPECT_EQ(At(module, "uart_config"), s.values.uart_config);
  EXPECT_EQ(At(module, "host_interface"), s.values.host_interface);
  EXPECT_EQ(At(module, "vm_disable"), s.values.vm_disable);
  for (const auto& [member, count] : s.module_counts) {
    const Json& value = At(module, member);
    const long long got = value.is_array() ? static_cast<long long>(value.size()) : value.get<long long>();
    EXPECT_EQ(got, count) << member;
  }
}

INSTANTIATE_TEST_SUITE_P(Roads, HandshakeRun, testing::ValuesIn(RoadsFor(TheTool())),
                         [](const testing::TestParamInfo<Scenario>& info) { return info.param.name; });

}  // namespace
}  // namespace e2e
