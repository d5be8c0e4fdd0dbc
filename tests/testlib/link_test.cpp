// The host side of the module link against a module driven by the test, on a
// pseudo-terminal pair opened through the real POSIX layer: establishment,
// losses in either direction, a module that goes quiet, refused values, noise
// on the line, connection values, and a wire that damages bytes.
#include <gtest/gtest.h>
#include <termios.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial_api.h"
#include "bcsp/packet.h"
#include "testlib/prodtest.h"
#include "bcsp/settings_message.h"
#include "bcsp/slip.h"
#include "tests/testlib/module_peer.h"

namespace {

using peer::Bytes;
using peer::Clock;
using peer::Seen;
using std::chrono::milliseconds;

bool IsLink(const bcsp::Packet& packet, const char* text) {
  return !packet.reliable && packet.channel == bcsp::kChannelLink &&
         packet.payload == Bytes(text, text + 4);
}

bool IsAnswer(const bcsp::Packet& packet) {
  return packet.reliable && packet.channel == bcsp::kChannelSettings;
}

bool IsAck(const bcsp::Packet& packet) {
  return !packet.reliable && packet.channel == bcsp::kChannelAck;
}

bool IsRequest(const bcsp::Packet& packet) {
  return packet.reliable && packet.channel == bcsp::kChannelSettings;
}

bcsp::WriteRequest RequestOf(const bcsp::Packet& packet) {
  bcsp::WriteRequest request;
  EXPECT_TRUE(bcsp::DecodeWriteRequest(packet.payload.data(), packet.payload.size(), &request));
  return request;
}

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

const std::map<std::uint16_t, std::uint32_t> kRunOn = {{bcsp::kSettingUartConfig, 0xA8},
                                                       {bcsp::kSettingHostInterface, 4},
                                                       {bcsp::kSettingVmDisable, 0}};

class LinkTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (connection_ != 0) close_prodtest(connection_);
  }

  void StartPeer(peer::Config config = {}) {
    peer_.Start(std::move(config));
    ASSERT_EQ(setenv("COM1", peer_.slave_path().c_str(), 1), 0);
  }

  std::uint32_t Open(std::int32_t crc = 1) {
    connection_ = init_prodtest(1, "COM1", 115200, crc);
    return connection_;
  }

  void Close() {
    close_prodtest(connection_);
    connection_ = 0;
  }

  // The three writes of a run with the handshake on, all expected to succeed.
  void WriteRunOn() {
    EXPECT_EQ(write_uart_config(connection_, 0xA8), 1);
    EXPECT_EQ(write_host_interface(connection_, 4), 1);
    EXPECT_EQ(write_vm_disable(connection_, 0), 1);
  }

  template <typename Predicate>
  std::vector<Seen> SeenWhere(Predicate predicate) const {
    std::vector<Seen> matching;
    for (const Seen& seen : peer_.seen()) {
      if (predicate(seen.packet)) matching.push_back(seen);
    }
    return matching;
  }

  peer::ModulePeer peer_;
  std::uint32_t connection_ = 0;
};

// --- A healthy module ------------------------------------------------------

class HealthyLink : public LinkTest, public ::testing::WithParamInterface<int> {};

