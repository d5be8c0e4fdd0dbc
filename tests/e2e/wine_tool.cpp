// The Windows build under Wine. wine-run points the prefix's COM1 at the
// emulator's port for each run and ends the prefix's wineserver before the
// emulator closes the port. Wine makes no open exclusive, and the C runtime's
// text mode ends console lines in "\r\n".
//
// Wine differs from Windows in the order of the modem lines: its
// SetCommState (Wine 8.0) sets DTR, then RTS, each by reading the lines
// (TIOCMGET) and writing them back (TIOCMSET) from the program's own
// process, where Windows sets RTS, then DTR. So the open's settings, which
// lower both, show RTS high and DTR low before both are low; the other
// settings drive a line only where they change one, and there the order does
// not show.
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
                                  false,
                                  // Wine's difference from Windows, seen in
                                  // the line traces of its runs.
                                  true};
  return tool;
}

}  // namespace e2e
