// The adapter dialogue over the scripted platform: the pulse sequence, the
// Plug-and-Play reply and the setup handshake as the adapter may answer them,
// with the exact diagnostics and the state of the port after each.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "adapter/adapter.h"
#include "serial/port.h"
#include "tests/fake/fake_platform.h"

namespace {

const std::string kReady = "KESTRAVIN READY";

class Adapter : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::Reset();
        PortHandle = INVALID_HANDLE_VALUE;
    }
    void TearDown() override { ClosePort(); }

    int Contact(std::string* out)
    {
        testing::internal::CaptureStdout();
        int result = ContactAdapter(1);
        *out = testing::internal::GetCapturedStdout();
        return result;
    }
};

TEST_F(Adapter, PulsesTheLinesInOrderWithTheirWaits)
{
    ASSERT_EQ(OpenPort(1), 1);
    fake::State().calls.clear();
    PulsePnpLines();
    std::vector<std::string> expected = {
        "EscapeCommFunction(CLRRTS)", "EscapeCommFunction(SETDTR)", "Sleep(200)",
        "EscapeCommFunction(CLRDTR)", "Sleep(200)",                 "EscapeCommFunction(SETDTR)",
        "Sleep(200)",                 "EscapeCommFunction(SETRTS)", "Sleep(200)"};
    EXPECT_EQ(fake::State().calls, expected);
}

TEST_F(Adapter, WholeDialogueInOrder)
{
    fake::QueueText("(10KVT3052)" + kReady);
    std::string out;
    ASSERT_EQ(Contact(&out), 1);

    // Nothing is read before the pulses end, and nothing is purged after the
    // open; the fast line is set before the 200 ms pause and the request.
    std::vector<std::string> calls = fake::State().calls;
    auto at = [&](const std::string& call) {
        for (std::size_t i = 0; i < calls.size(); ++i)
            if (calls[i] == call)
                return (int)i;
        return -1;
    };
    int lastPulse = at("EscapeCommFunction(SETRTS)");
    int firstRead = at("ReadFile(1)");
    int fastLine = at("SetCommState(115200)");
    int request = at("WriteFile(15)");
    ASSERT_GE(lastPulse, 0);
    EXPECT_EQ(calls[lastPulse + 1], "Sleep(200)");
    EXPECT_EQ(firstRead, lastPulse + 2);
    ASSERT_GT(fastLine, firstRead);
    EXPECT_EQ(calls[fastLine + 1], "Sleep(200)");
    EXPECT_EQ(request, fastLine + 2);
    EXPECT_EQ(fake::CallsStartingWith("PurgeComm").size(), 1u);
    EXPECT_EQ(std::string(fake::State().written.begin(), fake::State().written.end()),
              "KESTRAVIN SETUP");
    EXPECT_EQ(fake::State().openHandles, 1) << "the port stays open for the caller";
    EXPECT_EQ(fake::State().statesSet.back().BaudRate, 115200u);
}

struct Dialogue {
    const char* name;
    std::string line;  // what the adapter sends
    int result;
    std::string output;
};

// Output of a good reply for ID characters `echo`.
std::string Accepted(const std::string& echo)
{
    return "Waiting for PNP Reply\n" + echo + "\n" + kReady + "\n";
}

const Dialogue kDialogues[] = {
    {"FirstId", "(10KVT3052)" + kReady, 1, Accepted("KVT3052")},
    {"SecondId", "(10KVT4062)" + kReady, 1, Accepted("KVT4062")},
    {"MixedIds", "(10KVT3062)" + kReady, 1, Accepted("KVT3062")},
    {"OtherMix", "(10KVT4052)" + kReady, 1, Accepted("KVT4052")},
    {"EmptyId", "(10)" + kReady, 1, Accepted("")},
    {"ShortId", "(10KV)" + kReady, 1, Accepted("KV")},
    {"LongIdEchoed", "(10KVT3052\\0001\\PNP0501)" + kReady, 1, Accepted("KVT3052\\0001\\PNP0501")},
    {"ParenthesisInRevision", "()(KVT3052)" + kReady, 1, Accepted("KVT3052")},
    {"WrongFirstByte", "[10KVT3052)", 0, "Waiting for PNP Reply\nDo PNP failed\n"},
    {"LeadingByteNotSkipped", " (10KVT3052)", 0, "Waiting for PNP Reply\nDo PNP failed\n"},
    {"WrongThirdIdChar", "(10KVX3052)", 0, "Waiting for PNP Reply\nKVXDo PNP failed\n"},
    {"WrongSeventhIdChar", "(10KVT3053)", 0, "Waiting for PNP Reply\nKVT3053Do PNP failed\n"},
    {"Silent", "", 0, "Waiting for PNP Reply\nDo PNP failed\n"},
    {"SilentInsideId", "(10KVT", 0, std::string("Waiting for PNP Reply\nKVT") + '\0' + "Do PNP failed\n"},
    {"SilentAfterId", "(10KVT3052", 0, "Waiting for PNP Reply\nKVT3052Do PNP failed\n"},
    {"SilentAfterLongerId", "(10KVT3052AB", 0, "Waiting for PNP Reply\nKVT3052ABDo PNP failed\n"},
    {"BytesAfterReply", "(10KVT3052)X" + kReady, 0, "Waiting for PNP Reply\nKVT3052\nXPNP HS Failed\n"},
    {"ReadyWrongAtByte13", "(10KVT3052)KESTRAVIN REXDY", 0,
     "Waiting for PNP Reply\nKVT3052\nKESTRAVIN REXPNP HS Failed\n"},
    {"ReadySilent", "(10KVT3052)", 0, std::string("Waiting for PNP Reply\nKVT3052\n") + '\0' + "PNP HS Failed\n"},
};

