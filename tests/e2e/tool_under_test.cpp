#include "tests/e2e/tool_under_test.h"

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

}  // namespace e2e
