// The real corvane-handshake on a line with faults: frames lost at random,
// a device that vanishes at each step of the dialogue, and a port that
// another program holds. The tool must end every run with the right verdict
// (never a success with the module's values wrong), within its time-outs,
// and the emulator must end cleanly around it.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/bounded_process.h"
#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

using std::chrono::seconds;

struct EmulatorRun {
  ProcessResult process;
  Json report;
  std::string report_error;  // empty when the report was read
};

// corvane-emulator OPTIONS -- corvane-handshake WORD, with its JSON report.
EmulatorRun RunTool(const std::vector<std::string>& options, const std::string& word, seconds limit) {
  ScratchDir scratch;
  const std::string json = scratch.File("report.json");
  std::vector<std::string> argv = {kEmulatorBinary, "--quiet", "--json", json};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.insert(argv.end(), {"--", kToolBinary, word});
  EmulatorRun run;
  run.process = RunBounded(argv, {}, limit);
  ReadJsonFile(json, &run.report, &run.report_error);
  return run;
}

void ExpectValues(const Json& report, const ModuleValues& values) {
  EXPECT_EQ(At(report, "module/uart_config"), values.uart_config);
  EXPECT_EQ(At(report, "module/host_interface"), values.host_interface);
  EXPECT_EQ(At(report, "module/vm_disable"), values.vm_disable);
}

// The tool and the emulator ended, and the emulator let go of everything.
void ExpectEndedCleanly(const EmulatorRun& run, seconds limit) {
  ASSERT_FALSE(run.process.timed_out) << "the run did not end within " << limit.count() << " s; output so far:\n"
                                      << run.process.out << run.process.err;
  EXPECT_EQ(run.process.exit_status, 0) << "the emulator itself failed: " << run.process.err;
  ASSERT_TRUE(run.report_error.empty()) << run.report_error;
  EXPECT_EQ(At(run.report, "port/opens"), At(run.report, "port/closes"));
  EXPECT_EQ(At(run.report, "port/open_at_end"), false);
}

// CPU time of the children this test has reaped, in seconds.
double ChildrenCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

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
  const EmulatorRun run = RunTool({"--loss", "0.1", "--seed", std::to_string(c.seed)}, "on", kRunLimit);
  ExpectEndedCleanly(run, kRunLimit);
  EXPECT_EQ(run.process.out, Complete("on"));
  EXPECT_EQ(At(run.report, "command_exit"), 0);
  ExpectValues(run.report, kWrittenOn);
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
  const EmulatorRun run = RunTool({"--loss", "1"}, "on", kRunLimit);
  ExpectEndedCleanly(run, kRunLimit);
  EXPECT_EQ(run.process.out, Found() + "failed to open BCSP\n");
  EXPECT_EQ(At(run.report, "command_exit"), 1);
  ExpectValues(run.report, kUntouched);
  const Json& module = At(run.report, "module");
  EXPECT_GT(At(module, "frames_from_host").get<long long>(), 0);
  EXPECT_EQ(At(module, "lost_from_host"), At(module, "frames_from_host"));
  EXPECT_EQ(At(module, "lost_to_host"), At(module, "frames_to_host"));
  EXPECT_EQ(At(module, "syncs"), 0);
}

// ---------------------------------------------------------------------------
// The device vanishes: each step ends the run with its own message.

struct VanishCase {
  std::string step;
  std::string output;
  long long opens;  // the tool's, and prodtest's when it got as far
  ModuleValues values;
  seconds limit;  // the time-outs the step may spend, generously
};

std::ostream& operator<<(std::ostream& out, const VanishCase& c) { return out << c.step; }

// A failed read prints its message and yields 0x00, which the dialogue then
// echoes and compares like any byte.
const std::string kFailedRead = std::string("ReadChar failed\n") + '\0';
const std::string kNotFound = "Corvane not found on COM1\n";
// The adapter dialogue: 0.8 s of pulses, 1.5 s per read.
constexpr seconds kDialogueLimit{8};
// Then the hand-over's 0.5 s, the link's 2 s and 2 s per write.
constexpr seconds kModuleLimit{12};