TEST_P(HealthyLink, WritesTheThreeSettingsInFewRoundTrips) {
  const bool host_crc = GetParam() == 1;
  peer::Config config;
  config.crc = !host_crc;  // a receiver accepts both forms
  StartPeer(std::move(config));

  ASSERT_NE(Open(GetParam()), 0u);
  WriteRunOn();
  Close();

  EXPECT_EQ(peer_.stored(), kRunOn);
  EXPECT_EQ(peer_.applied().size(), 3u);

  const std::vector<Seen> seen = peer_.seen();
  ASSERT_GE(seen.size(), 2u);
  EXPECT_TRUE(IsLink(seen[0].packet, "SYNC"));
  EXPECT_TRUE(IsLink(seen[1].packet, "CONF"));
  for (const Seen& s : seen) EXPECT_EQ(s.packet.crc, host_crc);

  // One send per request: nothing waited for a resend.
  const std::vector<Seen> requests = SeenWhere(IsRequest);
  ASSERT_EQ(requests.size(), 3u);
  std::vector<std::uint8_t> tags;
  for (std::size_t i = 0; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].packet.seq, i);
    tags.push_back(RequestOf(requests[i].packet).tag);
  }
  EXPECT_NE(tags[0], tags[1]);
  EXPECT_NE(tags[1], tags[2]);
  EXPECT_NE(tags[0], tags[2]);
  EXPECT_EQ(RequestOf(requests[0].packet).setting, bcsp::kSettingUartConfig);
  EXPECT_EQ(RequestOf(requests[1].packet).setting, bcsp::kSettingHostInterface);
  EXPECT_EQ(RequestOf(requests[2].packet).setting, bcsp::kSettingVmDisable);

  // Each answer was acknowledged: acks for the module's seq 0, 1 and 2.
  EXPECT_TRUE(peer_.WaitForSeen(IsAck, 3, milliseconds(2000)));
  std::vector<std::uint8_t> acked;
  for (const Seen& s : SeenWhere(IsAck)) acked.push_back(s.packet.ack);
  EXPECT_EQ(acked, (std::vector<std::uint8_t>{1, 2, 3}));
}

INSTANTIATE_TEST_SUITE_P(Crc, HealthyLink, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return info.param ? "CrcOn" : "CrcOff";
                         });

// --- Establishment ---------------------------------------------------------

struct LostLinkAnswer {
  const char* lost;     // the module's answer that the wire loses once
  const char* repeated;  // the host's message that must come again
};

void PrintTo(const LostLinkAnswer& c, std::ostream* os) { *os << c.lost; }

class LostEstablishment : public LinkTest,
                          public ::testing::WithParamInterface<LostLinkAnswer> {};

TEST_P(LostEstablishment, HostSendsAgainAfterTheResendInterval) {
  peer::Config config;
  config.drop_outgoing = [lost = GetParam().lost, done = false](const bcsp::Packet& p) mutable {
    if (done || !IsLink(p, lost)) return false;
    done = true;
    return true;
  };
  StartPeer(std::move(config));

  ASSERT_NE(Open(), 0u);
  const char* repeated = GetParam().repeated;
  const std::vector<Seen> sent = SeenWhere([&](const bcsp::Packet& p) { return IsLink(p, repeated); });
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_GE(sent[1].at - sent[0].at, milliseconds(240));
  EXPECT_EQ(write_uart_config(connection_, 0xA8), 1);
}

INSTANTIATE_TEST_SUITE_P(Messages, LostEstablishment,
                         ::testing::Values(LostLinkAnswer{"SYNA", "SYNC"},
                                           LostLinkAnswer{"CONA", "CONF"}),
                         [](const ::testing::TestParamInfo<LostLinkAnswer>& info) {
                           return std::string("Lost") + info.param.lost;
                         });

struct Unresponsive {
  const char* name;
  bool answers_sync;  // SYNA gets through, CONA never does
};

void PrintTo(const Unresponsive& c, std::ostream* os) { *os << c.name; }

class UnresponsiveModule : public LinkTest, public ::testing::WithParamInterface<Unresponsive> {};

