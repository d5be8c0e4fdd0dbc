// The adapter dialogue over the scripted platform: the pulse sequence, the
// Plug-and-Play reply and the setup handshake as the adapter may answer them,
// with the exact diagnostics and the state of the port after each.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "adapter/adapter.h"
#include "serial/diagnostics.h"
#include "serial/port.h"
#include "tests/fake/fake_platform.h"

namespace {

const std::string kReady = "KESTRAVIN READY";

class Adapter : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    PortHandle = INVALID_HANDLE_VALUE;
    EchoVisibleOnly = 0;
  }
  void TearDown() override {
    ClosePort();
    EchoVisibleOnly = 0;
  }

  int Contact(std::string* out) {
    testing::internal::CaptureStdout();
    int result = ContactAdapter(1);
    *out = testing::internal::GetCapturedStdout();
    return result;
  }
};

TEST_F(Adapter, PulsesTheLinesInOrderWithTheirWaits) {
  ASSERT_EQ(OpenPort(1), 1);
  fake::State().calls.clear();
  PulsePnpLines();
  std::vector<std::string> expected = {"EscapeCommFunction(CLRRTS)",
                                       "EscapeCommFunction(SETDTR)",
                                       "Sleep(200)",
                                       "EscapeCommFunction(CLRDTR)",
                                       "Sleep(200)",
                                       "EscapeCommFunction(SETDTR)",
                                       "Sleep(200)",
                                       "EscapeCommFunction(SETRTS)",
                                       "Sleep(200)"};
  EXPECT_EQ(fake::State().calls, expected);
}