const std::vector<VanishCase> kVanishCases = {
    {"pulses", "Contacting Corvane\nWaiting for PNP Reply\nReadChar failed\nDo PNP failed\n" + kNotFound, 1,
     kUntouched, kDialogueLimit},
    {"pnp-reply", Reached("KVT") + kFailedRead + "Do PNP failed\n" + kNotFound, 1, kUntouched, kDialogueLimit},
    {"fast-line",
     Reached("KVT3052") + "Write Failed: 22\nWrite Setup Request failed: 22\nPNP HS Failed\n" + kNotFound, 1,
     kUntouched, kDialogueLimit},
    {"setup-request", HandshakeFailed("KVT3052", kFailedRead), 1, kUntouched, kDialogueLimit},
    {"ready-reply", HandshakeFailed("KVT3052", "KESTRAVIN" + kFailedRead), 1, kUntouched, kDialogueLimit},
    // prodtest finds no port left to open.
    {"handover", Found() + "failed to open BCSP\n", 1, kUntouched, kModuleLimit},
    {"sync", Found() + "failed to open BCSP\n", 2, kUntouched, kModuleLimit},
    {"conf", Found() + "failed to open BCSP\n", 2, kUntouched, kModuleLimit},
    {"write-1", Found() + "failed to write UART configuration\n", 2, kUntouched, kModuleLimit},
    {"write-2", Found() + "failed to write host interface\n", 2, ModuleValues{0xA8, 1, 1}, kModuleLimit},
    {"write-3", Found() + "failed to write VM disable\n", 2, ModuleValues{0xA8, 4, 1}, kModuleLimit},
};

class VanishingDevice : public testing::TestWithParam<VanishCase> {};

TEST_P(VanishingDevice, EndsTheRunWithTheStepsMessage) {
  const VanishCase& c = GetParam();
  const EmulatorRun run = RunTool({"--vanish-at", c.step}, "on", c.limit);
  ExpectEndedCleanly(run, c.limit);
  EXPECT_EQ(run.process.out, c.output);
  EXPECT_EQ(At(run.report, "command_exit"), 1);
  EXPECT_EQ(At(run.report, "port/vanished_at"), c.step);
  EXPECT_EQ(At(run.report, "port/opens"), c.opens);
  ExpectValues(run.report, c.values);
}

INSTANTIATE_TEST_SUITE_P(Steps, VanishingDevice, testing::ValuesIn(kVanishCases),
                         [](const testing::TestParamInfo<VanishCase>& info) {
                           std::string name = info.param.step;
                           for (char& ch : name) {
                             if (ch == '-') ch = '_';
                           }
                           return name;
                         });