TEST_P(UnresponsiveModule, InitFailsWithinTheLimitAndReleasesThePort) {
  peer::Config config;
  config.drop_outgoing = [answers_sync = GetParam().answers_sync](const bcsp::Packet& p) {
    return !(answers_sync && IsLink(p, "SYNA"));
  };
  StartPeer(std::move(config));

  const Clock::time_point start = Clock::now();
  EXPECT_EQ(Open(), 0u);
  const long long elapsed = MillisecondsSince(start);
  EXPECT_GE(elapsed, 1990);
  EXPECT_LT(elapsed, 3000);  // one limit for SYNC and CONF together

  const std::size_t syncs = SeenWhere([](const bcsp::Packet& p) { return IsLink(p, "SYNC"); }).size();
  const std::size_t confs = SeenWhere([](const bcsp::Packet& p) { return IsLink(p, "CONF"); }).size();
  if (GetParam().answers_sync) {
    EXPECT_EQ(syncs, 1u);
    EXPECT_EQ(confs, 8u);
  } else {
    EXPECT_EQ(syncs, 8u);
    EXPECT_EQ(confs, 0u);
  }

  // The library's handle is gone: the port can be had alone again.
  HANDLE port = CreateFileA("\\\\.\\COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(port));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnresponsiveModule,
    ::testing::Values(Unresponsive{"Silent", false}, Unresponsive{"NoCona", true}),
    [](const ::testing::TestParamInfo<Unresponsive>& info) { return info.param.name; });

TEST_F(LinkTest, LineRunsAtTheGivenRateEightNOneWithoutFlowControl) {
  StartPeer();
  connection_ = init_prodtest(1, "COM1", 57600, 1);
  ASSERT_NE(connection_, 0u);
  termios line{};
  ASSERT_EQ(tcgetattr(peer_.slave_fd(), &line), 0);
  EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B57600));
  EXPECT_EQ(cfgetispeed(&line), static_cast<speed_t>(B57600));
  EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(line.c_iflag & (IXON | IXOFF), 0u);
  EXPECT_EQ(write_uart_config(connection_, 0xA8), 1);
}

TEST_F(LinkTest, TransportOtherThanOneFailsWithoutTouchingThePort) {
  StartPeer();
  for (std::int32_t transport : {0, 2, -1, 3}) {
    EXPECT_EQ(init_prodtest(transport, "COM1", 115200, 1), 0u) << transport;
  }
  EXPECT_TRUE(peer_.seen().empty());
  ASSERT_NE(Open(), 0u);  // and nothing was left open
}

// --- Reliable delivery -----------------------------------------------------

TEST_F(LinkTest, LostAcknowledgementResendsTheSameRequestAppliedOnce) {
  peer::Config config;
  // The module's acknowledgement of the first request and its first two
  // answers never reach the host; later ones do.
  config.drop_outgoing = [acks = 0, answers = 0](const bcsp::Packet& p) mutable {
    if (IsAck(p) && p.ack == 1) return acks++ < 1;
    if (IsAnswer(p)) return answers++ < 2;
    return false;
  };
  StartPeer(std::move(config));

  ASSERT_NE(Open(), 0u);
  EXPECT_EQ(write_uart_config(connection_, 0xA8), 1);

  const std::vector<Seen> requests = SeenWhere(IsRequest);
  ASSERT_GE(requests.size(), 2u);
  for (const Seen& s : requests) {
    EXPECT_EQ(bcsp::EncodePacket(s.packet), bcsp::EncodePacket(requests[0].packet));
  }
  EXPECT_GE(requests[1].at - requests[0].at, milliseconds(240));
  EXPECT_EQ(peer_.applied(),
            (std::vector<std::pair<std::uint16_t, std::uint32_t>>{{bcsp::kSettingUartConfig, 0xA8}}));

  EXPECT_EQ(write_host_interface(connection_, 4), 1);
  EXPECT_EQ(write_vm_disable(connection_, 0), 1);
  EXPECT_EQ(peer_.stored(), kRunOn);
}

TEST_F(LinkTest, LostAnswerArrivesWithTheModulesResend) {
  peer::Config config;
  config.drop_outgoing = [answers = 0](const bcsp::Packet& p) mutable {
    return IsAnswer(p) && answers++ < 1;
  };
  StartPeer(std::move(config));

  ASSERT_NE(Open(), 0u);
  EXPECT_EQ(write_uart_config(connection_, 0xA8), 1);
  // The request itself was acknowledged at once: the host had no reason to
  // send it again.
  EXPECT_EQ(SeenWhere(IsRequest).size(), 1u);
}

