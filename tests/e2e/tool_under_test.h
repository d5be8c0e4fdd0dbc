// The build of corvane-handshake that the end-to-end tests run: the native
// executable, the same under valgrind's memcheck, or the Windows one under
// Wine. Each test executable links one definition of TheTool(), so the same
// tests run against every build; runs go through RunUnderEmulator and
// RunAlone, which start the build the way it needs.
#ifndef CORVANE_TESTS_E2E_TOOL_UNDER_TEST_H
#define CORVANE_TESTS_E2E_TOOL_UNDER_TEST_H

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/bounded_process.h"
#include "tests/e2e/e2e_support.h"

namespace e2e {

struct ToolUnderTest {
  std::string build;                 // named in failure messages
  std::vector<std::string> command;  // the tool's command line before its words
  std::map<std::string, std::string> env;
  std::string name_in_usage;  // what the tool calls itself in its usage lines
  // What the build adds to a run beyond the tool's own waits (a start-up, a
  // slower processor): added to every limit a test sets for a run.
  std::chrono::seconds overhead;
  bool crlf_lines;         // the console ends its lines in "\r\n"
  bool opens_exclusively;  // a port that another program holds stops the open
  // SetCommState drops DTR before RTS where Windows drops RTS first: Wine's
  // does (it sets DTR, then RTS, after the rest of the settings).
  bool drops_dtr_before_rts;
};

const ToolUnderTest& TheTool();

// The tool's console text with its line ends as "\n".
std::string ConsoleText(const ToolUnderTest& tool, const std::string& out);

// The bound for a run of this build that by itself ends within `own`.
std::chrono::seconds RunLimit(const ToolUnderTest& tool, std::chrono::seconds own = kRunLimit);

// One run of the tool under the emulator in command mode.
struct EmulatorRun {
  ProcessResult process;  // the emulator's; with --quiet its standard output is the tool's alone
  std::string text;       // the tool's console text (ConsoleText of process.out)
  Json report;
  std::string report_error;  // empty when the report was read
};

// corvane-emulator --quiet --json FILE OPTIONS -- TOOL WORDS, bounded by
// limit (give it RunLimit). Always returns; the result says what happened.
EmulatorRun RunUnderEmulator(const ToolUnderTest& tool, const std::vector<std::string>& emulator_options,
                             const std::vector<std::string>& words, std::chrono::seconds limit);

// Fails the test unless the run ended within limit, the emulator ran cleanly
// and wrote its report, and the port was closed as often as it was opened
// and is closed at the end.
void ExpectEndedCleanly(const ToolUnderTest& tool, const EmulatorRun& run, std::chrono::seconds limit);

// The tool on its own with COM1 naming port, bounded by limit; its
// standard output is given as console text.
ProcessResult RunAlone(const ToolUnderTest& tool, const std::vector<std::string>& words, const std::string& port,
                       std::chrono::seconds limit);

}  // namespace e2e

#endif
