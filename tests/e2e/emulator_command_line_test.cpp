// The emulator's own command line as a user meets it: help by either name,
// the version, and a refused option with its exit status.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/bounded_process.h"
#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

TEST(EmulatorCommandLine, HelpByEitherNameListsTheOptions) {
  const ProcessResult long_name = RunBounded({kEmulatorBinary, "--help"}, {}, kRunLimit);
  const ProcessResult short_name = RunBounded({kEmulatorBinary, "-h"}, {}, kRunLimit);
  EXPECT_EQ(long_name.exit_status, 0);
  EXPECT_EQ(long_name.err, "");
  EXPECT_EQ(long_name.out.rfind("Usage: corvane-emulator [options] -- COMMAND [ARG...]\n", 0), 0u) << long_name.out;
  EXPECT_NE(long_name.out.find("  --version "), std::string::npos) << long_name.out;
  EXPECT_EQ(short_name.exit_status, 0);
  EXPECT_EQ(short_name.out, long_name.out);
}

TEST(EmulatorCommandLine, VersionIsTheProjects) {
  const ProcessResult run = RunBounded({kEmulatorBinary, "--version"}, {}, kRunLimit);
  EXPECT_EQ(run.exit_status, 0);
  const std::string version = CORVANE_VERSION;
  EXPECT_EQ(run.out, "corvane-emulator " + (version.empty() ? "(no version set)" : version) + "\n");
}

TEST(EmulatorCommandLine, AnOptionOutOfRangeIsRefused) {
  const ProcessResult run = RunBounded({kEmulatorBinary, "--ready-wrong-at", "016", "--", "true"}, {}, kRunLimit);
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "corvane-emulator: --ready-wrong-at: \"016\" is more than 15 (--help lists the options)\n");
}

}  // namespace
}  // namespace e2e