TEST_F(LinkTest, RepeatedAnswerIsAcknowledgedAndNotTakenAsNew) {
  peer::Config config;
  // The host's first acknowledgement of the first answer is lost, so the
  // module sends that answer again while the host is on its next request.
  config.drop_incoming = [dropped = false](const bcsp::Packet& p) mutable {
    if (dropped || !IsAck(p) || p.ack != 1) return false;
    dropped = true;
    return true;
  };
  StartPeer(std::move(config));

  ASSERT_NE(Open(), 0u);
  EXPECT_EQ(write_uart_config(connection_, 0xA8), 1);
  std::this_thread::sleep_for(milliseconds(400));  // the repeat is on the line
  EXPECT_EQ(write_host_interface(connection_, 4), 1);
  EXPECT_EQ(write_vm_disable(connection_, 0), 1);
  EXPECT_EQ(peer_.stored(), kRunOn);

  // Every copy of the first answer acknowledged, then the next two answers.
  EXPECT_TRUE(peer_.WaitForSeen(IsAck, 4, milliseconds(2000)));
  std::vector<std::uint8_t> acked;
  for (const Seen& s : SeenWhere(IsAck)) acked.push_back(s.packet.ack);
  ASSERT_GE(acked.size(), 4u);
  const std::size_t copies = acked.size() - 2;
  EXPECT_EQ(std::vector<std::uint8_t>(acked.begin(), acked.begin() + copies),
            std::vector<std::uint8_t>(copies, 1));
  EXPECT_EQ(std::vector<std::uint8_t>(acked.end() - 2, acked.end()),
            (std::vector<std::uint8_t>{2, 3}));
}

TEST_F(LinkTest, ModuleGoingQuietFailsTheWriteAfterEightSendsThenLinkRecovers) {
  auto quiet = std::make_shared<std::atomic<bool>>(false);
  peer::Config config;
  config.drop_outgoing = [quiet](const bcsp::Packet&) { return quiet->load(); };
  StartPeer(std::move(config));

  ASSERT_NE(Open(), 0u);
  quiet->store(true);
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(write_uart_config(connection_, 0xA8), 0);
  const long long elapsed = MillisecondsSince(start);
  EXPECT_GE(elapsed, 1990);
  EXPECT_LT(elapsed, 3000);

  const std::vector<Seen> requests = SeenWhere(IsRequest);
  ASSERT_EQ(requests.size(), 8u);
  for (const Seen& s : requests) {
    EXPECT_EQ(bcsp::EncodePacket(s.packet), bcsp::EncodePacket(requests[0].packet));
  }

  // Whether the module took the lost request is unknown to the host, so the
  // next write starts the link afresh before sending.
  quiet->store(false);
  EXPECT_EQ(write_host_interface(connection_, 4), 1);
  const std::vector<Seen> seen = peer_.seen();
  std::size_t syncs_after_failure = 0;
  for (const Seen& s : seen) {
    if (s.at > requests.back().at && IsLink(s.packet, "SYNC")) ++syncs_after_failure;
  }
  EXPECT_EQ(syncs_after_failure, 1u);
  EXPECT_EQ(peer_.stored().at(bcsp::kSettingHostInterface), 4u);
}

// --- Answers ---------------------------------------------------------------

class RefusedWrite : public LinkTest, public ::testing::WithParamInterface<std::uint8_t> {};

TEST_P(RefusedWrite, FailsThatWriteOnly) {
  peer::Config config;
  config.status[bcsp::kSettingUartConfig] = GetParam();
  StartPeer(std::move(config));

  ASSERT_NE(Open(), 0u);
  EXPECT_EQ(write_uart_config(connection_, 0xA8), 0);
  EXPECT_EQ(write_host_interface(connection_, 4), 1);
  EXPECT_EQ(write_vm_disable(connection_, 0), 1);
  EXPECT_EQ(peer_.stored().count(bcsp::kSettingUartConfig), 0u);
}

