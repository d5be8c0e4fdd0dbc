// The real corvane-handshake with a device that goes away: one that vanishes
// at each step of the dialogue, and one that is not there at all. Each ends
// the run with its step's message and exit status 1, within the tool's
// time-outs, and the emulator ends cleanly around it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"
#include "tests/e2e/tool_under_test.h"

namespace e2e {
namespace {

using std::chrono::seconds;

struct VanishCase {
  std::string step;
  std::string output;
  long long opens;  // the tool's, and prodtest's when it got as far
  ModuleValues values;
  seconds limit;  // the time-outs the step may spend, generously
};

std::ostream& operator<<(std::ostream& out, const VanishCase& c) { return out << c.step; }

// The adapter dialogue: 0.8 s of pulses, 1.5 s per read.
constexpr seconds kDialogueLimit{8};
// Then the hand-over's 0.5 s, the link's 2 s and 2 s per write.
constexpr seconds kModuleLimit{12};

const std::vector<VanishCase> kVanishCases = {
    {"pulses", "Contacting Corvane\nWaiting for PNP Reply\nReadChar failed\nDo PNP failed\n" + kNotFound, 1, kUntouched,
     kDialogueLimit},
    {"pnp-reply", Reached("KVT") + kFailedRead + "Do PNP failed\n" + kNotFound, 1, kUntouched, kDialogueLimit},
    {"fast-line", Reached("KVT3052") + "Write Failed: 22\nWrite Setup Request failed: 22\nPNP HS Failed\n" + kNotFound,
     1, kUntouched, kDialogueLimit},
    {"setup-request", HandshakeFailed("KVT3052", kFailedRead), 1, kUntouched, kDialogueLimit},
    {"ready-reply", HandshakeFailed("KVT3052", "KESTRAVIN" + kFailedRead), 1, kUntouched, kDialogueLimit},
    // prodtest finds no port left to open.
    {"handover", Found() + kLinkFailed, 1, kUntouched, kModuleLimit},
    {"sync", Found() + kLinkFailed, 2, kUntouched, kModuleLimit},
    {"conf", Found() + kLinkFailed, 2, kUntouched, kModuleLimit},
    {"write-1", Found() + kUartConfigFailed, 2, kUntouched, kModuleLimit},
    {"write-2", Found() + kHostInterfaceFailed, 2, ModuleValues{0xA8, 1, 1}, kModuleLimit},
    {"write-3", Found() + kVmDisableFailed, 2, ModuleValues{0xA8, 4, 1}, kModuleLimit},
};

class VanishingDevice : public testing::TestWithParam<VanishCase> {};

TEST_P(VanishingDevice, EndsTheRunWithTheStepsMessage) {
  const VanishCase& c = GetParam();
  const ToolUnderTest& tool = TheTool();
  const EmulatorRun run = RunUnderEmulator(tool, {"--vanish-at", c.step}, {"on"}, RunLimit(tool, c.limit));
  ExpectEndedCleanly(tool, run, RunLimit(tool, c.limit));
  EXPECT_EQ(run.text, c.output) << tool.build;
  EXPECT_EQ(At(run.report, "command_exit"), 1) << tool.build << ":\n" << run.process.err;
  EXPECT_EQ(At(run.report, "port/vanished_at"), c.step);
  EXPECT_EQ(At(run.report, "port/opens"), c.opens);
  EXPECT_EQ(ModuleValuesIn(run.report), c.values);
}

INSTANTIATE_TEST_SUITE_P(Steps, VanishingDevice, testing::ValuesIn(kVanishCases),
                         [](const testing::TestParamInfo<VanishCase>& info) {
                           std::string name = info.param.step;
                           for (char& ch : name) {
                             if (ch == '-') ch = '_';
                           }
                           return name;
                         });

TEST(ToolAlone, MissingDeviceIsNotFound) {
  const ToolUnderTest& tool = TheTool();
  ScratchDir scratch;
  const ProcessResult run = RunAlone(tool, {"on"}, scratch.File("no-such-port"), RunLimit(tool));
  ASSERT_FALSE(run.timed_out) << tool.build;
  EXPECT_EQ(run.out, OpenFailed(2)) << tool.build;
  EXPECT_EQ(run.exit_status, 1) << tool.build << ":\n" << run.err;
}

}  // namespace
}  // namespace e2e
