// The real corvane-handshake under stress, against the emulator: device bytes
// that would drive a terminal, a reply that trickles in without ever closing,
// a signal at each kind of wait, and a standard output that cannot be
// written or is not there at all. The same rows run against each build of
// the tool (tool_under_test.h), natively, under valgrind's memcheck and under
// Wine; where a build cannot show a thing, its rows leave it out (see Build).
#include <signal.h>

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <string>
#include <vector>

#include "tests/e2e/bounded_process.h"
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/tool_under_test.h"

namespace e2e {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// What differs between the builds in these rows.
struct Build {
  // The signals that reach the tool as an interruption it handles. Wine turns
  // SIGINT into a console Ctrl-C; SIGTERM and SIGHUP have no Windows
  // counterpart that Wine raises (it ends the process as the signal would),
  // so only the native builds have those rows.
  std::vector<int> interrupting;
  // The exit status of an interrupted run as the emulator sees it: 128 +
  // the signal natively; under Wine the low byte of 0xC000013A, which is all
  // of a Windows exit code that a Linux parent gets.
  bool windows_status;
  // Wine's console draws a terminal's text with sequences of its own.
  bool console_drawn;
  // SIGKILL reaches the tool itself (otherwise it would end only the
  // wrapper, which cannot pass it on).
  bool killable;
  // The tool can be started with standard output closed. Under memcheck-run
  // it cannot: valgrind opens its log on the free descriptor 1, and the tool
  // inherits it there.
  bool starts_without_stdout;
  // The C library's text for a write to a pipe whose reader has gone. Under
  // Wine 8.0 the Windows C runtime's errno for it is EINVAL, not EPIPE.
  std::string broken_pipe;
};

const Build& TheBuild() {
#if defined(CORVANE_E2E_WINE)
  static const Build build{
      /*interrupting=*/{SIGINT}, /*windows_status=*/true,        /*console_drawn=*/true,
      /*killable=*/false,        /*starts_without_stdout=*/true, /*broken_pipe=*/"Invalid argument"};
#elif defined(CORVANE_E2E_MEMCHECK)
  // memcheck-run passes SIGKILL on no more than wine-run does.
  static const Build build{/*interrupting=*/{SIGINT, SIGTERM, SIGHUP},
                           /*windows_status=*/false,
                           /*console_drawn=*/false,
                           /*killable=*/false,
                           /*starts_without_stdout=*/false,
                           /*broken_pipe=*/"Broken pipe"};
#else
  static const Build build{/*interrupting=*/{SIGINT, SIGTERM, SIGHUP},
                           /*windows_status=*/false,
                           /*console_drawn=*/false,
                           /*killable=*/true,
                           /*starts_without_stdout=*/true,
                           /*broken_pipe=*/"Broken pipe"};
#endif
  return build;
}

bool Interrupts(int signal_number) {
  for (const int s : TheBuild().interrupting) {
    if (s == signal_number) return true;
  }
  return false;
}

int InterruptedStatus(int signal_number) {
  return TheBuild().windows_status ? static_cast<int>(0xC000013Au & 0xFFu) : 128 + signal_number;
}

// What a terminal shows of the bytes it was sent, as text. Wine's console
// hides and shows the cursor around each character it draws ("\x1b[?25l",
// "\x1b[?25h") and draws a space as "erase to the end, one column on"
// ("\x1b[K" then "\x1b[1C"); those are read back here. Every other byte,
// an escape sequence of anyone else's included, stays as it came.
std::string TerminalText(const std::string& raw) {
  if (!TheBuild().console_drawn) return raw;
  std::string text;
  for (std::size_t i = 0; i < raw.size();) {
    if (raw.compare(i, 6, "\x1b[?25l") == 0 || raw.compare(i, 6, "\x1b[?25h") == 0) {
      i += 6;
    } else if (raw.compare(i, 3, "\x1b[K") == 0) {
      i += 3;
    } else if (raw.compare(i, 2, "\x1b[") == 0 && i + 2 < raw.size() && std::isdigit(raw[i + 2]) != 0) {
      std::size_t end = i + 2;
      while (end < raw.size() && std::isdigit(raw[end]) != 0) ++end;
      if (end >= raw.size() || raw[end] != 'C') {
        text += raw[i++];
        continue;
      }
      text.append(std::stoul(raw.substr(i + 2, end - i - 2)), ' ');
      i = end + 1;
    } else {
      text += raw[i++];
    }
  }
  return text;
}

// The first byte that a terminal would take as anything but visible text,
// or -1: lines end in "\n" (after ConsoleText), all else is 0x20-0x7E.
long FirstInvisible(const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c != '\n' && (c < 0x20 || c > 0x7E)) return static_cast<long>(i);
  }
  return -1;
}