INSTANTIATE_TEST_SUITE_P(Statuses, RefusedWrite,
                         ::testing::Values(bcsp::kStatusUnknownSetting, bcsp::kStatusValueRefused),
                         [](const ::testing::TestParamInfo<std::uint8_t>& info) {
                           return info.param == bcsp::kStatusValueRefused ? "ValueRefused"
                                                                          : "UnknownSetting";
                         });

// Something the module puts on the line just before its real answer to the
// UART request. Decoys carry the request's own tag (unless stale) and the
// opposite of the real status, so a host that takes one gets the result
// wrong.
using Noise = std::vector<peer::Extra> (*)(const bcsp::WriteRequest&, peer::LinkState,
                                           std::uint8_t decoy_status);

bcsp::Packet DecoyAnswer(const bcsp::WriteRequest& request, peer::LinkState state,
                         std::uint8_t status) {
  bcsp::Packet packet;
  packet.seq = state.next_seq;
  packet.ack = state.expected;
  packet.crc = true;
  packet.reliable = true;
  packet.channel = bcsp::kChannelSettings;
  bcsp::WriteAnswer answer;
  answer.tag = request.tag;
  answer.setting = request.setting;
  answer.status = status;
  packet.payload = bcsp::EncodeWriteAnswer(answer);
  return packet;
}

peer::Extra RawPacket(const bcsp::Packet& packet) {
  return peer::Extra::Raw(bcsp::SlipEncode(bcsp::EncodePacket(packet)));
}

struct NoiseCase {
  const char* name;
  Noise noise;
};

const NoiseCase kNoises[] = {
    {"StaleTag",
     [](const bcsp::WriteRequest& r, peer::LinkState s, std::uint8_t status) {
       bcsp::Packet packet = DecoyAnswer(r, s, status);
       packet.payload[1] = static_cast<std::uint8_t>(r.tag - 1);
       return std::vector<peer::Extra>{peer::Extra::Reliable(packet)};
     }},
    {"UnreliableOnSettingsChannel",
     [](const bcsp::WriteRequest& r, peer::LinkState s, std::uint8_t status) {
       bcsp::Packet packet = DecoyAnswer(r, s, status);
       packet.reliable = false;
       packet.seq = 0;
       return std::vector<peer::Extra>{RawPacket(packet)};
     }},
    {"RepeatedSeq",
     [](const bcsp::WriteRequest& r, peer::LinkState s, std::uint8_t status) {
       bcsp::Packet packet = DecoyAnswer(r, s, status);
       packet.seq = static_cast<std::uint8_t>((s.next_seq + 7) % 8);
       return std::vector<peer::Extra>{RawPacket(packet)};
     }},
    {"ReliableOnUnknownChannel",
     [](const bcsp::WriteRequest& r, peer::LinkState s, std::uint8_t status) {
       bcsp::Packet packet = DecoyAnswer(r, s, status);
       packet.channel = 7;
       return std::vector<peer::Extra>{peer::Extra::Reliable(packet)};
     }},
    {"RequestOpWithTheTag",
     [](const bcsp::WriteRequest& r, peer::LinkState s, std::uint8_t status) {
       bcsp::Packet packet = DecoyAnswer(r, s, status);
       packet.payload = bcsp::EncodeWriteRequest(r);
       return std::vector<peer::Extra>{peer::Extra::Reliable(packet)};
     }},
    {"WrongCrc",
     [](const bcsp::WriteRequest& r, peer::LinkState s, std::uint8_t status) {
       Bytes bytes = bcsp::EncodePacket(DecoyAnswer(r, s, status));
       bytes.back() ^= 0x01;
       return std::vector<peer::Extra>{peer::Extra::Raw(bcsp::SlipEncode(bytes))};
     }},
    {"WrongHeaderCheck",
     [](const bcsp::WriteRequest& r, peer::LinkState s, std::uint8_t status) {
       Bytes bytes = bcsp::EncodePacket(DecoyAnswer(r, s, status));
       bytes[3] ^= 0x10;
       return std::vector<peer::Extra>{peer::Extra::Raw(bcsp::SlipEncode(bytes))};
     }},
    {"LengthMismatch",
     [](const bcsp::WriteRequest& r, peer::LinkState s, std::uint8_t status) {
       Bytes bytes = bcsp::EncodePacket(DecoyAnswer(r, s, status));
       bytes.insert(bytes.begin() + 9, 0x00);  // after the payload, before the CRC
       return std::vector<peer::Extra>{peer::Extra::Raw(bcsp::SlipEncode(bytes))};
     }},
    {"BadEscape",
     [](const bcsp::WriteRequest& r, peer::LinkState s, std::uint8_t status) {
       Bytes frame = RawPacket(DecoyAnswer(r, s, status)).raw;
       frame.insert(frame.begin() + 2, {bcsp::kSlipEsc, 0x01});
       return std::vector<peer::Extra>{peer::Extra::Raw(frame)};
     }},
    {"GarbageAndOversizedFrame",
     [](const bcsp::WriteRequest&, peer::LinkState, std::uint8_t) {
       Bytes junk = {0x11, 0x22, 0xDB, 0x33, 0xC0, 0xC0, 0x00, 0x41, 0x00, 0xBF,
                     'S',  'Y',  'N',  'A',  0xC0, 0x05, 0xC0};
       const Bytes oversized(bcsp::kMaxPacketSize + 50, 0x44);
       junk.insert(junk.end(), oversized.begin(), oversized.end());
       junk.push_back(0xC0);
       return std::vector<peer::Extra>{peer::Extra::Raw(junk)};
     }},
};

