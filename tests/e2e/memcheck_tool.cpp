// The native build under valgrind's memcheck. memcheck-run fails the run with
// an exit status of its own, valgrind's log on standard error, on any error,
// leak or descriptor left open, so every row's check of the exit status
// checks those too.
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/tool_under_test.h"

namespace e2e {

const ToolUnderTest& TheTool() {
  static const ToolUnderTest tool{"native under memcheck",
                                  {CORVANE_MEMCHECK_RUN, kToolBinary},
                                  {},
                                  kToolBinary,
                                  // valgrind's start-up and a processor many
                                  // times slower; the tool's own time-outs
                                  // stay real time.
                                  std::chrono::seconds(90),
                                  false,
                                  true,
                                  false};
  return tool;
}

}  // namespace e2e
