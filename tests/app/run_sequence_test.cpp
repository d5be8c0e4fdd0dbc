// The tool's run from the command word to the last line, over the scripted
// platform and a stand-in prodtest: the exact output and exit status of each
// way a run can go, what prodtest is asked, and that the tool's own port is
// closed before prodtest opens the same one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/run_sequence.h"
#include "serial/port.h"
#include "tests/fake/fake_platform.h"
#include "tests/fake/fake_prodtest.h"

namespace {

const std::string kGoodLine = "(10KVT3052)KESTRAVIN READY";
const std::string kDialogue = "Waiting for PNP Reply\nKVT3052\nKESTRAVIN READY\n";

struct RunResult {
    int status;
    std::string output;
};

class RunSequence : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::Reset();
        fake::ResetProdtest();
        PortHandle = INVALID_HANDLE_VALUE;
        HandshakeMode = HandshakeOn;
    }

    RunResult RunWith(std::vector<std::string> words)
    {
        words.insert(words.begin(), "corvane-handshake");
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(&word[0]);
        argv.push_back(nullptr);
        testing::internal::CaptureStdout();
        int status = RunHandshake((int)words.size(), argv.data());
        return RunResult{status, testing::internal::GetCapturedStdout()};
    }

    static const std::vector<std::string>& ProdtestCalls() { return fake::ProdtestState().calls; }
};

TEST_F(RunSequence, CompleteRunOn)
{
    fake::QueueText(kGoodLine);
    RunResult run = RunWith({"on"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, "Contacting Corvane\n" + kDialogue +
                              "Success\nHandshake set on\nPlease power off and on Corvane Device\n");
    std::vector<std::string> expected = {"init_prodtest(1,COM1,115200,1)", "write_uart_config(23130,168)",
                                         "write_host_interface(23130,4)", "write_vm_disable(23130,0)",
                                         "close_prodtest(23130)"};
    EXPECT_EQ(ProdtestCalls(), expected);
}

TEST_F(RunSequence, CompleteRunOffClearsTheHandshakeBit)
{
    fake::QueueText(kGoodLine);
    RunResult run = RunWith({"off"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, "Contacting Corvane\n" + kDialogue +
                              "Success\nHandshake set off\nPlease power off and on Corvane Device\n");
    ASSERT_GE(ProdtestCalls().size(), 2u);
    EXPECT_EQ(ProdtestCalls()[1], "write_uart_config(23130,160)");
}

TEST_F(RunSequence, FurtherWordsAreIgnored)
{
    fake::QueueText(kGoodLine);
    RunResult run = RunWith({"on", "off", "extra"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ProdtestCalls().at(1), "write_uart_config(23130,168)");
}

TEST_F(RunSequence, HandsThePortOverBeforeProdtestOpensIt)
{
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

TEST_P(RunSequenceWord, RefusedWithUsageStatusAndNothingOpened)
{
    RunResult run = RunWith(GetParam().words);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.output, GetParam().output);
    EXPECT_TRUE(fake::State().calls.empty());
    EXPECT_TRUE(ProdtestCalls().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Words, RunSequenceWord,
    ::testing::Values(WordCase{"NoWord", {}, "Usage: \ncorvane-handshake [on] | [off]\n"},
                      WordCase{"Upper", {"ON"}, "Invalid Argument: ON\n"},
                      WordCase{"Mixed", {"Off"}, "Invalid Argument: Off\n"},
                      WordCase{"Empty", {""}, "Invalid Argument: \n"},
                      WordCase{"Prefix", {"o"}, "Invalid Argument: o\n"},
                      WordCase{"Longer", {"onn"}, "Invalid Argument: onn\n"}),
    [](const ::testing::TestParamInfo<WordCase>& info) { return std::string(info.param.name); });

TEST_F(RunSequence, EmptyArgumentListShowsUsageWithoutAName)
{
    char* argv[] = {nullptr};
    testing::internal::CaptureStdout();
    int status = RunHandshake(0, argv);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Usage: \ncorvane-handshake [on] | [off]\n");
    EXPECT_EQ(status, 2);
    EXPECT_TRUE(fake::State().calls.empty());
}

TEST_F(RunSequence, AdapterAbsent)
{
    RunResult run = RunWith({"on"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, "Contacting Corvane\nWaiting for PNP Reply\nDo PNP failed\nCorvane not found on COM1\n");
    EXPECT_TRUE(ProdtestCalls().empty());
    EXPECT_EQ(fake::State().openHandles, 0);
}

TEST_F(RunSequence, PortMissing)
{
    fake::State().failures["CreateFileA"] = 2;
    RunResult run = RunWith({"off"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, "Contacting Corvane\nCreateFile for \\\\.\\COM1 failed 2\nCorvane not found on COM1\n");
    EXPECT_TRUE(ProdtestCalls().empty());
}

TEST_F(RunSequence, ModuleLinkDoesNotOpen)
{
    fake::QueueText(kGoodLine);
    fake::ProdtestState().connection = 0;
    RunResult run = RunWith({"on"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, "Contacting Corvane\n" + kDialogue + "Success\nfailed to open BCSP\n");
    EXPECT_EQ(ProdtestCalls(), std::vector<std::string>{"init_prodtest(1,COM1,115200,1)"});
    EXPECT_EQ(fake::State().written.size(), 15u + 4u) << "the hand-over was sent";
}

TEST_F(RunSequence, FailedHandOverWriteStillGoesOn)
{
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

TEST_P(RunSequenceWriteFailure, StopsAtTheFirstFailedWriteAndCloses)
{
    fake::QueueText(kGoodLine);
    fake::ProdtestState().failingWrite = GetParam().write;
    RunResult run = RunWith({"on"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output,
              "Contacting Corvane\n" + kDialogue + "Success\nfailed to write " + GetParam().setting + "\n");
    ASSERT_EQ(ProdtestCalls().size(), GetParam().callsMade);
    EXPECT_EQ(ProdtestCalls()[GetParam().callsMade - 2].rfind(GetParam().write, 0), 0u);
    EXPECT_EQ(ProdtestCalls().back(), "close_prodtest(23130)");
}

INSTANTIATE_TEST_SUITE_P(
    EachSetting, RunSequenceWriteFailure,
    ::testing::Values(WriteFailure{"write_uart_config", "UART configuration", 3},
                      WriteFailure{"write_host_interface", "host interface", 4},
                      WriteFailure{"write_vm_disable", "VM disable", 5}),
    [](const ::testing::TestParamInfo<WriteFailure>& info) { return std::string(info.param.write); });

}  // namespace
