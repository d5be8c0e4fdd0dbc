// What the emulator is asked to do: run a command or serve a link, how the
// adapter answers (including every way it can answer wrongly on purpose),
// what the module starts with and which of its frames go astray.
#ifndef CORVANE_EMULATOR_OPTIONS_H
#define CORVANE_EMULATOR_OPTIONS_H

#include <csignal>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "emulator/byte_text.h"
#include "emulator/vanish_step.h"

namespace emulator {

enum class ReplyEnding {
  kParenthesis,  // the closing parenthesis, as a working adapter sends it
  kSilent,       // nothing after the ID: the line falls silent
  kEndless,      // ID characters again and again, never a closing parenthesis
  kTrickle,      // ID characters one at a time, trickle_ms apart, never a closing parenthesis
};

// How the adapter decides that the host has pulsed its modem lines.
enum class PulseCheck {
  kTimer,      // no modem lines: answer reply_delay_ms after the line reaches 1200 baud
  kJudged,     // answer only a right pulse sequence (emulator/pulse_judge.h)
  kAnyPulses,  // judge the pulses for the report, but answer on the timer whatever they were
};

struct AdapterOptions {
  bool reply = true;
  PulseCheck pulse_check = PulseCheck::kTimer;
  unsigned reply_delay_ms = 650;  // from the line reaching 1200 baud after an open
  std::uint8_t first_byte = '(';
  Bytes revision = {'1', '0'};
  Bytes id = {'K', 'V', 'T', '3', '0', '5', '2'};
  ReplyEnding ending = ReplyEnding::kParenthesis;
  unsigned trickle_ms = 1400;  // kTrickle: from the reply to the first byte, and between bytes
  Bytes after;                 // sent right after the closing parenthesis
  Bytes ready = {'K', 'E', 'S', 'T', 'R', 'A', 'V', 'I', 'N', ' ', 'R', 'E', 'A', 'D', 'Y'};
  bool ready_silent = false;
  unsigned ready_wrong_at = 0;  // 1-based byte of the ready reply to spoil; 0: none
  bool handover = true;
};

// Which frames of one direction of the module link go astray, counted from 1.
struct FrameFaultRule {
  std::set<unsigned> nth;
  unsigned every = 0;  // 0: none
};

struct DirectionFaults {
  FrameFaultRule lose;
  FrameFaultRule corrupt;
};

// Frames lost at random in both directions, each with the same probability;
// the same seed loses the same frames.
constexpr std::uint32_t kDefaultLossSeed = 1;
struct RandomLoss {
  double probability = 0;
  std::uint32_t seed = kDefaultLossSeed;
};

struct ModuleOptions {
  std::uint32_t uart_config = 0xA0;
  std::uint32_t host_interface = 1;
  std::uint32_t vm_disable = 1;
  std::set<std::uint16_t> refused;  // setting ids answered with "value refused"
  DirectionFaults from_host;
  DirectionFaults to_host;
  RandomLoss loss;
};

enum class RunMode { kCommand, kLink };

struct Options {
  RunMode mode = RunMode::kCommand;
  std::vector<std::string> command;  // kCommand
  std::string link_path;             // kLink
  std::string json_path;
  bool quiet = false;
  bool verbose = false;
  bool busy = false;
  VanishStep vanish = VanishStep::kNever;
  // The command is sent signal_number at this step (the steps and their
  // timing are --vanish-at's); the device carries on after it.
  VanishStep signal_at = VanishStep::kNever;
  int signal_number = SIGTERM;
  // The modem-line library (emulator/preload): on by default for a command,
  // off by default for a link; ParseOptions sets adapter.pulse_check from them.
  bool modem_lines = false;
  bool no_modem_lines = false;
  bool any_pulses = false;
  std::string modem_lines_library;  // empty: the one built beside the emulator
  AdapterOptions adapter;
  ModuleOptions module;
};

enum class ParseResult { kRun, kHelp, kVersion, kError };

// The command line into *options. kRun: *options is complete; kHelp (--help
// or -h) and kVersion (--version): print that and exit, the rest of the line
// unread; kError: *error says what is wrong. Numbers are decimal, or hex
// after 0x.
ParseResult ParseOptions(int argc, char** argv, Options* options, std::string* error);

// One line per option.
std::string HelpText(const std::string& program);

}  // namespace emulator

#endif