// Serving a link, the emulator outlives its device: later runs find no port,
// and it idles without spinning until it is told to end.
TEST(VanishingDevice, LinkServesOnWithoutThePortAndEndsOnRequest) {
  ScratchDir scratch;
  const std::string link = scratch.File("COM1");
  const std::string json = scratch.File("report.json");
  const double cpu_before = ChildrenCpuSeconds();
  BoundedProcess emulator;
  std::string error;
  ASSERT_TRUE(emulator.Start({kEmulatorBinary, "--json", json, "--vanish-at", "handover", "--link", link}, {},
                             &error))
      << error;
  ASSERT_TRUE(emulator.WaitForError("serving", kRunLimit));

  const ProcessResult first = RunBounded({kToolBinary, "on"}, {{"COM1", link}}, kRunLimit);
  EXPECT_EQ(first.out, Found() + "failed to open BCSP\n");
  EXPECT_EQ(first.exit_status, 1);
  const ProcessResult second = RunBounded({kToolBinary, "on"}, {{"COM1", link}}, kRunLimit);
  EXPECT_EQ(second.out, "Contacting Corvane\nCreateFile for \\\\.\\COM1 failed 2\n" + kNotFound);
  EXPECT_EQ(second.exit_status, 1);

  // Idle with the master closed: a loop on its hang-up would burn this.
  sleep(2);
  emulator.Signal(SIGTERM);
  const ProcessResult served = emulator.Finish(kRunLimit);
  ASSERT_FALSE(served.timed_out);
  EXPECT_EQ(served.exit_status, 0) << served.err;
  EXPECT_NE(served.out.find("  vanished        at handover: the master was closed\n"), std::string::npos)
      << served.out;
  EXPECT_LT(ChildrenCpuSeconds() - cpu_before, 1.0);
  struct stat gone;
  EXPECT_NE(lstat(link.c_str(), &gone), 0) << "the link outlived the emulator";

  Json report;
  ASSERT_TRUE(ReadJsonFile(json, &report, &error)) << error;
  EXPECT_EQ(At(report, "port/vanished_at"), "handover");
  EXPECT_EQ(At(report, "port/opens"), 1);
  EXPECT_EQ(At(report, "port/closes"), 1);
  EXPECT_EQ(At(report, "adapter/handovers"), 1);
}

// ---------------------------------------------------------------------------
// A port that another run of the tool holds: the second open is refused, and
// the run that holds the port goes on undisturbed.

TEST(BusyPort, SecondRunIsRefusedWhileTheFirstCompletes) {
  ScratchDir scratch;
  const std::string link = scratch.File("COM1");
  const std::string json = scratch.File("report.json");
  BoundedProcess emulator;
  std::string error;
  ASSERT_TRUE(emulator.Start({kEmulatorBinary, "--verbose", "--json", json, "--link", link}, {}, &error)) << error;
  ASSERT_TRUE(emulator.WaitForError("serving", kRunLimit));

  BoundedProcess holder;
  ASSERT_TRUE(holder.Start({kToolBinary, "on"}, {{"COM1", link}}, &error)) << error;
  // The holder keeps the port for its whole dialogue, well over a second.
  // Its open is seen before it takes the lock; its line settings, after.
  ASSERT_TRUE(emulator.WaitForError("port opened (open 1)", kRunLimit));
  ASSERT_TRUE(emulator.WaitForError("line set to 1200 baud", kRunLimit));
  const ProcessResult refused = RunBounded({kToolBinary, "off"}, {{"COM1", link}}, kRunLimit);
  EXPECT_EQ(refused.out, "Contacting Corvane\nCreateFile for \\\\.\\COM1 failed 5\n" + kNotFound);
  EXPECT_EQ(refused.exit_status, 1);

  const ProcessResult held = holder.Finish(kRunLimit);
  ASSERT_FALSE(held.timed_out);
  EXPECT_EQ(held.out, Complete("on"));
  EXPECT_EQ(held.exit_status, 0);

  emulator.Signal(SIGTERM);
  const ProcessResult served = emulator.Finish(kRunLimit);
  ASSERT_FALSE(served.timed_out);
  EXPECT_EQ(served.exit_status, 0) << served.err;
  Json report;
  ASSERT_TRUE(ReadJsonFile(json, &report, &error)) << error;
  // The holder's open and prodtest's, and the refused run's when the kernel
  // let it open the device: the exclusive flag stops everyone but root at
  // the open itself, while root gets as far as the lock.
  const long long opens = geteuid() == 0 ? 3 : 2;
  EXPECT_EQ(At(report, "port/opens"), opens);
  EXPECT_EQ(At(report, "port/closes"), opens);
  EXPECT_EQ(At(report, "adapter/pnp_replies"), 1);
  EXPECT_EQ(At(report, "adapter/handovers"), 1);
  ExpectValues(report, kWrittenOn);
}

}  // namespace
}  // namespace e2e