void PrintTo(const Dialogue& d, std::ostream* os) { *os << d.name; }

class AdapterDialogue : public Adapter, public ::testing::WithParamInterface<Dialogue> {};

TEST_P(AdapterDialogue, ResultOutputAndPort)
{
    fake::QueueText(GetParam().line);
    std::string out;
    EXPECT_EQ(Contact(&out), GetParam().result);
    EXPECT_EQ(out, GetParam().output);
    EXPECT_EQ(fake::State().openHandles, GetParam().result);
    EXPECT_EQ(PortHandle == INVALID_HANDLE_VALUE, GetParam().result == 0);
}

INSTANTIATE_TEST_SUITE_P(Replies, AdapterDialogue, ::testing::ValuesIn(kDialogues),
                         [](const ::testing::TestParamInfo<Dialogue>& info) { return std::string(info.param.name); });

TEST_F(Adapter, ReplyIsBoundedAt256Bytes)
{
    // "(", two revision bytes and ID characters without end: 256 bytes are
    // read from the "(" on, and the next byte, a ")", is never looked at.
    std::string endless = "(10KVT3052" + std::string(300, 'Z');
    fake::QueueText(endless);
    std::string out;
    EXPECT_EQ(Contact(&out), 0);
    EXPECT_EQ(fake::CallsStartingWith("ReadFile").size(), 256u);
    EXPECT_EQ(out, "Waiting for PNP Reply\nKVT3052" + std::string(256 - 3 - 7, 'Z') + "Do PNP failed\n");
    EXPECT_EQ(fake::State().openHandles, 0);
}

TEST_F(Adapter, ClosingParenthesisAsThe256thByteIsAccepted)
{
    fake::QueueText("(10KVT3052" + std::string(256 - 11, 'Z') + ")" + kReady);
    std::string out;
    EXPECT_EQ(Contact(&out), 1);
}

TEST_F(Adapter, UnopenablePortFailsWithoutDialogue)
{
    fake::State().failures["CreateFileA"] = 5;
    std::string out;
    EXPECT_EQ(Contact(&out), 0);
    EXPECT_EQ(out, "CreateFile for \\\\.\\COM1 failed 5\n");
    EXPECT_TRUE(fake::CallsStartingWith("EscapeCommFunction").empty());
}

TEST_F(Adapter, RefusedFastLineFailsAfterTheReply)
{
    fake::QueueText("(10KVT3052)" + kReady);
    fake::State().failures["SetCommState"] = 31;
    fake::State().failuresAfter["SetCommState"] = 1;  // the open's own passes
    std::string out;
    EXPECT_EQ(Contact(&out), 0);
    EXPECT_EQ(out, "Waiting for PNP Reply\nKVT3052SetCommState failed 31\n");
    EXPECT_EQ(fake::State().openHandles, 0);
    EXPECT_TRUE(fake::CallsStartingWith("WriteFile").empty());
}

TEST_F(Adapter, SetupRequestNotWritten)
{
    fake::QueueText("(10KVT3052)" + kReady);
    fake::State().failures["WriteFile"] = 1117;
    std::string out;
    EXPECT_EQ(Contact(&out), 0);
    EXPECT_EQ(out, "Waiting for PNP Reply\nKVT3052Write Failed: 1117\nWrite Setup Request failed: 1117\n"
                   "PNP HS Failed\n");
    EXPECT_EQ(fake::State().openHandles, 0);
}

TEST_F(Adapter, PartlyWrittenSetupRequestCountsAsSent)
{
    fake::QueueText("(10KVT3052)" + kReady);
    fake::State().writeLimit = 3;
    std::string out;
    EXPECT_EQ(Contact(&out), 1);
}

}  // namespace
