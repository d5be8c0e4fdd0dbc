// The native tool with COM1 naming a device that does not exist.
#include <gtest/gtest.h>

#include "tests/e2e/bounded_process.h"
#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

TEST(ToolAlone, MissingDeviceIsNotFound) {
  ScratchDir scratch;
  const ProcessResult run = RunBounded({kToolBinary, "on"}, {{"COM1", scratch.File("no-such-port")}}, kRunLimit);
  ASSERT_FALSE(run.timed_out);
  EXPECT_EQ(run.out, "Contacting Corvane\nCreateFile for \\\\.\\COM1 failed 2\nCorvane not found on COM1\n");
  EXPECT_EQ(run.exit_status, 1);
}

}  // namespace
}  // namespace e2e