struct StressRun {
  ProcessResult process;  // the emulator's, whose standard output and error the tool shares
  std::string console;    // the tool's standard output as text, lines ending in "\n"
  Json report;
  std::string report_error;  // empty when the report was read
  milliseconds took{0};
};

// corvane-emulator --quiet OPTIONS -- [WRAPPER...] TOOL on: the emulator
// prints nothing of its own on standard output, so all there is the tool's.
StressRun RunUnderStress(const std::vector<std::string>& options, StdoutTo stdout_to,
                         const std::vector<std::string>& wrapper = {}, milliseconds limit = RunLimit(TheTool())) {
  ScratchDir scratch;
  const std::string json = scratch.File("report.json");
  std::vector<std::string> argv = {kEmulatorBinary, "--quiet", "--json", json};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back("--");
  argv.insert(argv.end(), wrapper.begin(), wrapper.end());
  argv.insert(argv.end(), TheTool().command.begin(), TheTool().command.end());
  argv.push_back("on");
  StressRun run;
  const auto start = std::chrono::steady_clock::now();
  run.process = RunBounded(argv, TheTool().env, limit, stdout_to);
  run.took = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
  const std::string shown = stdout_to == StdoutTo::kTerminal ? TerminalText(run.process.out) : run.process.out;
  run.console = ConsoleText(TheTool(), shown);
  ReadJsonFile(json, &run.report, &run.report_error);
  return run;
}

// The emulator ran the tool to its end and let go of everything; the tool
// closed the port as often as it opened it.
void ExpectRanToTheEnd(const StressRun& run) {
  ASSERT_FALSE(run.process.timed_out) << "no end within the limit (" << run.took.count() << " ms); output so far:\n"
                                      << run.process.out << run.process.err;
  EXPECT_EQ(run.process.exit_status, 0) << "the emulator itself failed: " << run.process.err;
  ASSERT_TRUE(run.report_error.empty()) << run.report_error;
  EXPECT_EQ(At(run.report, "port/opens"), At(run.report, "port/closes"));
  EXPECT_EQ(At(run.report, "port/open_at_end"), false);
}

void ExpectValues(const Json& report, const ModuleValues& values) {
  EXPECT_EQ(At(report, "module/uart_config"), values.uart_config);
  EXPECT_EQ(At(report, "module/host_interface"), values.host_interface);
  EXPECT_EQ(At(report, "module/vm_disable"), values.vm_disable);
}

// The port can be opened by an ordinary user again: the tool's exclusive
// flag was cleared before its last close. (Wine makes no open exclusive, so
// there the flag says nothing.)
void ExpectPortFree(const Json& report) {
  if (TheTool().opens_exclusively) {
    EXPECT_EQ(At(report, "port/exclusive_at_end"), false);
  }
}

// ---------------------------------------------------------------------------
// Device bytes on a terminal and toward a pipe.

struct EchoCase {
  std::string name;
  std::vector<std::string> options;
  StdoutTo stdout_to;
  std::string output;
  int exit_status;
  ModuleValues values;
};

std::ostream& operator<<(std::ostream& out, const EchoCase& c) { return out << c.name; }

// ESC [ 2 J clears the screen, ESC ] 0 ; ... BEL sets the window title and
// SO (0x0E) switches to line-drawing characters. --id takes the escaped text,
// which is also what the tool shows on a terminal.
const std::string kIdEscaped = "KVT3052\\x1b[2J\\x1b]0;title\\x07\\x0e";
const std::string kIdRaw = "KVT3052\x1b[2J\x1b]0;title\x07\x0e";

