// The emulator's command line: a table of command lines with the options
// they give or the error they are refused with. Numbers are decimal unless
// written with 0x; every option appears in at least one row (checked against
// the help text, so a new option without a row fails).
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bcsp/settings_message.h"
#include "emulator/options.h"

namespace emulator {
namespace {

struct ParseOutcome {
  ParseResult result;
  Options options;
  std::string error;
};

ParseOutcome Parse(const std::vector<std::string>& args) {
  std::vector<std::string> words = {"corvane-emulator"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  ParseOutcome outcome;
  outcome.result = ParseOptions(static_cast<int>(words.size()), argv.data(), &outcome.options, &outcome.error);
  return outcome;
}

using Check = std::function<void(const Options&)>;

struct Row {
  std::string name;
  std::vector<std::string> args;
  ParseResult result;
  std::string error;  // the whole text, for kError
  Check check;        // for kRun
};

std::ostream& operator<<(std::ostream& out, const Row& row) { return out << row.name; }

const std::vector<std::string> kCommand = {"--", "tool", "on"};

// args, then the command.
std::vector<std::string> Run(std::vector<std::string> args) {
  args.insert(args.end(), kCommand.begin(), kCommand.end());
  return args;
}

Row Good(const std::string& name, std::vector<std::string> args, Check check) {
  return {name, std::move(args), ParseResult::kRun, "", std::move(check)};
}

Row Bad(const std::string& name, std::vector<std::string> args, const std::string& error) {
  return {name, std::move(args), ParseResult::kError, error, nullptr};
}

Row Ends(const std::string& name, std::vector<std::string> args, ParseResult result) {
  return {name, std::move(args), result, "", nullptr};
}

const std::vector<Row> kRows = {
    // Running.
    Good("command_only", kCommand,
         [](const Options& o) {
           EXPECT_EQ(o.mode, RunMode::kCommand);
           EXPECT_EQ(o.command, (std::vector<std::string>{"tool", "on"}));
           EXPECT_EQ(o.adapter.pulse_check, PulseCheck::kJudged);
           EXPECT_FALSE(o.quiet);
           EXPECT_FALSE(o.verbose);
           EXPECT_FALSE(o.busy);
           EXPECT_EQ(o.module.loss.seed, kDefaultLossSeed);
           EXPECT_EQ(o.adapter.reply_delay_ms, 650u);
           EXPECT_EQ(o.adapter.ready,
                     (Bytes{'K', 'E', 'S', 'T', 'R', 'A', 'V', 'I', 'N', ' ', 'R', 'E', 'A', 'D', 'Y'}));
           EXPECT_EQ(o.adapter.trickle_ms, 1400u);
           EXPECT_EQ(o.vanish, VanishStep::kNever);
           EXPECT_EQ(o.signal_at, VanishStep::kNever);
         }),
    Good("command_keeps_its_own_options", {"--", "tool", "--help", "-h", "--", "x"},
         [](const Options& o) {
           EXPECT_EQ(o.command, (std::vector<std::string>{"tool", "--help", "-h", "--", "x"}));
         }),
    Good("link", {"--link", "/tmp/COM1"},
         [](const Options& o) {
           EXPECT_EQ(o.mode, RunMode::kLink);
           EXPECT_EQ(o.link_path, "/tmp/COM1");
           EXPECT_TRUE(o.command.empty());
           EXPECT_EQ(o.adapter.pulse_check, PulseCheck::kTimer);
         }),
    Good("link_with_equals", {"--link=/tmp/COM1"}, [](const Options& o) { EXPECT_EQ(o.link_path, "/tmp/COM1"); }),
    Good("json_quiet_verbose_busy", Run({"--json", "r.json", "--quiet", "--verbose", "--busy"}),
         [](const Options& o) {
           EXPECT_EQ(o.json_path, "r.json");
           EXPECT_TRUE(o.quiet);
           EXPECT_TRUE(o.verbose);
           EXPECT_TRUE(o.busy);
         }),
    Good("vanish_at", Run({"--vanish-at", "write-2"}),
         [](const Options& o) { EXPECT_EQ(o.vanish, VanishStep::kWrite2); }),
    Bad("vanish_at_unknown_step", Run({"--vanish-at", "later"}), "--vanish-at: no step \"later\" (--help lists them)"),
    Good("vanish_at_pnp_wait", Run({"--vanish-at", "pnp-wait"}),
         [](const Options& o) { EXPECT_EQ(o.vanish, VanishStep::kPnpWait); }),
    Good("signal_at_is_sigterm_by_default", Run({"--signal-at", "pulses"}),
         [](const Options& o) {
           EXPECT_EQ(o.signal_at, VanishStep::kPulses);
           EXPECT_EQ(o.signal_number, SIGTERM);
           EXPECT_EQ(o.vanish, VanishStep::kNever);
         }),
    Good("signal_at_int", Run({"--signal-at", "pnp-wait:INT"}),
         [](const Options& o) {
           EXPECT_EQ(o.signal_at, VanishStep::kPnpWait);
           EXPECT_EQ(o.signal_number, SIGINT);
         }),
    Good("signal_at_sighup_with_equals", Run({"--signal-at=handover:SIGHUP"}),
         [](const Options& o) {
           EXPECT_EQ(o.signal_at, VanishStep::kHandOver);
           EXPECT_EQ(o.signal_number, SIGHUP);
         }),
    Good("signal_at_the_last_given", Run({"--signal-at", "write-1:INT", "--signal-at", "write-3"}),
         [](const Options& o) {
           EXPECT_EQ(o.signal_at, VanishStep::kWrite3);
           EXPECT_EQ(o.signal_number, SIGTERM);
         }),
    Good("signal_and_vanish_apart", Run({"--signal-at", "sync:TERM", "--vanish-at", "write-2"}),
         [](const Options& o) {
           EXPECT_EQ(o.signal_at, VanishStep::kSync);
           EXPECT_EQ(o.vanish, VanishStep::kWrite2);
         }),
    Bad("signal_at_unknown_step", Run({"--signal-at", "later:INT"}),
        "--signal-at: no step \"later\" (--help lists them)"),
    Good("signal_at_kill", Run({"--signal-at", "handover:KILL"}),
         [](const Options& o) { EXPECT_EQ(o.signal_number, SIGKILL); }),
    Bad("signal_at_unknown_signal", Run({"--signal-at", "pulses:QUIT"}),
        "--signal-at: no signal \"QUIT\" (TERM, INT, HUP or KILL)"),
    Bad("signal_at_empty_signal", Run({"--signal-at", "pulses:"}),
        "--signal-at: no signal \"\" (TERM, INT, HUP or KILL)"),
    Bad("signal_at_lower_case_signal", Run({"--signal-at", "pulses:term"}),
        "--signal-at: no signal \"term\" (TERM, INT, HUP or KILL)"),
    Bad("signal_at_on_a_link", {"--link", "L", "--signal-at", "pulses"},
        "--signal-at signals the command; --link runs none"),
    Ends("help", Run({"--help"}), ParseResult::kHelp),
    Ends("help_short", {"-h"}, ParseResult::kHelp),
    Bad("help_after_a_bad_value_is_not_reached", {"--seed", "x", "-h"},
        "--seed: \"x\" is not a number (decimal, or hex after 0x)"),
    Ends("help_before_a_bad_value", {"-h", "--seed", "x"}, ParseResult::kHelp),
    Ends("version", {"--version"}, ParseResult::kVersion),
    Bad("no_command", {"--quiet"}, "give a command after --, or --link PATH"),
    Bad("separator_and_nothing", {"--"}, "give a command after --, or --link PATH"),
    Bad("link_with_command", {"--link", "/tmp/COM1", "--", "tool"},
        "--link serves the port to others; it runs no command"),
    Bad("link_with_empty_separator", {"--link", "/tmp/COM1", "--"},
        "--link serves the port to others; it runs no command"),
    Bad("link_without_path", {"--link"}, "--link needs PATH"),
    Bad("unknown_option", Run({"--loud"}), "unknown option --loud"),
    Bad("single_dash_option", Run({"-q"}), "unexpected argument \"-q\" (the command follows --)"),
    Bad("command_without_separator", {"tool", "on"}, "unexpected argument \"tool\" (the command follows --)"),
    Bad("flag_with_value", Run({"--quiet=yes"}), "--quiet takes no value"),

    // Modem lines.
    Good("no_modem_lines", Run({"--no-modem-lines"}),
         [](const Options& o) { EXPECT_EQ(o.adapter.pulse_check, PulseCheck::kTimer); }),
    Good("any_pulses", Run({"--any-pulses"}),
         [](const Options& o) { EXPECT_EQ(o.adapter.pulse_check, PulseCheck::kAnyPulses); }),
    Good("link_with_modem_lines", {"--link", "L", "--modem-lines", "--modem-lines-library", "/lib/x.so"},
         [](const Options& o) {
           EXPECT_EQ(o.adapter.pulse_check, PulseCheck::kJudged);
           EXPECT_EQ(o.modem_lines_library, "/lib/x.so");
         }),
    Bad("no_modem_lines_with_any_pulses", Run({"--no-modem-lines", "--any-pulses"}),
        "--no-modem-lines leaves no lines for --modem-lines or --any-pulses"),
    Bad("any_pulses_on_a_link_without_lines", {"--link", "L", "--any-pulses"},
        "--any-pulses with --link needs --modem-lines"),

    // Adapter.
    Good("no_reply_ready_silent_no_handover", Run({"--no-reply", "--ready-silent", "--no-handover"}),
         [](const Options& o) {
           EXPECT_FALSE(o.adapter.reply);
           EXPECT_TRUE(o.adapter.ready_silent);
           EXPECT_FALSE(o.adapter.handover);
         }),
    Good("reply_delay_decimal", Run({"--reply-delay", "800"}),
         [](const Options& o) { EXPECT_EQ(o.adapter.reply_delay_ms, 800u); }),
    Good("reply_delay_leading_zero_is_decimal", Run({"--reply-delay", "0800"}),
         [](const Options& o) { EXPECT_EQ(o.adapter.reply_delay_ms, 800u); }),
    Good("reply_delay_hex", Run({"--reply-delay=0x320"}),
         [](const Options& o) { EXPECT_EQ(o.adapter.reply_delay_ms, 800u); }),
    Good("reply_delay_limit", Run({"--reply-delay", "60000"}),
         [](const Options& o) { EXPECT_EQ(o.adapter.reply_delay_ms, 60000u); }),
    Bad("reply_delay_over_limit", Run({"--reply-delay", "60001"}), "--reply-delay: \"60001\" is more than 60000"),
    Good("first_byte_escape", Run({"--first-byte", "\\x5b"}),
         [](const Options& o) { EXPECT_EQ(o.adapter.first_byte, 0x5B); }),
    Bad("first_byte_two_bytes", Run({"--first-byte", "(("}), "--first-byte: --first-byte takes exactly one byte"),
    Good("revision_id_after", Run({"--revision", "2\\x00", "--id", "KVT\\\\4062", "--after", "Z\\n"}),
         [](const Options& o) {
           EXPECT_EQ(o.adapter.revision, (Bytes{'2', 0}));
           EXPECT_EQ(o.adapter.id, (Bytes{'K', 'V', 'T', '\\', '4', '0', '6', '2'}));
           EXPECT_EQ(o.adapter.after, (Bytes{'Z', '\n'}));
         }),
    Good("empty_id", Run({"--id", ""}), [](const Options& o) { EXPECT_TRUE(o.adapter.id.empty()); }),
    Bad("id_bad_escape", Run({"--id", "K\\q"}), "--id: unknown escape \\q in \"K\\q\""),
    Good("no_close_silent", Run({"--no-close", "silent"}),
         [](const Options& o) { EXPECT_EQ(o.adapter.ending, ReplyEnding::kSilent); }),
    Good("no_close_endless", Run({"--no-close", "endless"}),
         [](const Options& o) { EXPECT_EQ(o.adapter.ending, ReplyEnding::kEndless); }),
    Good("no_close_trickle", Run({"--no-close", "trickle", "--trickle-ms", "1300"}),
         [](const Options& o) {
           EXPECT_EQ(o.adapter.ending, ReplyEnding::kTrickle);
           EXPECT_EQ(o.adapter.trickle_ms, 1300u);
         }),
    Good("trickle_ms_limit", Run({"--trickle-ms", "60000"}),
         [](const Options& o) { EXPECT_EQ(o.adapter.trickle_ms, 60000u); }),
    Bad("trickle_ms_zero", Run({"--trickle-ms", "0"}), "--trickle-ms: a trickle needs at least 1 ms between bytes"),
    Bad("trickle_ms_over_limit", Run({"--trickle-ms", "60001"}), "--trickle-ms: \"60001\" is more than 60000"),
    Bad("no_close_other", Run({"--no-close", "never"}), "--no-close: --no-close takes silent, endless or trickle"),
    Good("ready_with_escapes", Run({"--ready", "KESTRAVIN\\x1b[2J\\x0e\\0"}),
         [](const Options& o) {
           EXPECT_EQ(o.adapter.ready,
                     (Bytes{'K', 'E', 'S', 'T', 'R', 'A', 'V', 'I', 'N', 0x1B, '[', '2', 'J', 0x0E, 0x00}));
         }),
    Good("ready_empty", Run({"--ready", ""}), [](const Options& o) { EXPECT_TRUE(o.adapter.ready.empty()); }),
    Bad("ready_bad_escape", Run({"--ready", "\\x1"}), "--ready: \\x needs two hex digits in \"\\x1\""),
    Good("ready_wrong_at_first", Run({"--ready-wrong-at", "1"}),
         [](const Options& o) { EXPECT_EQ(o.adapter.ready_wrong_at, 1u); }),
    Good("ready_wrong_at_last_with_leading_zero", Run({"--ready-wrong-at", "015"}),
         [](const Options& o) { EXPECT_EQ(o.adapter.ready_wrong_at, 15u); }),
    Bad("ready_wrong_at_zero", Run({"--ready-wrong-at", "0"}),
        "--ready-wrong-at: the ready reply's bytes are counted from 1"),
    Bad("ready_wrong_at_past_the_reply", Run({"--ready-wrong-at", "16"}), "--ready-wrong-at: \"16\" is more than 15"),
    Bad("ready_wrong_at_hex_past_the_reply", Run({"--ready-wrong-at", "0x10"}),
        "--ready-wrong-at: \"0x10\" is more than 15"),

    // Module settings.
    Good("values_hex_and_decimal", Run({"--uart-config", "0xA8", "--host-interface", "09", "--vm-disable", "0"}),
         [](const Options& o) {
           EXPECT_EQ(o.module.uart_config, 0xA8u);
           EXPECT_EQ(o.module.host_interface, 9u);
           EXPECT_EQ(o.module.vm_disable, 0u);
         }),
    Good("value_upper_case_hex_prefix", Run({"--uart-config", "0XfF"}),
         [](const Options& o) { EXPECT_EQ(o.module.uart_config, 0xFFu); }),
    Good("value_at_32_bits", Run({"--vm-disable", "4294967295"}),
         [](const Options& o) { EXPECT_EQ(o.module.vm_disable, 0xFFFFFFFFu); }),
    Bad("value_past_32_bits", Run({"--vm-disable", "0x100000000"}),
        "--vm-disable: \"0x100000000\" is more than 4294967295"),
    Bad("value_past_64_bits", Run({"--vm-disable", "99999999999999999999999"}),
        "--vm-disable: \"99999999999999999999999\" is more than 4294967295"),
    Bad("value_negative", Run({"--host-interface", "-1"}),
        "--host-interface: \"-1\" is not a number (decimal, or hex after 0x)"),
    Bad("value_plus_sign", Run({"--host-interface", "+1"}),
        "--host-interface: \"+1\" is not a number (decimal, or hex after 0x)"),
    Bad("value_octal_digit_form_with_8", Run({"--host-interface", "0o8"}),
        "--host-interface: \"0o8\" is not a number (decimal, or hex after 0x)"),
    Bad("value_hex_without_digits", Run({"--uart-config", "0x"}),
        "--uart-config: \"0x\" is not a number (decimal, or hex after 0x)"),
    Bad("value_hex_digit_without_prefix", Run({"--uart-config", "A8"}),
        "--uart-config: \"A8\" is not a number (decimal, or hex after 0x)"),
    Bad("value_with_space", Run({"--uart-config", " 1"}),
        "--uart-config: \" 1\" is not a number (decimal, or hex after 0x)"),
    Bad("value_empty", Run({"--uart-config="}), "--uart-config: \"\" is not a number (decimal, or hex after 0x)"),
    Bad("value_missing", {"--uart-config"}, "--uart-config needs VALUE"),
    Good("refuse_each", Run({"--refuse", "uart-config", "--refuse", "host-interface", "--refuse", "vm-disable"}),
         [](const Options& o) {
           EXPECT_EQ(o.module.refused, (std::set<std::uint16_t>{bcsp::kSettingUartConfig, bcsp::kSettingHostInterface,
                                                                bcsp::kSettingVmDisable}));
         }),
    Bad("refuse_other", Run({"--refuse", "baud"}),
        "--refuse: --refuse takes uart-config, host-interface or vm-disable"),

    // Module link.
    Good("lose_and_corrupt_nth",
         Run({"--lose-from-host", "1", "--lose-from-host", "010", "--lose-to-host", "3", "--corrupt-from-host", "0x4",
              "--corrupt-to-host", "5"}),
         [](const Options& o) {
           EXPECT_EQ(o.module.from_host.lose.nth, (std::set<unsigned>{1, 10}));
           EXPECT_EQ(o.module.to_host.lose.nth, (std::set<unsigned>{3}));
           EXPECT_EQ(o.module.from_host.corrupt.nth, (std::set<unsigned>{4}));
           EXPECT_EQ(o.module.to_host.corrupt.nth, (std::set<unsigned>{5}));
           EXPECT_EQ(o.module.from_host.lose.every, 0u);
         }),
    Good("lose_and_corrupt_every",
         Run({"--lose-from-host-every", "2", "--lose-to-host-every", "3", "--corrupt-from-host-every", "4",
              "--corrupt-to-host-every", "05"}),
         [](const Options& o) {
           EXPECT_EQ(o.module.from_host.lose.every, 2u);
           EXPECT_EQ(o.module.to_host.lose.every, 3u);
           EXPECT_EQ(o.module.from_host.corrupt.every, 4u);
           EXPECT_EQ(o.module.to_host.corrupt.every, 5u);
           EXPECT_TRUE(o.module.from_host.lose.nth.empty());
         }),
    Bad("frame_zero", Run({"--lose-to-host", "0"}), "--lose-to-host: frames are counted from 1"),
    Bad("frame_hex_zero", Run({"--corrupt-to-host-every", "0x0"}),
        "--corrupt-to-host-every: frames are counted from 1"),
    Good("loss_and_seed", Run({"--loss", "0.1", "--seed", "34"}),
         [](const Options& o) {
           EXPECT_DOUBLE_EQ(o.module.loss.probability, 0.1);
           EXPECT_EQ(o.module.loss.seed, 34u);
         }),
    Good("seed_with_leading_zero_is_decimal", Run({"--seed", "010"}),
         [](const Options& o) { EXPECT_EQ(o.module.loss.seed, 10u); }),
    Good("seed_zero", Run({"--seed", "0"}), [](const Options& o) { EXPECT_EQ(o.module.loss.seed, 0u); }),
    Good("seed_hex", Run({"--seed", "0x10"}), [](const Options& o) { EXPECT_EQ(o.module.loss.seed, 16u); }),
    Bad("seed_decimal_fraction", Run({"--seed", "1.5"}), "--seed: \"1.5\" is not a number (decimal, or hex after 0x)"),
    Good("loss_bounds", Run({"--loss", "1"}),
         [](const Options& o) { EXPECT_DOUBLE_EQ(o.module.loss.probability, 1.0); }),
    Bad("loss_over_one", Run({"--loss", "1.5"}), "--loss: \"1.5\" is not a probability from 0 to 1"),
    Bad("loss_not_a_number", Run({"--loss", "most"}), "--loss: \"most\" is not a probability from 0 to 1"),
};

class CommandLine : public testing::TestWithParam<Row> {};

TEST_P(CommandLine, GivesTheOptionsOrTheError) {
  const Row& row = GetParam();
  const ParseOutcome outcome = Parse(row.args);
  ASSERT_EQ(outcome.result, row.result) << outcome.error;
  if (row.result == ParseResult::kError) {
    EXPECT_EQ(outcome.error, row.error);
  }
  if (row.check) row.check(outcome.options);
}

INSTANTIATE_TEST_SUITE_P(Rows, CommandLine, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row>& info) { return info.param.name; });

// Each option of the help text in some row of the table.
TEST(CommandLineTable, NamesEveryOptionOfTheHelp) {
  std::set<std::string> named;
  for (const Row& row : kRows) {
    for (const std::string& arg : row.args) {
      if (arg == "--") break;
      named.insert(arg.substr(0, arg.find('=')));
    }
  }
  std::istringstream help(HelpText("corvane-emulator"));
  std::size_t options = 0;
  for (std::string line; std::getline(help, line);) {
    if (line.rfind("  --", 0) != 0) continue;
    const std::string option = line.substr(2, line.find(' ', 2) - 2);
    ++options;
    EXPECT_EQ(named.count(option), 1u) << option << " has no row";
  }
  EXPECT_GE(options, 39u);
  EXPECT_NE(HelpText("corvane-emulator").find("(also -h)"), std::string::npos);
}

}  // namespace
}  // namespace emulator