TEST_F(Adapter, WholeDialogueInOrder) {
  fake::QueueText("(10KVT3052)" + kReady);
  std::string out;
  ASSERT_EQ(Contact(&out), 1);

  // Nothing is read before the pulses end, and nothing is purged after the
  // open; the fast line is set before the 200 ms pause and the request.
  std::vector<std::string> calls = fake::State().calls;
  auto at = [&](const std::string& call) {
    for (std::size_t i = 0; i < calls.size(); ++i)
      if (calls[i] == call) return (int)i;
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
  EXPECT_EQ(std::string(fake::State().written.begin(), fake::State().written.end()), "KESTRAVIN SETUP");
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
std::string Accepted(const std::string& echo) { return "Waiting for PNP Reply\n" + echo + "\n" + kReady + "\n"; }

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
    // Toward a pipe or a file the echo keeps the bytes as they came.
    {"ControlBytesKeptRaw", "(10KVT3052\x1b[2J\x1b]0;t\x07\x0e)" + kReady, 1,
     Accepted("KVT3052\x1b[2J\x1b]0;t\x07\x0e")},
};

void PrintTo(const Dialogue& d, std::ostream* os) { *os << d.name; }

class AdapterDialogue : public Adapter, public ::testing::WithParamInterface<Dialogue> {};

TEST_P(AdapterDialogue, ResultOutputAndPort) {
  fake::QueueText(GetParam().line);
  std::string out;
  EXPECT_EQ(Contact(&out), GetParam().result);
  EXPECT_EQ(out, GetParam().output);
  EXPECT_EQ(fake::State().openHandles, GetParam().result);
  EXPECT_EQ(PortHandle == INVALID_HANDLE_VALUE, GetParam().result == 0);
}

INSTANTIATE_TEST_SUITE_P(Replies, AdapterDialogue, ::testing::ValuesIn(kDialogues),
                         [](const ::testing::TestParamInfo<Dialogue>& info) { return std::string(info.param.name); });

// On a terminal only visible text reaches it: a device (or a line at the
// wrong rate) cannot clear the screen, set the title or switch the character
// set. The verdicts and the messages are the same as toward a pipe.
const Dialogue kOnATerminal[] = {
    {"EscapesAfterTheId", "(10KVT3052\x1b[2J\x1b]0;title\x07\x0e)" + kReady, 1,
     Accepted("KVT3052\\x1b[2J\\x1b]0;title\\x07\\x0e")},
    {"EveryByteOutsideVisibleText", std::string("(10KVT3052\x01\x09\x0a\x0d\x1f\x7f\x80\xc3\xff") + " ~)" + kReady, 1,
     Accepted("KVT3052\\x01\\x09\\x0a\\x0d\\x1f\\x7f\\x80\\xc3\\xff ~")},
    {"WrongIdByteShownEscaped", "(10KV\x1b", 0, "Waiting for PNP Reply\nKV\\x1bDo PNP failed\n"},
    {"SilentInsideIdShownEscaped", "(10KVT", 0, "Waiting for PNP Reply\nKVT\\x00Do PNP failed\n"},
    {"ReadySilentShownEscaped", "(10KVT3052)", 0, "Waiting for PNP Reply\nKVT3052\n\\x00PNP HS Failed\n"},
    {"ReadyWrongByteShownEscaped", "(10KVT3052)KESTRAVIN\x1b", 0,
     "Waiting for PNP Reply\nKVT3052\nKESTRAVIN\\x1bPNP HS Failed\n"},
    {"VisibleTextAsItCame", "(10KVT3052 \\x1b~)" + kReady, 1, Accepted("KVT3052 \\x1b~")},
};

class AdapterOnATerminal : public Adapter, public ::testing::WithParamInterface<Dialogue> {};

TEST_P(AdapterOnATerminal, EchoesOnlyVisibleText) {
  EchoVisibleOnly = 1;
  fake::QueueText(GetParam().line);
  std::string out;
  EXPECT_EQ(Contact(&out), GetParam().result);
  EXPECT_EQ(out, GetParam().output);
  for (char c : out) EXPECT_TRUE(c == '\n' || (c >= 0x20 && c <= 0x7E)) << "byte " << (int)(unsigned char)c;
  EXPECT_EQ(fake::State().openHandles, GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(Replies, AdapterOnATerminal, ::testing::ValuesIn(kOnATerminal),
                         [](const ::testing::TestParamInfo<Dialogue>& info) { return std::string(info.param.name); });

// The reply is bounded in time as well: no byte is read once 3 s have passed
// since the "(" was read, on the clock that the platform gives.
struct Trickle {
  const char* name;
  std::vector<DWORD> gapsMs;  // before each byte after "(": "10KVT3052" then "Z"s
  bool closes;                // a ")" follows the bytes, without delay
  int result;
  std::string echo;
  std::size_t reads;  // ReadFile calls from the "(" on
};

void PrintTo(const Trickle& t, std::ostream* os) { *os << t.name; }

class AdapterReplyInTime : public Adapter, public ::testing::WithParamInterface<Trickle> {};

TEST_P(AdapterReplyInTime, EndsTheReplyAtTheBound) {
  const Trickle& t = GetParam();
  const std::string bytes = "10KVT3052" + std::string(300, 'Z');
  fake::State().reads.push_back(fake::Byte('('));
  for (std::size_t i = 0; i < t.gapsMs.size(); ++i)
    fake::State().reads.push_back(fake::LateByte((std::uint8_t)bytes[i], t.gapsMs[i]));
  if (t.closes) fake::QueueText(")" + kReady);
  std::string out;
  EXPECT_EQ(Contact(&out), t.result);
  EXPECT_EQ(out,
            "Waiting for PNP Reply\n" + t.echo + (t.result ? "\n" + kReady + "\n" : std::string("Do PNP failed\n")));
  std::size_t reads = fake::CallsStartingWith("ReadFile").size() - (t.result ? kReady.size() : 0);
  EXPECT_EQ(reads, t.reads);
  EXPECT_EQ(fake::State().openHandles, t.result);
}

INSTANTIATE_TEST_SUITE_P(Gaps, AdapterReplyInTime,
                         ::testing::Values(
                             // A byte every 1.4 s and never a ")": three ID reads, not 253.
                             Trickle{"OneByteEvery1400Ms", std::vector<DWORD>(300, 1400), false, 0, "K", 4},
                             // The bound is checked before each read: at 2999 ms one more byte
                             // is read, at 3000 ms none.
                             Trickle{"CheckedAt2999", {999, 1000, 1000, 1}, false, 0, "KV", 5},
                             Trickle{"CheckedAt3000", {1000, 1000, 1000, 1}, false, 0, "K", 4},
                             Trickle{"ClosingBefore3000", {999, 1000, 1000}, true, 1, "K", 5},
                             // 256 bytes at 1200 baud (8.3 ms each) take 2.1 s: well inside.
                             Trickle{"LongestReplyAt1200Baud", std::vector<DWORD>(9 + 245, 9), true, 1,
                                     "KVT3052" + std::string(245, 'Z'), 256}),
                         [](const ::testing::TestParamInfo<Trickle>& info) { return std::string(info.param.name); });

TEST_F(Adapter, ReplyIsBoundedAt256Bytes) {
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

TEST_F(Adapter, ClosingParenthesisAsThe256thByteIsAccepted) {
  fake::QueueText("(10KVT3052" + std::string(256 - 11, 'Z') + ")" + kReady);
  std::string out;
  EXPECT_EQ(Contact(&out), 1);
}

TEST_F(Adapter, UnopenablePortFailsWithoutDialogue) {
  fake::State().failures["CreateFileA"] = 5;
  std::string out;
  EXPECT_EQ(Contact(&out), 0);
  EXPECT_EQ(out, "CreateFile for \\\\.\\COM1 failed 5\n");
  EXPECT_TRUE(fake::CallsStartingWith("EscapeCommFunction").empty());
}

TEST_F(Adapter, RefusedFastLineFailsAfterTheReply) {
  fake::QueueText("(10KVT3052)" + kReady);
  fake::State().failures["SetCommState"] = 31;
  fake::State().failuresAfter["SetCommState"] = 1;  // the open's own passes
  std::string out;
  EXPECT_EQ(Contact(&out), 0);
  EXPECT_EQ(out, "Waiting for PNP Reply\nKVT3052SetCommState failed 31\n");
  EXPECT_EQ(fake::State().openHandles, 0);
  EXPECT_TRUE(fake::CallsStartingWith("WriteFile").empty());
}

TEST_F(Adapter, SetupRequestNotWritten) {
  fake::QueueText("(10KVT3052)" + kReady);
  fake::State().failures["WriteFile"] = 1117;
  std::string out;
  EXPECT_EQ(Contact(&out), 0);
  EXPECT_EQ(out,
            "Waiting for PNP Reply\nKVT3052Write Failed: 1117\nWrite Setup Request failed: 1117\n"
            "PNP HS Failed\n");
  EXPECT_EQ(fake::State().openHandles, 0);
}

TEST_F(Adapter, PartlyWrittenSetupRequestCountsAsSent) {
  fake::QueueText("(10KVT3052)" + kReady);
  fake::State().writeLimit = 3;
  std::string out;
  EXPECT_EQ(Contact(&out), 1);
}

}  // namespace
