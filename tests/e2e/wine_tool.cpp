// The Windows build under Wine. wine-run points the prefix's COM1 at the
// emulator's port for each run and ends the prefix's wineserver before the
// emulator closes the port. Wine makes no open exclusive, and the C runtime's
// text mode ends console lines in "\r\n".
#include <algorithm>

#include "tests/e2e/tool_under_test.h"

namespace e2e {
namespace {

// Wine shows a program its own path as a Windows path on drive Z:, the root
// of the Linux file system.
std::string WindowsPath(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return "Z:" + path;
}

}  // namespace

const ToolUnderTest& TheTool() {
  static const ToolUnderTest tool{"windows under wine",
                                  {CORVANE_WINE_RUN, CORVANE_WINDOWS_EXE},
                                  {{"CORVANE_WINE_DIR", CORVANE_WINE_DIR}},
                                  WindowsPath(CORVANE_WINDOWS_EXE),
                                  // Wine's start-up comes on top of every run.
                                  std::chrono::seconds(60),
                                  true,
                                  false};
  return tool;
}

}  // namespace e2e