void PrintTo(const NoiseCase& c, std::ostream* os) { *os << c.name; }

class NoiseBeforeAnswer
    : public LinkTest,
      public ::testing::WithParamInterface<std::tuple<NoiseCase, std::uint8_t>> {};

TEST_P(NoiseBeforeAnswer, OnlyTheRealAnswerCounts) {
  const Noise noise = std::get<0>(GetParam()).noise;
  const std::uint8_t real_status = std::get<1>(GetParam());
  const std::uint8_t decoy_status =
      real_status == bcsp::kStatusAccepted ? bcsp::kStatusValueRefused : bcsp::kStatusAccepted;
  peer::Config config;
  config.crc = true;
  config.status[bcsp::kSettingUartConfig] = real_status;
  config.before_answer = [noise, decoy_status](const bcsp::WriteRequest& request,
                                               peer::LinkState state) {
    if (request.setting != bcsp::kSettingUartConfig) return std::vector<peer::Extra>{};
    return noise(request, state, decoy_status);
  };
  StartPeer(std::move(config));

  ASSERT_NE(Open(), 0u);
  EXPECT_EQ(write_uart_config(connection_, 0xA8), real_status == bcsp::kStatusAccepted ? 1 : 0);
  // The link is still in step afterwards.
  EXPECT_EQ(write_host_interface(connection_, 4), 1);
  EXPECT_EQ(write_vm_disable(connection_, 0), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NoiseBeforeAnswer,
    ::testing::Combine(::testing::ValuesIn(kNoises),
                       ::testing::Values(bcsp::kStatusAccepted, bcsp::kStatusValueRefused)),
    [](const ::testing::TestParamInfo<std::tuple<NoiseCase, std::uint8_t>>& info) {
      return std::string(std::get<0>(info.param).name) +
             (std::get<1>(info.param) == bcsp::kStatusAccepted ? "_RealAccepted"
                                                               : "_RealRefused");
    });

// --- Connection values -----------------------------------------------------

TEST_F(LinkTest, UnknownConnectionValuesNeverReachThePort) {
  StartPeer();
  const std::uint32_t open = Open();
  ASSERT_NE(open, 0u);
  for (std::uint32_t other : {0u, open + 1, open ^ 0x80000000u, 0xFFFFFFFFu}) {
    if (other == open) continue;
    EXPECT_EQ(write_uart_config(other, 0xA8), 0);
    EXPECT_EQ(write_host_interface(other, 4), 0);
    EXPECT_EQ(write_vm_disable(other, 0), 0);
    close_prodtest(other);
  }
  EXPECT_TRUE(SeenWhere(IsRequest).empty());
  EXPECT_EQ(init_prodtest(1, "COM1", 115200, 1), 0u);  // one connection at a time

  EXPECT_EQ(write_uart_config(open, 0xA8), 1);  // untouched by the closes above
  Close();
  EXPECT_EQ(write_uart_config(open, 0xA0), 0);
  EXPECT_EQ(SeenWhere(IsRequest).size(), 1u);
}

TEST_F(LinkTest, ReopenStartsTheLinkAfresh) {
  StartPeer();
  const std::uint32_t first = Open();
  ASSERT_NE(first, 0u);
  WriteRunOn();
  Close();

  const std::uint32_t second = Open();
  ASSERT_NE(second, 0u);
  EXPECT_NE(second, first);
  EXPECT_EQ(write_uart_config(first, 0xA0), 0);
  EXPECT_EQ(write_uart_config(second, 0xA0), 1);
  EXPECT_EQ(write_host_interface(second, 4), 1);
  EXPECT_EQ(write_vm_disable(second, 0), 1);

  const std::vector<Seen> requests = SeenWhere(IsRequest);
  ASSERT_EQ(requests.size(), 6u);
  EXPECT_EQ(requests[3].packet.seq, 0);  // sequence numbers start over
  EXPECT_EQ(peer_.applied().size(), 6u);
  EXPECT_EQ(peer_.stored().at(bcsp::kSettingUartConfig), 0xA0u);
}

// --- A wire that damages bytes ---------------------------------------------

struct Damage {
  int every;           // every nth byte toward the host; every (n+2)th toward the module
  bool must_complete;  // sparse enough that the resends always get through
};

void PrintTo(const Damage& damage, std::ostream* os) { *os << "every " << damage.every; }

class DamagedWire : public LinkTest, public ::testing::WithParamInterface<Damage> {};

TEST_P(DamagedWire, CompletesOrFailsCleanlyAndNeverStoresWrongValues) {
  peer::Config config;
  config.crc = true;
  config.damage_outgoing = peer::DamageEveryNth(GetParam().every);
  config.damage_incoming = peer::DamageEveryNth(GetParam().every + 2);
  StartPeer(std::move(config));

  Clock::time_point start = Clock::now();
  const std::uint32_t connection = Open();
  EXPECT_LT(MillisecondsSince(start), 2500);
  if (GetParam().must_complete) {
    ASSERT_NE(connection, 0u);
  }
  if (connection == 0) return;

  struct Step {
    std::int32_t (*write)(std::uint32_t, std::uint32_t);
    std::uint16_t setting;
    std::uint32_t value;
  };
  const Step steps[] = {{write_uart_config, bcsp::kSettingUartConfig, 0xA8},
                        {write_host_interface, bcsp::kSettingHostInterface, 4},
                        {write_vm_disable, bcsp::kSettingVmDisable, 0}};
  for (const Step& step : steps) {
    start = Clock::now();
    const std::int32_t result = step.write(connection, step.value);
    // At worst the link is established again and the answer waited for.
    EXPECT_LT(MillisecondsSince(start), 4500);
    if (GetParam().must_complete) {
      EXPECT_EQ(result, 1) << step.setting;
    }
    if (result == 1) {
      EXPECT_EQ(peer_.stored().at(step.setting), step.value);
    }
  }
  for (const auto& [setting, value] : peer_.applied()) EXPECT_EQ(kRunOn.at(setting), value);
}

INSTANTIATE_TEST_SUITE_P(EveryNthByte, DamagedWire,
                         ::testing::Values(Damage{13, false}, Damage{23, false},
                                           Damage{37, true}, Damage{61, true}),
                         [](const ::testing::TestParamInfo<Damage>& info) {
                           return "Every" + std::to_string(info.param.every);
                         });

}  // namespace
