// The real corvane-handshake on a line that loses frames at random. The tool
// must end every run with the right verdict (never a success with the
// module's values wrong), within its time-outs, and the emulator must end
// cleanly around it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"
#include "tests/e2e/tool_under_test.h"

namespace e2e {
namespace {

// ---------------------------------------------------------------------------
// Random loss: at 10 % the resends carry every run through.

struct LossCase {
  unsigned seed;
  // Frames that this seed loses among the first ones of each direction,
  // which every complete run sends (SYNC, CONF and three requests with
  // their acknowledgements; SYNA, CONA and three answers).
  long long at_least_lost_from_host;
  long long at_least_lost_to_host;
};

std::ostream& operator<<(std::ostream& out, const LossCase& c) { return out << "seed " << c.seed; }

class TenPercentLoss : public testing::TestWithParam<LossCase> {};

TEST_P(TenPercentLoss, CompletesWithTheModuleValuesRight) {
  const LossCase& c = GetParam();
  const ToolUnderTest& tool = TheTool();
  const EmulatorRun run =
      RunUnderEmulator(tool, {"--loss", "0.1", "--seed", std::to_string(c.seed)}, {"on"}, RunLimit(tool));
  ExpectEndedCleanly(tool, run, RunLimit(tool));
  EXPECT_EQ(run.text, Complete("on")) << tool.build;
  EXPECT_EQ(At(run.report, "command_exit"), 0) << tool.build << ":\n" << run.process.err;
  EXPECT_EQ(ModuleValuesIn(run.report), kWrittenOn);
  const Json& module = At(run.report, "module");
  EXPECT_GE(At(module, "lost_from_host").get<long long>(), c.at_least_lost_from_host);
  EXPECT_GE(At(module, "lost_to_host").get<long long>(), c.at_least_lost_to_host);
  // Each request stored once, however often it was sent.
  const Json& writes = At(module, "writes");
  ASSERT_EQ(writes.size(), 3u) << writes;
  for (const Json& write : writes) EXPECT_EQ(At(write, "status"), 0);
}

INSTANTIATE_TEST_SUITE_P(Seeds, TenPercentLoss,
                         testing::Values(LossCase{2, 0, 3},   // SYNA lost twice running
                                         LossCase{6, 2, 1},   // both directions
                                         LossCase{12, 3, 0},  // three of the host's frames
                                         LossCase{18, 1, 2}, LossCase{19, 2, 1}, LossCase{34, 2, 1}),
                         [](const testing::TestParamInfo<LossCase>& info) {
                           return "seed_" + std::to_string(info.param.seed);
                         });

TEST(TotalLoss, EveryFrameIsLostAndTheLinkNeverOpens) {
  const ToolUnderTest& tool = TheTool();
  const EmulatorRun run = RunUnderEmulator(tool, {"--loss", "1"}, {"on"}, RunLimit(tool));
  ExpectEndedCleanly(tool, run, RunLimit(tool));
  EXPECT_EQ(run.text, Found() + kLinkFailed) << tool.build;
  EXPECT_EQ(At(run.report, "command_exit"), 1) << tool.build << ":\n" << run.process.err;
  EXPECT_EQ(ModuleValuesIn(run.report), kUntouched);
  const Json& module = At(run.report, "module");
  EXPECT_GT(At(module, "frames_from_host").get<long long>(), 0);
  EXPECT_EQ(At(module, "lost_from_host"), At(module, "frames_from_host"));
  EXPECT_EQ(At(module, "lost_to_host"), At(module, "frames_to_host"));
  EXPECT_EQ(At(module, "syncs"), 0);
}

}  // namespace
}  // namespace e2e
