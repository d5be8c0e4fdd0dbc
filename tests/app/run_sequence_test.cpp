// The tool's run from the command word to the last line, over the scripted
// platform and a stand-in prodtest: the exact output and exit status of each
// way a run can go, what prodtest is asked, and that the tool's own port is
// closed before prodtest opens the same one.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "app/interrupt.h"
#include "app/run_sequence.h"
#include "serial/diagnostics.h"
#include "serial/interruption.h"
#include "serial/port.h"
#include "tests/app/run_state.h"
#include "tests/fake/fake_platform.h"
#include "tests/fake/fake_prodtest.h"

namespace {

const std::string kGoodLine = "(10KVT3052)KESTRAVIN READY";
const std::string kDialogue = "Waiting for PNP Reply\nKVT3052\nKESTRAVIN READY\n";
const std::string kSetup = "KESTRAVIN SETUP";

struct RunResult {
  int status;
  std::string output;
};

class RunSequence : public ::testing::Test {
 protected:
  void SetUp() override { ResetRunState(); }

  RunResult RunWith(std::vector<std::string> words) {
    words.insert(words.begin(), "corvane-handshake");
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(&word[0]);
    argv.push_back(nullptr);
    testing::internal::CaptureStdout();
    int status = RunHandshake((int)words.size(), argv.data());
    return RunResult{status, testing::internal::GetCapturedStdout()};
  }

  static const std::vector<std::string>& ProdtestCalls() { return fake::ProdtestState().calls; }
};

struct CompleteRun {
  const char* name;
  std::vector<std::string> words;
  unsigned uartConfig;  // the UART configuration value written
  const char* setTo;    // the word in "Handshake set %s\n"
};

void PrintTo(const CompleteRun& c, std::ostream* os) { *os << c.name; }

class RunSequenceComplete : public RunSequence, public ::testing::WithParamInterface<CompleteRun> {};

TEST_P(RunSequenceComplete, WritesTheSettingsOfTheWordAndSaysSo) {
  fake::QueueText(kGoodLine);
  RunResult run = RunWith(GetParam().words);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "Contacting Corvane\n" + kDialogue + "Success\nHandshake set " + GetParam().setTo +
                            "\nPlease power off and on Corvane Device\n");
  std::vector<std::string> expected = {
      "init_prodtest(1,COM1,115200,1)", "write_uart_config(23130," + std::to_string(GetParam().uartConfig) + ")",
      "write_host_interface(23130,4)", "write_vm_disable(23130,0)", "close_prodtest(23130)"};
  EXPECT_EQ(ProdtestCalls(), expected);
  EXPECT_EQ(fake::State().openHandles, 0);
}

// The two values differ only in the handshake bit, 0x08; further words are
// ignored.
INSTANTIATE_TEST_SUITE_P(Words, RunSequenceComplete,
                         ::testing::Values(CompleteRun{"On", {"on"}, 0xA8, "on"},
                                           CompleteRun{"Off", {"off"}, 0xA0, "off"},
                                           CompleteRun{"FurtherWordsIgnored", {"on", "off", "extra"}, 0xA8, "on"},
                                           CompleteRun{"FurtherWordsAfterOff", {"off", "on"}, 0xA0, "off"}),
                         [](const ::testing::TestParamInfo<CompleteRun>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(RunSequence, HandsThePortOverBeforeProdtestOpensIt) {
  fake::QueueText(kGoodLine);
  RunWith({"on"});
  const std::vector<std::uint8_t>& written = fake::State().written;
  ASSERT_GE(written.size(), 4u);
  EXPECT_EQ(std::vector<std::uint8_t>(written.end() - 4, written.end()),
            (std::vector<std::uint8_t>{0x01, 0xF8, 0x00, 0x00}));
  std::vector<std::string> calls = fake::State().calls;
  std::vector<std::string> tail(calls.end() - 4, calls.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"WriteFile(4)", "Sleep(500)", "PurgeComm(0x0F)", "CloseHandle()"}));
  EXPECT_EQ(fake::ProdtestState().portHandlesOpenAtInit, 0);
}

struct WordCase {
  const char* name;
  std::vector<std::string> words;
  std::string output;
};

void PrintTo(const WordCase& c, std::ostream* os) { *os << c.name; }

class RunSequenceWord : public RunSequence, public ::testing::WithParamInterface<WordCase> {};

TEST_P(RunSequenceWord, RefusedWithUsageStatusAndNothingOpened) {
  RunResult run = RunWith(GetParam().words);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.output, GetParam().output);
  EXPECT_TRUE(fake::State().calls.empty());
  EXPECT_TRUE(ProdtestCalls().empty());
}

