#include "tests/e2e/tool_under_test.h"

#include <gtest/gtest.h>

namespace e2e {

std::string ConsoleText(const ToolUnderTest& tool, const std::string& out) {
  if (!tool.crlf_lines) return out;
  std::string text;
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '\r' && i + 1 < out.size() && out[i + 1] == '\n') continue;
    text += out[i];
  }
  return text;
}

std::chrono::seconds RunLimit(const ToolUnderTest& tool, std::chrono::seconds own) { return own + tool.overhead; }

EmulatorRun RunUnderEmulator(const ToolUnderTest& tool, const std::vector<std::string>& emulator_options,
                             const std::vector<std::string>& words, std::chrono::seconds limit) {
  ScratchDir scratch;
  const std::string json = scratch.File("report.json");
  std::vector<std::string> argv = {kEmulatorBinary, "--quiet", "--json", json};
  argv.insert(argv.end(), emulator_options.begin(), emulator_options.end());
  argv.push_back("--");
  argv.insert(argv.end(), tool.command.begin(), tool.command.end());
  argv.insert(argv.end(), words.begin(), words.end());
  EmulatorRun run;
  run.process = RunBounded(argv, tool.env, limit);
  run.text = ConsoleText(tool, run.process.out);
  ReadJsonFile(json, &run.report, &run.report_error);
  return run;
}

void ExpectEndedCleanly(const ToolUnderTest& tool, const EmulatorRun& run, std::chrono::seconds limit) {
  ASSERT_FALSE(run.process.timed_out) << "the " << tool.build << " run did not end within " << limit.count()
                                      << " s; output so far:\n"
                                      << run.process.out << run.process.err;
  EXPECT_EQ(run.process.exit_status, 0) << "the emulator itself failed: " << run.process.err;
  ASSERT_TRUE(run.report_error.empty()) << run.report_error;
  EXPECT_EQ(At(run.report, "port/opens"), At(run.report, "port/closes"));
  EXPECT_EQ(At(run.report, "port/open_at_end"), false);
}

ProcessResult RunAlone(const ToolUnderTest& tool, const std::vector<std::string>& words, const std::string& port,
                       std::chrono::seconds limit) {
  std::vector<std::string> argv = tool.command;
  argv.insert(argv.end(), words.begin(), words.end());
  std::map<std::string, std::string> env = tool.env;
  env["COM1"] = port;
  ProcessResult run = RunBounded(argv, env, limit);
  run.out = ConsoleText(tool, run.out);
  return run;
}

}  // namespace e2e