const std::vector<EchoCase> kEchoCases = {
    {"id_escapes_on_a_terminal", {"--id", kIdEscaped}, StdoutTo::kTerminal, Complete("on", kIdEscaped), 0, kWrittenOn},
    {"id_escapes_toward_a_pipe", {"--id", kIdEscaped}, StdoutTo::kPipe, Complete("on", kIdRaw), 0, kWrittenOn},
    {"ready_escape_on_a_terminal",
     {"--ready", "\\x1b[2J"},
     StdoutTo::kTerminal,
     HandshakeFailed("KVT3052", "\\x1b"),
     1,
     kUntouched},
    {"ready_escape_toward_a_pipe",
     {"--ready", "\\x1b[2J"},
     StdoutTo::kPipe,
     HandshakeFailed("KVT3052", "\x1b"),
     1,
     kUntouched},
    {"ready_shift_out_on_a_terminal",
     {"--ready", "KESTRAVIN\\x0e"},
     StdoutTo::kTerminal,
     HandshakeFailed("KVT3052", "KESTRAVIN\\x0e"),
     1,
     kUntouched},
    {"silent_ready_on_a_terminal",
     {"--ready-silent"},
     StdoutTo::kTerminal,
     HandshakeFailed("KVT3052", "\\x00"),
     1,
     kUntouched},
    {"silent_ready_toward_a_pipe",
     {"--ready-silent"},
     StdoutTo::kPipe,
     HandshakeFailed("KVT3052", std::string(1, '\0')),
     1,
     kUntouched},
    {"silent_inside_the_id_on_a_terminal",
     {"--id", "KVT", "--no-close", "silent"},
     StdoutTo::kTerminal,
     PnpFailed("KVT\\x00"),
     1,
     kUntouched},
};

class DeviceBytes : public testing::TestWithParam<EchoCase> {};

TEST_P(DeviceBytes, ReachATerminalOnlyAsVisibleTextAndAPipeAsTheyCame) {
  const EchoCase& c = GetParam();
  const StressRun run = RunUnderStress(c.options, c.stdout_to);
  ExpectRanToTheEnd(run);
  EXPECT_EQ(run.console, c.output) << TheTool().build << ", raw output: " << testing::PrintToString(run.process.out);
  if (c.stdout_to == StdoutTo::kTerminal) {
    EXPECT_EQ(FirstInvisible(run.console), -1) << testing::PrintToString(run.console);
  }
  EXPECT_EQ(At(run.report, "command_exit"), c.exit_status);
  ExpectValues(run.report, c.values);
}