INSTANTIATE_TEST_SUITE_P(Words, RunSequenceWord,
                         ::testing::Values(WordCase{"NoWord", {}, "Usage: \ncorvane-handshake [on] | [off]\n"},
                                           WordCase{"Upper", {"ON"}, "Invalid Argument: ON\n"},
                                           WordCase{"Mixed", {"Off"}, "Invalid Argument: Off\n"},
                                           WordCase{"Empty", {""}, "Invalid Argument: \n"},
                                           WordCase{"Prefix", {"o"}, "Invalid Argument: o\n"},
                                           WordCase{"Longer", {"onn"}, "Invalid Argument: onn\n"}),
                         [](const ::testing::TestParamInfo<WordCase>& info) { return std::string(info.param.name); });

TEST_F(RunSequence, EmptyArgumentListShowsUsageWithoutAName) {
  char* argv[] = {nullptr};
  testing::internal::CaptureStdout();
  int status = RunHandshake(0, argv);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Usage: \ncorvane-handshake [on] | [off]\n");
  EXPECT_EQ(status, 2);
  EXPECT_TRUE(fake::State().calls.empty());
}

TEST_F(RunSequence, AdapterAbsent) {
  RunResult run = RunWith({"on"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "Contacting Corvane\nWaiting for PNP Reply\nDo PNP failed\nCorvane not found on COM1\n");
  EXPECT_TRUE(ProdtestCalls().empty());
  EXPECT_EQ(fake::State().openHandles, 0);
}

TEST_F(RunSequence, PortMissing) {
  fake::State().failures["CreateFileA"] = 2;
  RunResult run = RunWith({"off"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "Contacting Corvane\nCreateFile for \\\\.\\COM1 failed 2\nCorvane not found on COM1\n");
  EXPECT_TRUE(ProdtestCalls().empty());
}

TEST_F(RunSequence, ModuleLinkDoesNotOpen) {
  fake::QueueText(kGoodLine);
  fake::ProdtestState().connection = 0;
  RunResult run = RunWith({"on"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "Contacting Corvane\n" + kDialogue + "Success\nfailed to open BCSP\n");
  EXPECT_EQ(ProdtestCalls(), std::vector<std::string>{"init_prodtest(1,COM1,115200,1)"});
  EXPECT_EQ(fake::State().written.size(), 15u + 4u) << "the hand-over was sent";
}

TEST_F(RunSequence, FailedHandOverWriteStillGoesOn) {
  fake::QueueText(kGoodLine);
  fake::State().failures["WriteFile"] = 1117;
  fake::State().failuresAfter["WriteFile"] = 1;  // the setup request passes
  RunResult run = RunWith({"on"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "Contacting Corvane\n" + kDialogue +
                            "Success\nWrite Failed: 1117\nHandshake set on\nPlease power off and on Corvane Device\n");
  EXPECT_EQ(fake::State().openHandles, 0);
  EXPECT_EQ(ProdtestCalls().size(), 5u);
}

struct WriteFailure {
  const char* write;
  const char* setting;
  std::size_t callsMade;  // prodtest calls up to and including the close
};

void PrintTo(const WriteFailure& c, std::ostream* os) { *os << c.write; }

class RunSequenceWriteFailure : public RunSequence, public ::testing::WithParamInterface<WriteFailure> {};

TEST_P(RunSequenceWriteFailure, StopsAtTheFirstFailedWriteAndCloses) {
  fake::QueueText(kGoodLine);
  fake::ProdtestState().failingWrite = GetParam().write;
  RunResult run = RunWith({"on"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "Contacting Corvane\n" + kDialogue + "Success\nfailed to write " + GetParam().setting + "\n");
  ASSERT_EQ(ProdtestCalls().size(), GetParam().callsMade);
  EXPECT_EQ(ProdtestCalls()[GetParam().callsMade - 2].rfind(GetParam().write, 0), 0u);
  EXPECT_EQ(ProdtestCalls().back(), "close_prodtest(23130)");
}

INSTANTIATE_TEST_SUITE_P(EachSetting, RunSequenceWriteFailure,
                         ::testing::Values(WriteFailure{"write_uart_config", "UART configuration", 3},
                                           WriteFailure{"write_host_interface", "host interface", 4},
                                           WriteFailure{"write_vm_disable", "VM disable", 5}),
                         [](const ::testing::TestParamInfo<WriteFailure>& info) {
                           return std::string(info.param.write);
                         });

// A signal at each kind of wait, raised by the scripted platform or prodtest
// while that call runs, with the tool's own handler installed.
class RunSequenceInterrupted : public RunSequence {
 protected:
  void SetUp() override {
    RunSequence::SetUp();
    ASSERT_EQ(InstallInterruptionHandlers(), 1);
  }
  void TearDown() override {
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) std::signal(signalNumber, SIG_DFL);
    ReleaseInterruptionHandling();
    InterruptedBy = 0;
  }
};

const char kNothingWritten[] = "Interrupted: no module setting was written\n";
const char kPartlyWritten[] = "Interrupted: the module may hold only part of the settings; repeat the run\n";

struct Interruption {
  const char* name;
  const char* platformCall;  // the platform call during which it comes, or ""
  int skips;                 // earlier calls of that line that pass
  const char* prodtestCall;  // or the prodtest call
  int signalNumber;
  std::string output;  // after "Contacting Corvane\n"
  std::vector<std::string> prodtestCalls;
  ULONGLONG waitedMs;  // the scripted clock at the end: no wait ran on
};

void PrintTo(const Interruption& c, std::ostream* os) { *os << c.name; }

const std::string kInit = "init_prodtest(1,COM1,115200,1)";
const std::string kClose = "close_prodtest(23130)";
const std::string kUntilSuccess = kDialogue + "Success\n";

const Interruption kInterruptions[] = {
    {"PulseStep", "Sleep(200)", 1, "", SIGINT, kNothingWritten, {}, 200},
    {"PnpReplyWait", "ReadFile(1)", 0, "", SIGTERM, "Waiting for PNP Reply\n" + std::string(kNothingWritten), {}, 800},
    // The cut echo is ended before the line.
    {"InsideTheId",
     "ReadFile(1)",
     5,
     "",
     SIGHUP,
     "Waiting for PNP Reply\nKV\n" + std::string(kNothingWritten),
     {},
     800},
    {"FastLinePause",
     "Sleep(200)",
     4,
     "",
     SIGTERM,
     "Waiting for PNP Reply\nKVT3052\n" + std::string(kNothingWritten),
     {},
     800},
    {"ReadyReply",
     "ReadFile(1)",
     14,
     "",
     SIGINT,
     "Waiting for PNP Reply\nKVT3052\nKES\n" + std::string(kNothingWritten),
     {},
     1000},
    {"HandOverPause", "Sleep(500)", 0, "", SIGTERM, kUntilSuccess + kNothingWritten, {}, 1000},
    {"ModuleLinkOpening", "", 0, "init_prodtest", SIGINT, kUntilSuccess + kNothingWritten, {kInit}, 1500},
    {"UartConfigWrite",
     "",
     0,
     "write_uart_config",
     SIGTERM,
     kUntilSuccess + kPartlyWritten,
     {kInit, "write_uart_config(23130,168)", kClose},
     1500},
    {"HostInterfaceWrite",
     "",
     0,
     "write_host_interface",
     SIGHUP,
     kUntilSuccess + kPartlyWritten,
     {kInit, "write_uart_config(23130,168)", "write_host_interface(23130,4)", kClose},
     1500},
    {"VmDisableWrite",
     "",
     0,
     "write_vm_disable",
     SIGINT,
     kUntilSuccess + kPartlyWritten,
     {kInit, "write_uart_config(23130,168)", "write_host_interface(23130,4)", "write_vm_disable(23130,0)", kClose},
     1500},
};

class RunSequenceInterruptedAt : public RunSequenceInterrupted, public ::testing::WithParamInterface<Interruption> {};

TEST_P(RunSequenceInterruptedAt, ReleasesEverythingAndEndsWithTheSignalStatus) {
  const Interruption& c = GetParam();
  fake::QueueText(kGoodLine);
  fake::State().signalDuring = c.platformCall;
  fake::State().signalSkips = c.skips;
  fake::ProdtestState().signalDuring = c.prodtestCall;
  if (*c.platformCall != '\0')
    fake::State().signalNumber = c.signalNumber;
  else
    fake::ProdtestState().signalNumber = c.signalNumber;

  RunResult run = RunWith({"on"});

  EXPECT_EQ(run.status, 128 + c.signalNumber);
  EXPECT_EQ(run.output, "Contacting Corvane\n" + c.output);
  EXPECT_EQ(ProdtestCalls(), c.prodtestCalls);
  EXPECT_EQ(fake::State().openHandles, 0);
  EXPECT_EQ(PortHandle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(fake::State().calls.back(), "CloseHandle()");
  EXPECT_TRUE(fake::State().waitsCancelled) << "the handler cuts the layer's waits short";
  EXPECT_EQ(fake::State().tickMs, c.waitedMs);
  // Nothing is read or written on the port after the signal.
  if (*c.platformCall != '\0') {
    const std::vector<std::string>& calls = fake::State().calls;
    std::size_t at = 0;
    for (int seen = -1; seen < c.skips; ++at)
      if (calls[at] == c.platformCall) ++seen;
    for (std::size_t i = at; i < calls.size(); ++i) {
      EXPECT_NE(calls[i].rfind("ReadFile", 0), 0u) << i;
      EXPECT_NE(calls[i].rfind("WriteFile", 0), 0u) << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EachWait, RunSequenceInterruptedAt, ::testing::ValuesIn(kInterruptions),
                         [](const ::testing::TestParamInfo<Interruption>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(RunSequenceInterrupted, SignalJustAfterTheDialogueClosesThePortAsUsual) {
  // The signal comes once the last byte of the ready reply is in: the
  // dialogue succeeds and leaves the port open, and the run closes it as
  // the hand-over would (purge, close) instead of going on.
  fake::QueueText(kGoodLine);
  fake::State().afterRead = [](DWORD) {
    if (fake::State().nextRead == kGoodLine.size()) std::raise(SIGTERM);
  };
  RunResult run = RunWith({"on"});
  EXPECT_EQ(run.status, 143);
  // Diagnostics stop with the signal, the last echo among them.
  EXPECT_EQ(run.output,
            "Contacting Corvane\nWaiting for PNP Reply\nKVT3052\nKESTRAVIN READ\n" + std::string(kNothingWritten));
  EXPECT_EQ(fake::State().openHandles, 0);
  std::vector<std::string> calls = fake::State().calls;
  EXPECT_EQ(std::vector<std::string>(calls.end() - 3, calls.end()),
            (std::vector<std::string>{"ReadFile(1)", "PurgeComm(0x0F)", "CloseHandle()"}));
  EXPECT_TRUE(fake::State().written == std::vector<std::uint8_t>(kSetup.begin(), kSetup.end()))
      << "no hand-over command";
  EXPECT_TRUE(ProdtestCalls().empty());
}

struct CompletedCall {
  const char* call;
  std::vector<std::string> prodtestCalls;
  const char* lastLine;
};

void PrintTo(const CompletedCall& c, std::ostream* os) { *os << c.call; }

class RunSequenceInterruptedAsCallCompletes : public RunSequenceInterrupted,
                                              public ::testing::WithParamInterface<CompletedCall> {};

TEST_P(RunSequenceInterruptedAsCallCompletes, StartsNoFurtherWrite) {
  fake::QueueText(kGoodLine);
  fake::ProdtestState().signalDuring = GetParam().call;
  fake::ProdtestState().signalNumber = SIGINT;
  fake::ProdtestState().signalCallCompletes = true;
  RunResult run = RunWith({"on"});
  EXPECT_EQ(run.status, 130);
  EXPECT_EQ(run.output, "Contacting Corvane\n" + kUntilSuccess + GetParam().lastLine);
  EXPECT_EQ(ProdtestCalls(), GetParam().prodtestCalls);
}

INSTANTIATE_TEST_SUITE_P(
    EachCall, RunSequenceInterruptedAsCallCompletes,
    ::testing::Values(CompletedCall{"init_prodtest", {kInit, kClose}, kPartlyWritten},
                      CompletedCall{
                          "write_uart_config", {kInit, "write_uart_config(23130,168)", kClose}, kPartlyWritten},
                      CompletedCall{"write_host_interface",
                                    {kInit, "write_uart_config(23130,168)", "write_host_interface(23130,4)", kClose},
                                    kPartlyWritten}),
    [](const ::testing::TestParamInfo<CompletedCall>& info) { return std::string(info.param.call); });

TEST_F(RunSequenceInterrupted, SignalAfterTheLastSettingEndsTheRunAsComplete) {
  fake::QueueText(kGoodLine);
  fake::ProdtestState().signalDuring = "close_prodtest";
  fake::ProdtestState().signalNumber = SIGTERM;
  RunResult run = RunWith({"off"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output,
            "Contacting Corvane\n" + kUntilSuccess + "Handshake set off\nPlease power off and on Corvane Device\n");
  EXPECT_EQ(RunInterrupted(), SIGTERM) << "the signal did come";
}

TEST_F(RunSequenceInterrupted, SignalBeforeTheRunStopsItBeforeThePortIsOpened) {
  std::raise(SIGTERM);
  RunResult run = RunWith({"on"});
  EXPECT_EQ(run.status, 143);
  EXPECT_EQ(run.output, "Contacting Corvane\n" + std::string(kNothingWritten));
  EXPECT_EQ(fake::State().openHandles, 0);
  EXPECT_TRUE(fake::CallsStartingWith("ReadFile").empty());
  EXPECT_TRUE(ProdtestCalls().empty());
}

}  // namespace
