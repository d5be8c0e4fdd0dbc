// prodtest's own promises, over the scripted platform on the fake link clock:
// what it asks of the port (the open, its line settings and time-outs, the
// purge), which arguments and connection values it refuses without touching
// the port, when a write counts as done, its two limits (8 sends of a request,
// 2000 ms for the link and for an answer), and what a write that moves no
// bytes does. Bytes are checked against the protocol's own, written out by
// hand.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "bcsp/packet.h"
#include "bcsp/settings_message.h"
#include "testlib/prodtest.h"
#include "testlib/serial_channel.h"
#include "tests/fake/fake_platform.h"
#include "tests/testlib/link_fixture.h"
#include "tests/testlib/module_peer.h"

namespace {

using linktest::Beat;
using linktest::IsAck;
using linktest::IsAnswer;
using linktest::IsConf;
using linktest::IsRequest;
using linktest::IsSync;
using linktest::kRunOn;
using linktest::LinkTest;
using linktest::Now;
using peer::Bytes;
using std::chrono::milliseconds;

// Frames as the protocol spells them, CRC on.
const Bytes kSyncFrame = {0xC0, 0x40, 0x41, 0x00, 0x7E, 'S', 'Y', 'N', 'C', 0x08, 0x91, 0xC0};
const Bytes kSynaFrame = {0xC0, 0x40, 0x41, 0x00, 0x7E, 'S', 'Y', 'N', 'A', 0x28, 0xD3, 0xC0};
const Bytes kConaFrame = {0xC0, 0x40, 0x41, 0x00, 0x7E, 'C', 'O', 'N', 'A', 0xC2, 0xB7, 0xC0};
// The module's answer to the connection's first request (tag 1, UART
// configuration, accepted): seq 0, acknowledging the host's seq 0.
const Bytes kFirstAnswerFrame = {0xC0, 0xC8, 0x52, 0x00, 0xE5, 0x81, 0x01, 0x01, 0x00, 0x00, 0x94, 0x18, 0xC0};

// The host's frames, unescaped, read straight from what it wrote and without
// the link's own framing code.
std::vector<Bytes> HostFrames() {
  std::vector<Bytes> frames;
  Bytes frame;
  bool escape = false;
  for (std::uint8_t byte : fake::State().written) {
    if (byte == 0xC0) {
      if (!frame.empty()) frames.push_back(frame);
      frame.clear();
    } else if (escape) {
      frame.push_back(byte == 0xDC ? 0xC0 : byte == 0xDD ? 0xDB : 0x00);
      escape = false;
    } else if (byte == 0xDB) {
      escape = true;
    } else {
      frame.push_back(byte);
    }
  }
  return frames;
}

// --- What it asks of the port ---------------------------------------------

TEST_F(LinkTest, RefusedArgumentsNeverReachThePlatform) {
  StartPeer();
  for (std::int32_t transport : {0, 2, -1, 3}) {
    EXPECT_EQ(init_prodtest(transport, "COM1", 115200, 1), 0u) << transport;
  }
  EXPECT_EQ(init_prodtest(1, nullptr, 115200, 1), 0u);
  for (std::int32_t rate : {0, -1, -115200}) {
    EXPECT_EQ(init_prodtest(1, "COM1", rate, 1), 0u) << rate;
  }
  EXPECT_TRUE(fake::State().calls.empty());
  ASSERT_NE(Open(), 0u);  // and nothing was left open
}

TEST_F(LinkTest, OpensTheNamedDeviceAloneForReadingAndWriting) {
  StartPeer();
  connection_ = init_prodtest(1, "COM7", 115200, 1);
  ASSERT_NE(connection_, 0u);
  const fake::Platform& p = fake::State();
  EXPECT_EQ(p.openedPaths, std::vector<std::string>{"\\\\.\\COM7"});
  EXPECT_EQ(p.createAccess, GENERIC_READ | GENERIC_WRITE);
  EXPECT_EQ(p.createShare, 0u);
  EXPECT_EQ(p.createDisposition, static_cast<DWORD>(OPEN_EXISTING));
  EXPECT_EQ(p.createFlags, 0u);  // no overlapped I/O
  EXPECT_EQ(p.openHandles, 1);
}

class LineModes : public LinkTest, public ::testing::WithParamInterface<std::int32_t> {};

TEST_P(LineModes, RateEightNOneNoFlowControlDtrAndRtsOnAndTheRestAsReported) {
  StartPeer();
  connection_ = init_prodtest(1, "COM1", GetParam(), 1);
  ASSERT_NE(connection_, 0u);
  ASSERT_EQ(fake::State().statesSet.size(), 1u);
  const DCB& d = fake::State().statesSet[0];
  EXPECT_EQ(d.DCBlength, sizeof(DCB));
  EXPECT_EQ(d.BaudRate, static_cast<DWORD>(GetParam()));
  EXPECT_EQ(d.ByteSize, 8);
  EXPECT_EQ(d.Parity, NOPARITY);
  EXPECT_EQ(d.StopBits, ONESTOPBIT);
  EXPECT_EQ(d.fBinary, 1u);
  EXPECT_EQ(d.fParity, 0u);
  EXPECT_EQ(d.fOutxCtsFlow, 0u);
  EXPECT_EQ(d.fOutxDsrFlow, 0u);
  EXPECT_EQ(d.fOutX, 0u);
  EXPECT_EQ(d.fInX, 0u);
  EXPECT_EQ(d.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
  EXPECT_EQ(d.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
  // No byte of a frame may be held back for DSR, replaced or dropped.
  EXPECT_EQ(d.fDsrSensitivity, 0u);
  EXPECT_EQ(d.fErrorChar, 0u);
  EXPECT_EQ(d.fNull, 0u);
  EXPECT_EQ(d.fAbortOnError, 0u);

  // Every other field stays as the port reported it.
  DCB expected = fake::State().reported;
  expected.DCBlength = d.DCBlength;
  expected.BaudRate = d.BaudRate;
  expected.ByteSize = d.ByteSize;
  expected.Parity = d.Parity;
  expected.StopBits = d.StopBits;
  expected.fBinary = d.fBinary;
  expected.fParity = d.fParity;
  expected.fOutxCtsFlow = d.fOutxCtsFlow;
  expected.fOutxDsrFlow = d.fOutxDsrFlow;
  expected.fOutX = d.fOutX;
  expected.fInX = d.fInX;
  expected.fDtrControl = d.fDtrControl;
  expected.fRtsControl = d.fRtsControl;
  expected.fDsrSensitivity = d.fDsrSensitivity;
  expected.fErrorChar = d.fErrorChar;
  expected.fNull = d.fNull;
  expected.fAbortOnError = d.fAbortOnError;
  EXPECT_EQ(std::memcmp(&expected, &d, sizeof(DCB)), 0) << "another field changed";
}

INSTANTIATE_TEST_SUITE_P(Rates, LineModes, ::testing::Values(115200, 57600, 9600));

TEST_F(LinkTest, ReadsReturnWhatIsQueuedOrTheFirstByteWithinTheWait) {
  peer::Config config;
  config.drop_outgoing = [](const bcsp::Packet&) { return true; };
  StartPeer(std::move(config));
  EXPECT_EQ(Open(), 0u);

  // At the open: reads return at once; writes get 500 ms in all.
  const std::vector<COMMTIMEOUTS>& set = fake::State().timeoutsSet;
  ASSERT_EQ(set.size(), 9u);
  EXPECT_EQ(set[0].ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(set[0].ReadTotalTimeoutMultiplier, MAXDWORD);
  EXPECT_EQ(set[0].ReadTotalTimeoutConstant, 1u);
  EXPECT_EQ(set[0].WriteTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(set[0].WriteTotalTimeoutConstant, 500u);
  // Each read of a silent establishment waits out the 250 ms to the next
  // SYNC, and returns with the first byte that comes.
  for (std::size_t i = 1; i < set.size(); ++i) {
    EXPECT_EQ(set[i].ReadIntervalTimeout, MAXDWORD) << i;
    EXPECT_EQ(set[i].ReadTotalTimeoutMultiplier, MAXDWORD) << i;
    EXPECT_EQ(set[i].ReadTotalTimeoutConstant, 250u) << i;
    EXPECT_EQ(set[i].WriteTotalTimeoutMultiplier, 0u) << i;
    EXPECT_EQ(set[i].WriteTotalTimeoutConstant, 500u) << i;
  }
}

TEST_F(LinkTest, PurgesBothDirectionsAfterTheSettingsAndBeforeTheFirstSync) {
  StartPeer();
  ASSERT_NE(Open(), 0u);
  std::vector<std::string> calls = fake::State().calls;
  ASSERT_GE(calls.size(), 6u);
  calls.resize(6);
  const std::vector<std::string> expected = {
      "CreateFileA(\\\\.\\COM1)", "GetCommState(" + std::to_string(sizeof(DCB)) + ")",
      "SetCommState(115200)",     "SetCommTimeouts()",
      "PurgeComm(0x0F)",          "WriteFile(" + std::to_string(kSyncFrame.size()) + ")"};
  EXPECT_EQ(calls, expected);
  const Bytes& written = fake::State().written;
  ASSERT_GE(written.size(), kSyncFrame.size());
  EXPECT_EQ(Bytes(written.begin(), written.begin() + kSyncFrame.size()), kSyncFrame);
}

struct OpenFailure {
  const char* call;
  int closes;  // CloseHandle calls expected: the port was open when it failed
};

void PrintTo(const OpenFailure& f, std::ostream* os) { *os << f.call; }

class OpenFails : public LinkTest, public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(OpenFails, InitReturnsZeroWithThePortClosedAndNothingSent) {
  StartPeer();
  fake::State().failures[GetParam().call] = 31;
  EXPECT_EQ(Open(), 0u);
  EXPECT_EQ(fake::State().openHandles, 0);
  EXPECT_EQ(fake::CallsStartingWith("CloseHandle").size(), static_cast<std::size_t>(GetParam().closes));
  EXPECT_TRUE(fake::State().written.empty());
  EXPECT_EQ(Now(), 0.0);
}

INSTANTIATE_TEST_SUITE_P(EachStep, OpenFails,
                         ::testing::Values(OpenFailure{"CreateFileA", 0}, OpenFailure{"GetCommState", 1},
                                           OpenFailure{"SetCommState", 1}, OpenFailure{"SetCommTimeouts", 1},
                                           OpenFailure{"PurgeComm", 1}),
                         [](const ::testing::TestParamInfo<OpenFailure>& info) {
                           return std::string(info.param.call);
                         });

// --- A port that fails ------------------------------------------------------

TEST_F(LinkTest, ReadFailureEndsTheInitAtOnceWithThePortClosed) {
  peer::Config config;
  config.drop_outgoing = [](const bcsp::Packet&) { return true; };
  StartPeer(std::move(config));
  line_->ScheduleReadFailure(milliseconds(100), 5);
  EXPECT_EQ(Open(), 0u);
  EXPECT_EQ(Now(), 100.0);
  EXPECT_EQ(fake::State().openHandles, 0);
}

TEST_F(LinkTest, ReadFailureEndsTheWriteAtOnceAndTheNextStartsTheLinkAfresh) {
  bool quiet = false;
  peer::Config config;
  config.drop_outgoing = [&quiet](const bcsp::Packet&) { return quiet; };
  StartPeer(std::move(config));
  ASSERT_NE(Open(), 0u);
  quiet = true;
  line_->ScheduleReadFailure(milliseconds(100), 5);
  EXPECT_EQ(write_uart_config(connection_, 0xA8), 0);
  EXPECT_EQ(Now(), 100.0);
  EXPECT_EQ(fake::State().openHandles, 1);  // the connection still holds the port

  quiet = false;
  EXPECT_EQ(write_uart_config(connection_, 0xA8), 1);
  EXPECT_EQ(TimesOf(IsSync), (std::vector<double>{0, 100}));
}

TEST_F(LinkTest, WriteFileFailureEndsTheWriteAtOnce) {
  StartPeer();
  ASSERT_NE(Open(), 0u);
  const std::size_t before = fake::CallsStartingWith("WriteFile").size();
  fake::State().failures["WriteFile"] = 22;
  EXPECT_EQ(write_uart_config(connection_, 0xA8), 0);
  EXPECT_EQ(Now(), 0.0);
  EXPECT_EQ(fake::CallsStartingWith("WriteFile").size(), before + 1);
  fake::State().failures.erase("WriteFile");
  EXPECT_EQ(write_uart_config(connection_, 0xA8), 1);
}

// --- Connection values -----------------------------------------------------

TEST_F(LinkTest, SecondInitWhileOpenFailsAndLeavesTheOpenOneWorking) {
  StartPeer();
  const std::uint32_t open = Open();
  ASSERT_NE(open, 0u);
  EXPECT_EQ(write_uart_config(open, 0xA8), 1);

  const std::size_t calls = fake::State().calls.size();
  EXPECT_EQ(init_prodtest(1, "COM1", 115200, 1), 0u);
  EXPECT_EQ(init_prodtest(1, "COM2", 57600, 0), 0u);
  EXPECT_EQ(fake::State().calls.size(), calls) << "the second init touched the port";
  EXPECT_EQ(fake::State().openHandles, 1);

  // The same link goes on: no new SYNC, and the next request takes seq 1.
  EXPECT_EQ(write_host_interface(open, 4), 1);
  EXPECT_EQ(write_vm_disable(open, 0), 1);
  EXPECT_EQ(TimesOf(IsSync).size(), 1u);
  const std::vector<peer::Seen> requests = SeenWhere(IsRequest);
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[1].packet.seq, 1);
  EXPECT_EQ(Module().stored(), kRunOn);
}

TEST_F(LinkTest, UnknownConnectionValuesNeverReachThePort) {
  StartPeer();
  const std::uint32_t open = Open();
  ASSERT_NE(open, 0u);
  const std::size_t calls = fake::State().calls.size();
  for (std::uint32_t other : {0u, open + 1, open - 1, open ^ 0x80000000u, 0xFFFFFFFFu}) {
    EXPECT_EQ(write_uart_config(other, 0xA8), 0) << other;
    EXPECT_EQ(write_host_interface(other, 4), 0) << other;
    EXPECT_EQ(write_vm_disable(other, 0), 0) << other;
    close_prodtest(other);
  }
  EXPECT_EQ(fake::State().calls.size(), calls);
  EXPECT_EQ(fake::State().openHandles, 1);

  EXPECT_EQ(write_uart_config(open, 0xA8), 1);  // untouched by the closes above
}

TEST_F(LinkTest, ConnectionValueAfterCloseWritesNothingAndClosesNothing) {
  StartPeer();
  const std::uint32_t closed = Open();
  ASSERT_NE(closed, 0u);
  EXPECT_EQ(write_uart_config(closed, 0xA8), 1);
  Close();
  EXPECT_EQ(fake::State().openHandles, 0);
  EXPECT_EQ(fake::CallsStartingWith("CloseHandle").size(), 1u);

  const std::size_t calls = fake::State().calls.size();
  const std::size_t written = fake::State().written.size();
  EXPECT_EQ(write_uart_config(closed, 0xA0), 0);
  EXPECT_EQ(write_host_interface(closed, 4), 0);
  EXPECT_EQ(write_vm_disable(closed, 0), 0);
  close_prodtest(closed);
  EXPECT_EQ(fake::State().calls.size(), calls);
  EXPECT_EQ(fake::State().written.size(), written);

  // Nor does it reach a connection opened later.
  const std::uint32_t reopened = Open();
  ASSERT_NE(reopened, 0u);
  EXPECT_NE(reopened, closed);
  const std::size_t requests = SeenWhere(IsRequest).size();
  EXPECT_EQ(write_uart_config(closed, 0xA0), 0);
  close_prodtest(closed);
  EXPECT_EQ(SeenWhere(IsRequest).size(), requests);
  EXPECT_EQ(fake::State().openHandles, 1);
  EXPECT_EQ(write_uart_config(reopened, 0xA0), 1);
}

// --- When a write is done --------------------------------------------------

struct OtherSetting {
  const char* name;
  std::uint8_t low;  // the setting id the answer names, little-endian
  std::uint8_t high;
};

void PrintTo(const OtherSetting& c, std::ostream* os) { *os << c.name; }

class AnswerNamingAnotherSetting : public LinkTest, public ::testing::WithParamInterface<OtherSetting> {};

TEST_P(AnswerNamingAnotherSetting, FailsTheWriteAndKeepsTheLinkInStep) {
  peer::Config config;
  // The answer to the UART request carries its tag and status 0 but another
  // setting id.
  config.alter_outgoing = [c = GetParam()](bcsp::Packet* p) {
    if (IsAnswer(*p) && p->payload.size() == 5 && p->payload[2] == 0x01) {
      p->payload[2] = c.low;
      p->payload[3] = c.high;
    }
  };
  StartPeer(std::move(config));

  ASSERT_NE(Open(), 0u);
  EXPECT_EQ(write_uart_config(connection_, 0xA8), 0);
  EXPECT_EQ(write_host_interface(connection_, 4), 1);
  EXPECT_EQ(write_vm_disable(connection_, 0), 1);
  EXPECT_EQ(SeenWhere(IsRequest).size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Ids, AnswerNamingAnotherSetting,
                         ::testing::Values(OtherSetting{"HostInterface", 0x02, 0x00}, OtherSetting{"None", 0x00, 0x00},
                                           OtherSetting{"HighByte", 0x01, 0x01}),
                         [](const ::testing::TestParamInfo<OtherSetting>& info) {
                           return std::string(info.param.name);
                         });

struct AckAfterAnswer {
  const char* name;
  int acks_lost;  // the module's acknowledgements of the request the wire loses
  int done;
  double at;
  std::vector<double> sends;
};

void PrintTo(const AckAfterAnswer& c, std::ostream* os) { *os << c.name; }

class AnswerBeforeAcknowledgement : public LinkTest, public ::testing::WithParamInterface<AckAfterAnswer> {};

TEST_P(AnswerBeforeAcknowledgement, WriteWaitsForTheAcknowledgement) {
  peer::Config config;
  // The accepted answer comes at once but does not acknowledge the request
  // (its ack still expects seq 0); only an empty acknowledgement does.
  config.alter_outgoing = [](bcsp::Packet* p) {
    if (IsAnswer(*p)) p->ack = 0;
  };
  config.drop_outgoing = [lost = GetParam().acks_lost](const bcsp::Packet& p) mutable {
    return IsAck(p) && p.ack == 1 && lost-- > 0;
  };
  StartPeer(std::move(config));

  ASSERT_NE(Open(), 0u);
  EXPECT_EQ(write_uart_config(connection_, 0xA8), GetParam().done);
  EXPECT_EQ(Now(), GetParam().at);
  EXPECT_EQ(TimesOf(IsRequest), GetParam().sends);
}

INSTANTIATE_TEST_SUITE_P(Cases, AnswerBeforeAcknowledgement,
                         ::testing::Values(AckAfterAnswer{"AckedAtTheThirdSend", 2, 1, 500.0, Beat(0, 3)},
                                           AckAfterAnswer{"NeverAcked", 1000, 0, 2000.0, Beat(0, 8)}),
                         [](const ::testing::TestParamInfo<AckAfterAnswer>& info) {
                           return std::string(info.param.name);
                         });

// --- The two limits --------------------------------------------------------

struct Limit {
  const char* name;
  int acks_lost;  // the module's acknowledgements of the request lost
  int answer_at;  // ms at which kFirstAnswerFrame arrives; -1 never
  int done;
  double at;
  std::vector<double> sends;
};

void PrintTo(const Limit& c, std::ostream* os) { *os << c.name; }

class WriteLimits : public LinkTest, public ::testing::WithParamInterface<Limit> {};

TEST_P(WriteLimits, EightSendsOfTheRequestAnd2000MsForTheAnswer) {
  const Limit& c = GetParam();
  peer::Config config;
  // The module's own answers never get through.
  config.drop_outgoing = [lost = c.acks_lost](const bcsp::Packet& p) mutable {
    if (IsAnswer(p)) return true;
    return IsAck(p) && p.ack == 1 && lost-- > 0;
  };
  StartPeer(std::move(config));
  if (c.answer_at >= 0) line_->Schedule(milliseconds(c.answer_at), kFirstAnswerFrame);

  ASSERT_NE(Open(), 0u);
  EXPECT_EQ(write_uart_config(connection_, 0xA8), c.done);
  EXPECT_EQ(Now(), c.at);
  EXPECT_EQ(TimesOf(IsRequest), c.sends);
}

INSTANTIATE_TEST_SUITE_P(Cases, WriteLimits,
                         ::testing::Values(
                             // Never acknowledged: the eighth send is the last.
                             Limit{"NeverAcknowledged", 1000, -1, 0, 2000.0, Beat(0, 8)},
                             // Acknowledged at the fifth send: the answer is still awaited only
                             // until 2000 ms after the first.
                             Limit{"AcknowledgedLateNeverAnswered", 4, -1, 0, 2000.0, Beat(0, 5)},
                             Limit{"AcknowledgedAtOnceNeverAnswered", 0, -1, 0, 2000.0, {0}},
                             Limit{"AnsweredAt1999Ms", 0, 1999, 1, 1999.0, {0}},
                             Limit{"AnsweredAt2001Ms", 0, 2001, 0, 2000.0, {0}}),
                         [](const ::testing::TestParamInfo<Limit>& info) { return std::string(info.param.name); });

TEST_F(LinkTest, AnswerThatNeverCameLeavesTheNextWriteWorking) {
  peer::Config config;
  // Every send of the module's answer to the first request is lost, so the
  // module gives it up after its eighth send and numbers the next answer on.
  config.drop_outgoing = [](const bcsp::Packet& p) {
    return IsAnswer(p) && p.payload.size() == 5 && p.payload[1] == 1;
  };
  StartPeer(std::move(config));

  ASSERT_NE(Open(), 0u);
  EXPECT_EQ(write_uart_config(connection_, 0xA8), 0);
  EXPECT_EQ(Now(), 2000.0);
  // The two sides' numbering may disagree now: the next write starts the
  // link afresh.
  EXPECT_EQ(write_host_interface(connection_, 4), 1);
  EXPECT_EQ(write_vm_disable(connection_, 0), 1);
  EXPECT_EQ(TimesOf(IsSync), (std::vector<double>{0, 2000}));
  EXPECT_EQ(Module().stored(), kRunOn);
}

struct LinkAnswer {
  const char* name;
  std::vector<const char*> withheld;          // the module's own answers that never get through
  std::vector<std::pair<int, Bytes>> frames;  // ms, and the frame then
  bool up;
  double ends;
  std::vector<double> syncs;
  std::vector<double> confs;
};

void PrintTo(const LinkAnswer& c, std::ostream* os) { *os << c.name; }

class LinkLimit : public LinkTest, public ::testing::WithParamInterface<LinkAnswer> {};

TEST_P(LinkLimit, LinkIsUpOnlyWithin2000MsOfTheFirstSync) {
  const LinkAnswer& c = GetParam();
  peer::Config config;
  config.drop_outgoing = [withheld = c.withheld](const bcsp::Packet& p) {
    for (const char* message : withheld) {
      if (linktest::IsLink(p, message)) return true;
    }
    return false;
  };
  StartPeer(std::move(config));
  for (const auto& [at, frame] : c.frames) line_->Schedule(milliseconds(at), frame);

  EXPECT_EQ(Open() != 0, c.up);
  EXPECT_EQ(Now(), c.ends);
  EXPECT_EQ(TimesOf(IsSync), c.syncs);
  EXPECT_EQ(TimesOf(IsConf), c.confs);
  EXPECT_EQ(fake::State().openHandles, c.up ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LinkLimit,
    ::testing::Values(
        LinkAnswer{"SynaAt1999Ms", {"SYNA"}, {{1999, kSynaFrame}}, true, 1999.0, Beat(0, 8), {1999}},
        LinkAnswer{"SynaAt2001Ms", {"SYNA"}, {{2001, kSynaFrame}}, false, 2000.0, Beat(0, 8), {}},
        LinkAnswer{"ConaAt1999Ms", {"CONA"}, {{1999, kConaFrame}}, true, 1999.0, {0}, Beat(0, 8)},
        LinkAnswer{"ConaAt2001Ms", {"CONA"}, {{2001, kConaFrame}}, false, 2000.0, {0}, Beat(0, 8)},
        // CONF has what is left of the one limit, not a limit of its own.
        LinkAnswer{
            "SynaAt1000MsConaNever", {"SYNA", "CONA"}, {{1000, kSynaFrame}}, false, 2000.0, Beat(0, 4), Beat(1000, 4)}),
    [](const ::testing::TestParamInfo<LinkAnswer>& info) { return std::string(info.param.name); });

// --- Sequence numbers on the wire ------------------------------------------

TEST_F(LinkTest, SequenceNumbersWrapFromSevenToZeroOnTheWire) {
  StartPeer();
  ASSERT_NE(Open(), 0u);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(write_uart_config(connection_, 0xA8), 1) << i;
  line_->Settle();

  // Header byte 0 of the host's packets: reliable 0x80, CRC 0x40, ack in
  // bits 3-5, seq in bits 0-2. Requests carry seq 0..7, 0; acknowledgements
  // of the module's answers ack 1..7, 0, 1.
  std::vector<std::uint8_t> requests, acks;
  for (const Bytes& frame : HostFrames()) {
    ASSERT_GE(frame.size(), 4u);
    if (frame[1] == 0x82) requests.push_back(frame[0]);  // channel 2, 8 bytes
    if (frame[1] == 0x00) acks.push_back(frame[0]);      // channel 0, empty
  }
  EXPECT_EQ(requests, (std::vector<std::uint8_t>{0xC0, 0xC9, 0xD2, 0xDB, 0xE4, 0xED, 0xF6, 0xFF, 0xC0}));
  EXPECT_EQ(acks, (std::vector<std::uint8_t>{0x48, 0x50, 0x58, 0x60, 0x68, 0x70, 0x78, 0x40, 0x48}));
}

// --- Writes that move no bytes ---------------------------------------------

TEST_F(LinkTest, ValueZeroTravelsAsFourZeroBytes) {
  StartPeer();
  ASSERT_NE(Open(), 0u);
  WriteRunOn();
  const std::vector<peer::Seen> requests = SeenWhere(IsRequest);
  ASSERT_EQ(requests.size(), 3u);
  const Bytes& vm = requests[2].packet.payload;
  ASSERT_EQ(vm.size(), 8u);
  EXPECT_EQ(Bytes(vm.begin() + 2, vm.end()), (Bytes{0x03, 0x00, 0x00, 0x00, 0x00, 0x00}));
  const Bytes& uart = requests[0].packet.payload;
  ASSERT_EQ(uart.size(), 8u);
  EXPECT_EQ(Bytes(uart.begin() + 2, uart.end()), (Bytes{0x01, 0x00, 0xA8, 0x00, 0x00, 0x00}));
  EXPECT_EQ(Module().stored().at(bcsp::kSettingVmDisable), 0u);
}

// A WriteFile that succeeds having moved nothing is the write time-out: the
// port is not taking bytes. It must fail the send at once, not count as
// progress nor be tried again. Should a build try again, WriteFile fails
// after 1000 such calls, so that the test fails and does not hang.
void MakeWritesMoveNothing() {
  fake::State().writeLimit = 0;
  fake::State().failures["WriteFile"] = 1460;
  fake::State().failuresAfter["WriteFile"] = 1000;
}

void MakeWritesWorkAgain() {
  fake::State().writeLimit = -1;
  fake::State().failures.erase("WriteFile");
}

TEST_F(LinkTest, WriteFileMovingNothingFailsTheInitAtOnce) {
  StartPeer();
  MakeWritesMoveNothing();
  EXPECT_EQ(Open(), 0u);
  EXPECT_EQ(fake::CallsStartingWith("WriteFile").size(), 1u);
  EXPECT_EQ(Now(), 0.0);
  EXPECT_EQ(fake::State().openHandles, 0);
}

TEST_F(LinkTest, WriteFileMovingNothingFailsTheWriteAtOnceAndTheNextStartsAfresh) {
  StartPeer();
  ASSERT_NE(Open(), 0u);
  const std::size_t before = fake::CallsStartingWith("WriteFile").size();
  MakeWritesMoveNothing();
  EXPECT_EQ(write_uart_config(connection_, 0xA8), 0);
  EXPECT_EQ(fake::CallsStartingWith("WriteFile").size(), before + 1);
  EXPECT_EQ(Now(), 0.0);

  MakeWritesWorkAgain();
  EXPECT_EQ(write_uart_config(connection_, 0xA8), 1);
  EXPECT_EQ(TimesOf(IsSync).size(), 2u);
  EXPECT_EQ(Module().stored().at(bcsp::kSettingUartConfig), 0xA8u);
}

TEST_F(LinkTest, WriteFileMovingPartOfAFrameIsFollowedByTheRest) {
  StartPeer();
  fake::State().writeLimit = 3;
  ASSERT_NE(Open(), 0u);
  WriteRunOn();
  EXPECT_EQ(Module().stored(), kRunOn);
  // The first frame, 12 bytes of SYNC, went out as 3 + 3 + 3 + 3.
  const std::vector<std::string> writes = fake::CallsStartingWith("WriteFile");
  ASSERT_GE(writes.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(writes.begin(), writes.begin() + 4),
            (std::vector<std::string>{"WriteFile(12)", "WriteFile(9)", "WriteFile(6)", "WriteFile(3)"}));
}

TEST_F(LinkTest, ChannelWritesNothingForAnEmptyFrame) {
  prodtest::SerialChannel channel;
  ASSERT_TRUE(channel.Open("COM1", 115200));
  const std::size_t calls = fake::State().calls.size();
  EXPECT_TRUE(channel.Write({}));
  EXPECT_EQ(fake::State().calls.size(), calls);
  channel.Close();
  EXPECT_EQ(fake::State().openHandles, 0);
  EXPECT_FALSE(channel.Write({0xC0}));  // a closed channel writes nothing
  EXPECT_TRUE(fake::CallsStartingWith("WriteFile").empty());
}

}  // namespace
