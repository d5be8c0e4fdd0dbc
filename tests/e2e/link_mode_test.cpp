// The emulator serving a link for runs started elsewhere: one adapter and
// module through several runs of the tool, which is what a second terminal
// or the benchmark sees; a device that vanishes while it serves, and a port
// that one run of the tool holds while a second one tries it.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/e2e/bounded_process.h"
#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

// CPU time of the children this test has reaped, in seconds.
double ChildrenCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

TEST(LinkMode, ServesSuccessiveRunsAndKeepsTheModuleValues) {
  ScratchDir scratch;
  const std::string link = scratch.File("COM1");
  const std::string json = scratch.File("report.json");
  BoundedProcess emulator;
  std::string error;
  ASSERT_TRUE(emulator.Start({kEmulatorBinary, "--json", json, "--link", link}, {}, &error)) << error;
  ASSERT_TRUE(emulator.WaitForError("serving", kRunLimit));

  // Each open at 1200 baud starts the adapter's dialogue afresh, after the
  // previous run left the line with the module.
  const ProcessResult on = RunBounded({kToolBinary, "on"}, {{"COM1", link}}, kRunLimit);
  EXPECT_EQ(on.out, Complete("on"));
  EXPECT_EQ(on.exit_status, 0);
  const ProcessResult off = RunBounded({kToolBinary, "off"}, {{"COM1", link}}, kRunLimit);
  EXPECT_EQ(off.out, Complete("off"));
  EXPECT_EQ(off.exit_status, 0);
  const ProcessResult again = RunBounded({kToolBinary, "off"}, {{"COM1", link}}, kRunLimit);
  EXPECT_EQ(again.out, Complete("off"));
  EXPECT_EQ(again.exit_status, 0);

  emulator.Signal(SIGTERM);
  const ProcessResult served = emulator.Finish(kRunLimit);
  ASSERT_FALSE(served.timed_out);
  EXPECT_EQ(served.exit_status, 0) << served.err;
  struct stat gone;
  EXPECT_NE(lstat(link.c_str(), &gone), 0) << "the link outlived the emulator";
  EXPECT_NE(served.out.find("  module holds    UART configuration 0xa0, host interface 4, VM disable 0\n"),
            std::string::npos)
      << served.out;

  Json report;
  ASSERT_TRUE(ReadJsonFile(json, &report, &error)) << error;
  EXPECT_EQ(At(report, "command_exit"), nullptr);
  EXPECT_EQ(At(report, "port/link"), link);
  EXPECT_EQ(At(report, "port/opens"), 6);
  EXPECT_EQ(At(report, "port/closes"), 6);
  EXPECT_EQ(At(report, "port/open_at_end"), false);
  EXPECT_EQ(At(report, "adapter/pnp_replies"), 3);
  EXPECT_EQ(At(report, "adapter/handovers"), 3);
  // The host's last frames of a run, still on the wire when the next run
  // opens the port, belong to the module: the adapter hears only its own
  // dialogue.
  const Json& heard = At(report, "adapter/received");
  ASSERT_EQ(heard.size(), 1u) << heard;
  EXPECT_EQ(At(heard, "0/baud"), 115200);
  EXPECT_EQ(FromHex(At(heard, "0/hex").get<std::string>()),
            kSetupRequest + kHandOver + kSetupRequest + kHandOver + kSetupRequest + kHandOver);
  const Json& writes = At(report, "module/writes");
  ASSERT_EQ(writes.size(), 9u) << writes;
  EXPECT_EQ(At(writes, "0/value"), 0xA8);
  EXPECT_EQ(At(writes, "3/value"), 0xA0);
  EXPECT_EQ(At(writes, "6/value"), 0xA0);
  EXPECT_EQ(At(report, "module/writes_forgotten"), 0);
  EXPECT_EQ(At(report, "module/uart_config"), 0xA0);
  EXPECT_EQ(At(report, "module/host_interface"), 4);
  EXPECT_EQ(At(report, "module/vm_disable"), 0);
}

// A second emulator asked for the same link leaves the first one's alone.
TEST(LinkMode, RefusesTheLinkOfAnotherEmulatorsLivePort) {
  ScratchDir scratch;
  const std::string link = scratch.File("COM1");
  BoundedProcess first;
  std::string error;
  ASSERT_TRUE(first.Start({kEmulatorBinary, "--quiet", "--link", link}, {}, &error)) << error;
  ASSERT_TRUE(first.WaitForError("serving", kRunLimit));
  const std::string port = std::filesystem::read_symlink(link).string();

  const ProcessResult second = RunBounded({kEmulatorBinary, "--quiet", "--link", link}, {}, kRunLimit);
  EXPECT_EQ(second.exit_status, 1);
  EXPECT_EQ(second.err, "corvane-emulator: " + link + " already links to " + port +
                            ", a live port (another emulator's?); give another path, or remove the link\n");
  EXPECT_EQ(std::filesystem::read_symlink(link).string(), port);

  const ProcessResult on = RunBounded({kToolBinary, "on"}, {{"COM1", link}}, kRunLimit);
  EXPECT_EQ(on.out, Complete("on"));
  first.Signal(SIGTERM);
  const ProcessResult served = first.Finish(kRunLimit);
  EXPECT_EQ(served.exit_status, 0) << served.err;
  struct stat gone;
  EXPECT_NE(lstat(link.c_str(), &gone), 0) << "the link outlived the emulator";
}

// ---------------------------------------------------------------------------
// Serving a link, the emulator outlives its device: later runs find no port,
// and it idles without spinning until it is told to end.
TEST(VanishingDevice, LinkServesOnWithoutThePortAndEndsOnRequest) {
  ScratchDir scratch;
  const std::string link = scratch.File("COM1");
  const std::string json = scratch.File("report.json");
  const double cpu_before = ChildrenCpuSeconds();
  BoundedProcess emulator;
  std::string error;
  ASSERT_TRUE(emulator.Start({kEmulatorBinary, "--json", json, "--vanish-at", "handover", "--link", link}, {}, &error))
      << error;
  ASSERT_TRUE(emulator.WaitForError("serving", kRunLimit));

  const ProcessResult first = RunBounded({kToolBinary, "on"}, {{"COM1", link}}, kRunLimit);
  EXPECT_EQ(first.out, Found() + kLinkFailed);
  EXPECT_EQ(first.exit_status, 1);
  const ProcessResult second = RunBounded({kToolBinary, "on"}, {{"COM1", link}}, kRunLimit);
  EXPECT_EQ(second.out, OpenFailed(2));
  EXPECT_EQ(second.exit_status, 1);

  // Idle with the master closed: a loop on its hang-up would burn this.
  sleep(2);
  emulator.Signal(SIGTERM);
  const ProcessResult served = emulator.Finish(kRunLimit);
  ASSERT_FALSE(served.timed_out);
  EXPECT_EQ(served.exit_status, 0) << served.err;
  EXPECT_NE(served.out.find("  vanished        at handover: the master was closed\n"), std::string::npos) << served.out;
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
  EXPECT_EQ(refused.out, OpenFailed(5));
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
  EXPECT_EQ(ModuleValuesIn(report), kWrittenOn);
}

}  // namespace
}  // namespace e2e