INSTANTIATE_TEST_SUITE_P(Rows, DeviceBytes, testing::ValuesIn(kEchoCases),
                         [](const testing::TestParamInfo<EchoCase>& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// A reply that trickles in, one ID character every 1.3 s and never a closing
// parenthesis: each byte comes within the tool's read time-out, so only the
// reply's own time bound (3 s from the opening parenthesis) ends it, after the
// third trickled byte. Without that bound it would take 253 of them, over
// five minutes.

// The whole run takes about 5 s: 0.8 s of pulses, then the reply's 3 s and the
// read that crosses them.
constexpr seconds kTrickleRun{12};

TEST(TricklingReply, EndsInDoPnpFailedWithinTheTimeBound) {
  const seconds bound = RunLimit(TheTool(), kTrickleRun);
  const StressRun run = RunUnderStress({"--no-close", "trickle", "--trickle-ms", "1300"}, StdoutTo::kPipe, {}, bound);
  ExpectRanToTheEnd(run);
  EXPECT_EQ(run.console, PnpFailed("KVT3052KVT"));
  EXPECT_EQ(At(run.report, "command_exit"), 1);
  EXPECT_LT(run.took, bound);
  ExpectValues(run.report, kUntouched);
}

// ---------------------------------------------------------------------------
// A signal at each kind of wait: the pulses' sleeps, the wait for the reply,
// the pause after the switch to 115200, the pause after the hand-over, the
// module link's start and its setting writes. The emulator sends it at the
// step (--signal-at), and where the tool waits there for the device, holds
// back what it waits for, so that the tool is caught waiting; it must end at
// once with its interruption line and status, the port released, and the
// module holding what it held by then.

const std::string kNoneWritten = "Interrupted: no module setting was written\n";
const std::string kPartlyWritten = "Interrupted: the module may hold only part of the settings; repeat the run\n";

struct SignalCase {
  std::string step;
  int signal;
  std::string output;
  ModuleValues values;
  unsigned opens;          // by the tool, then by prodtest
  unsigned module_writes;  // the requests the module took
};

std::string SignalName(int signal_number) {
  switch (signal_number) {
    case SIGINT: return "INT";
    case SIGTERM: return "TERM";
    case SIGHUP: return "HUP";
    case SIGKILL: return "KILL";
  }
  return "signal " + std::to_string(signal_number);
}

std::ostream& operator<<(std::ostream& out, const SignalCase& c) {
  return out << c.step << ":" << SignalName(c.signal);
}

const std::vector<SignalCase> kSignalCases = {
    {"pulses", SIGTERM, "Contacting Corvane\n" + kNoneWritten, kUntouched, 1, 0},
    {"pulses", SIGINT, "Contacting Corvane\n" + kNoneWritten, kUntouched, 1, 0},
    {"pnp-wait", SIGTERM, Reached("") + kNoneWritten, kUntouched, 1, 0},
    {"pnp-wait", SIGINT, Reached("") + kNoneWritten, kUntouched, 1, 0},
    {"pnp-reply", SIGHUP, Reached("KVT") + "\n" + kNoneWritten, kUntouched, 1, 0},
    {"fast-line", SIGTERM, Reached("KVT3052") + "\n" + kNoneWritten, kUntouched, 1, 0},
    {"ready-reply", SIGINT, Reached("KVT3052") + "\nKESTRAVIN\n" + kNoneWritten, kUntouched, 1, 0},
    {"handover", SIGTERM, Found() + kNoneWritten, kUntouched, 1, 0},
    {"handover", SIGINT, Found() + kNoneWritten, kUntouched, 1, 0},
    {"sync", SIGHUP, Found() + kNoneWritten, kUntouched, 2, 0},
    {"write-1", SIGINT, Found() + kPartlyWritten, kUntouched, 2, 0},
    {"write-2", SIGTERM, Found() + kPartlyWritten, {0xA8, 1, 1}, 2, 1},
    {"write-2", SIGINT, Found() + kPartlyWritten, {0xA8, 1, 1}, 2, 1},
    {"write-3", SIGTERM, Found() + kPartlyWritten, {0xA8, 4, 1}, 2, 2},
    {"write-3", SIGHUP, Found() + kPartlyWritten, {0xA8, 4, 1}, 2, 2},
};

// The rows whose signal this build shows as an interruption.
std::vector<SignalCase> SignalCasesOfTheBuild() {
  std::vector<SignalCase> cases;
  for (const SignalCase& c : kSignalCases) {
    if (Interrupts(c.signal)) cases.push_back(c);
  }
  return cases;
}

class Interruption : public testing::TestWithParam<SignalCase> {};

TEST_P(Interruption, EndsTheRunCleanlyAtOnce) {
  const SignalCase& c = GetParam();
  const StressRun run = RunUnderStress({"--signal-at", c.step + ":" + SignalName(c.signal)}, StdoutTo::kPipe);
  ExpectRanToTheEnd(run);
  EXPECT_EQ(At(run.report, "command_signal/step"), c.step);
  EXPECT_EQ(At(run.report, "command_signal/signal"), "SIG" + SignalName(c.signal));
  EXPECT_EQ(run.console, c.output);
  EXPECT_EQ(At(run.report, "command_exit"), InterruptedStatus(c.signal));
  EXPECT_EQ(At(run.report, "port/opens"), c.opens);
  ExpectPortFree(run.report);
  ExpectValues(run.report, c.values);
  // Nothing more was asked of the module once the run was interrupted.
  EXPECT_EQ(At(run.report, "module/writes").size(), c.module_writes) << At(run.report, "module/writes");
}

INSTANTIATE_TEST_SUITE_P(Steps, Interruption, testing::ValuesIn(SignalCasesOfTheBuild()),
                         [](const testing::TestParamInfo<SignalCase>& info) {
                           std::string name = info.param.step + "_" + SignalName(info.param.signal);
                           for (char& ch : name) ch = ch == '-' ? '_' : ch;
                           return name;
                         });

// A run that nothing can end cleanly: what it printed up to then has reached
// the pipe, each line as it was printed, not held in a buffer that dies with
// the process.
TEST(Kill, LeavesEveryLinePrintedUpToIt) {
  if (!TheBuild().killable) GTEST_SKIP() << TheTool().build << ": SIGKILL would end only the wrapper";
  const StressRun run = RunUnderStress({"--signal-at", "handover:KILL"}, StdoutTo::kPipe);
  ExpectRanToTheEnd(run);
  EXPECT_EQ(At(run.report, "command_signal/signal"), "SIGKILL");
  EXPECT_EQ(run.console, Found());
  EXPECT_EQ(At(run.report, "command_exit"), 128 + SIGKILL);
  // Killed while it held the port, the tool could not clear its exclusive
  // flag, and the kernel keeps it: the emulator is seen to report a flag
  // left set, which the other rows rely on it to do.
  EXPECT_EQ(At(run.report, "port/exclusive_at_end"), true);
}

// ---------------------------------------------------------------------------
// A standard output that cannot be written, or is closed: the device work is
// done all the same, and only the dialogue reaches the adapter.

struct OutputCase {
  std::string name;
  std::string command;  // bash runs the tool as "$0" "$@" with its standard output so
  std::string error;    // the system's text in what the tool says on standard error
  bool closes_stdout;
};

std::ostream& operator<<(std::ostream& out, const OutputCase& c) { return out << c.name; }

const std::vector<OutputCase> kOutputCases = {
    {"full", "exec \"$0\" \"$@\" >/dev/full", "No space left on device", false},
    {"closed", "exec \"$0\" \"$@\" >&-", "Bad file descriptor", true},
    // A pipe whose reader has gone: the status is the tool's (pipefail), not
    // the reader's, and SIGPIPE must not end the tool.
    {"pipe_without_reader", "set -o pipefail; \"$0\" \"$@\" | true", TheBuild().broken_pipe, false},
};

std::vector<OutputCase> OutputCasesOfTheBuild() {
  std::vector<OutputCase> cases;
  for (const OutputCase& c : kOutputCases) {
    if (!c.closes_stdout || TheBuild().starts_without_stdout) cases.push_back(c);
  }
  return cases;
}

class StandardOutput : public testing::TestWithParam<OutputCase> {};

TEST_P(StandardOutput, FailsWithItsOwnStatusAfterTheDeviceWork) {
  const OutputCase& c = GetParam();
  const StressRun run = RunUnderStress({}, StdoutTo::kPipe, {"/bin/bash", "-c", c.command});
  ExpectRanToTheEnd(run);
  EXPECT_EQ(run.process.out, "");
  EXPECT_EQ(ConsoleText(TheTool(), run.process.err), "failed to write standard output: " + c.error + "\n");
  EXPECT_EQ(At(run.report, "command_exit"), 3);
  ExpectValues(run.report, kWrittenOn);
  EXPECT_EQ(At(run.report, "port/opens"), 2);
  // The setup request and the hand-over at 115200, and not a byte of the
  // console's text at either rate.
  const Json& received = At(run.report, "adapter/received");
  ASSERT_EQ(received.size(), 1u) << received;
  EXPECT_EQ(At(received, "0/baud"), 115200);
  EXPECT_EQ(FromHex(At(received, "0/hex").get<std::string>()), kSetupRequest + kHandOver);
  EXPECT_EQ(At(run.report, "adapter/garbage_bytes"), 0);
  EXPECT_EQ(At(run.report, "module/garbage_bytes"), 0);
  EXPECT_EQ(At(run.report, "module/dropped_from_host"), 0);
}

INSTANTIATE_TEST_SUITE_P(Rows, StandardOutput, testing::ValuesIn(OutputCasesOfTheBuild()),
                         [](const testing::TestParamInfo<OutputCase>& info) { return info.param.name; });

}  // namespace
}  // namespace e2e
