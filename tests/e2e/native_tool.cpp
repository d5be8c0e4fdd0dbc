// The native build: run directly, with the emulator's port in COM1.
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/tool_under_test.h"

namespace e2e {

const ToolUnderTest& TheTool() {
  static const ToolUnderTest tool{"native", {kToolBinary}, {},   kToolBinary, std::chrono::seconds(0),
                                  false,    true,          false};
  return tool;
}

}  // namespace e2e
