// The build of corvane-handshake that the end-to-end table runs: the native
// executable, or the Windows one under Wine. Each test executable links one
// definition of TheTool(), so the same table of roads runs against both.
#ifndef CORVANE_TESTS_E2E_TOOL_UNDER_TEST_H
#define CORVANE_TESTS_E2E_TOOL_UNDER_TEST_H

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace e2e {

struct ToolUnderTest {
  std::string build;                 // named in failure messages
  std::vector<std::string> command;  // the tool's command line before its words
  std::map<std::string, std::string> env;
  std::string name_in_usage;  // what the tool calls itself in its usage lines
  std::chrono::seconds run_limit;
  bool crlf_lines;         // the console ends its lines in "\r\n"
  bool opens_exclusively;  // a port that another program holds stops the open
};

const ToolUnderTest& TheTool();

// The tool's console text with its line ends as "\n".
std::string ConsoleText(const ToolUnderTest& tool, const std::string& out);

}  // namespace e2e

#endif
