// The host side of the module link against a module driven by the test, over
// the scripted platform on the fake link clock, so that every time below is
// exact: establishment, losses in either direction, a module that goes quiet,
// refused values, noise on the line, connection values, and a wire that
// damages bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "bcsp/packet.h"
#include "bcsp/settings_message.h"
#include "bcsp/slip.h"
#include "testlib/prodtest.h"
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
using linktest::RequestOf;
using peer::Bytes;
using peer::Seen;
using std::chrono::milliseconds;

// --- A healthy module ------------------------------------------------------

class HealthyLink : public LinkTest, public ::testing::WithParamInterface<int> {};

TEST_P(HealthyLink, WritesTheThreeSettingsWithoutEverWaiting) {
  const bool host_crc = GetParam() == 1;
  peer::Config config;
  config.crc = !host_crc;  // a receiver accepts both forms
  StartPeer(std::move(config));

  ASSERT_NE(Open(GetParam()), 0u);
  WriteRunOn();
  Close();
  // A module that answers at once costs no time: nothing waited for a resend.
  EXPECT_EQ(Now(), 0.0);

  EXPECT_EQ(Module().stored(), kRunOn);
  EXPECT_EQ(Module().applied().size(), 3u);

  const std::vector<Seen> seen = Module().seen();
  ASSERT_GE(seen.size(), 2u);
  EXPECT_TRUE(IsSync(seen[0].packet));
  EXPECT_TRUE(IsConf(seen[1].packet));
  for (const Seen& s : seen) EXPECT_EQ(s.packet.crc, host_crc);

  // One send per request.
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
  std::vector<std::uint8_t> acked;
  for (const Seen& s : SeenWhere(IsAck)) acked.push_back(s.packet.ack);
  EXPECT_EQ(acked, (std::vector<std::uint8_t>{1, 2, 3}));
}

INSTANTIATE_TEST_SUITE_P(Crc, HealthyLink, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& info) { return info.param ? "CrcOn" : "CrcOff"; });

// --- Establishment ---------------------------------------------------------

struct LostLinkAnswer {
  const char* lost;  // the module's answer that the wire loses once
  std::vector<double> syncs;
  std::vector<double> confs;
};

void PrintTo(const LostLinkAnswer& c, std::ostream* os) { *os << c.lost; }

class LostEstablishment : public LinkTest, public ::testing::WithParamInterface<LostLinkAnswer> {};

TEST_P(LostEstablishment, HostSendsAgainAfterTheResendInterval) {
  peer::Config config;
  config.drop_outgoing = [lost = GetParam().lost, done = false](const bcsp::Packet& p) mutable {
    if (done || !linktest::IsLink(p, lost)) return false;
    done = true;
    return true;
  };
  StartPeer(std::move(config));

  ASSERT_NE(Open(), 0u);
  EXPECT_EQ(Now(), 250.0);
  EXPECT_EQ(TimesOf(IsSync), GetParam().syncs);
  EXPECT_EQ(TimesOf(IsConf), GetParam().confs);
  EXPECT_EQ(write_uart_config(connection_, 0xA8), 1);
}

INSTANTIATE_TEST_SUITE_P(Messages, LostEstablishment,
                         ::testing::Values(LostLinkAnswer{"SYNA", {0, 250}, {250}},
                                           LostLinkAnswer{"CONA", {0}, {0, 250}}),
                         [](const ::testing::TestParamInfo<LostLinkAnswer>& info) {
                           return std::string("Lost") + info.param.lost;
                         });

struct Unresponsive {
  const char* name;
  bool answers_sync;  // SYNA gets through, CONA never does
  std::vector<double> syncs;
  std::vector<double> confs;
};

void PrintTo(const Unresponsive& c, std::ostream* os) { *os << c.name; }

class UnresponsiveModule : public LinkTest, public ::testing::WithParamInterface<Unresponsive> {};

TEST_P(UnresponsiveModule, InitFailsAtTheLimitAndReleasesThePort) {
  peer::Config config;
  config.drop_outgoing = [answers_sync = GetParam().answers_sync](const bcsp::Packet& p) {
    return !(answers_sync && linktest::IsLink(p, "SYNA"));
  };
  StartPeer(std::move(config));

  EXPECT_EQ(Open(), 0u);
  // One limit of 2000 ms for SYNC and CONF together, from the first SYNC.
  EXPECT_EQ(Now(), 2000.0);
  EXPECT_EQ(TimesOf(IsSync), GetParam().syncs);
  EXPECT_EQ(TimesOf(IsConf), GetParam().confs);
  EXPECT_EQ(fake::State().openHandles, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, UnresponsiveModule,
                         ::testing::Values(Unresponsive{"Silent", false, Beat(0, 8), {}},
                                           Unresponsive{"NoCona", true, {0}, Beat(0, 8)}),
                         [](const ::testing::TestParamInfo<Unresponsive>& info) { return info.param.name; });

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
  // The resend at 250 ms is acknowledged; the module's third send of its
  // answer, at 500 ms, finishes the write.
  EXPECT_EQ(Now(), 500.0);

  const std::vector<Seen> requests = SeenWhere(IsRequest);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(bcsp::EncodePacket(requests[1].packet), bcsp::EncodePacket(requests[0].packet));
  EXPECT_EQ(TimesOf(IsRequest), Beat(0, 2));
  EXPECT_EQ(Module().applied(),
            (std::vector<std::pair<std::uint16_t, std::uint32_t>>{{bcsp::kSettingUartConfig, 0xA8}}));

  EXPECT_EQ(write_host_interface(connection_, 4), 1);
  EXPECT_EQ(write_vm_disable(connection_, 0), 1);
  EXPECT_EQ(Module().stored(), kRunOn);
}

TEST_F(LinkTest, LostAnswerArrivesWithTheModulesResend) {
  peer::Config config;
  config.drop_outgoing = [answers = 0](const bcsp::Packet& p) mutable { return IsAnswer(p) && answers++ < 1; };
  StartPeer(std::move(config));

  ASSERT_NE(Open(), 0u);
  EXPECT_EQ(write_uart_config(connection_, 0xA8), 1);
  EXPECT_EQ(Now(), 250.0);
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
  line_->Idle(milliseconds(400));  // the repeat, sent at 250 ms, is waiting
  EXPECT_EQ(write_host_interface(connection_, 4), 1);
  EXPECT_EQ(write_vm_disable(connection_, 0), 1);
  EXPECT_EQ(Module().stored(), kRunOn);
  EXPECT_EQ(Module().applied().size(), 3u);

  // The first answer, then its repeat, then the next two answers.
  std::vector<std::uint8_t> acked;
  for (const Seen& s : SeenWhere(IsAck)) acked.push_back(s.packet.ack);
  EXPECT_EQ(acked, (std::vector<std::uint8_t>{1, 1, 2, 3}));
  EXPECT_EQ(TimesOf(IsAck), (std::vector<double>{0, 400, 400, 400}));
}

TEST_F(LinkTest, ModuleGoingQuietFailsTheWriteAfterEightSendsThenLinkRecovers) {
  bool quiet = false;
  peer::Config config;
  config.drop_outgoing = [&quiet](const bcsp::Packet&) { return quiet; };
  StartPeer(std::move(config));

  ASSERT_NE(Open(), 0u);
  quiet = true;
  EXPECT_EQ(write_uart_config(connection_, 0xA8), 0);
  EXPECT_EQ(Now(), 2000.0);

  const std::vector<Seen> requests = SeenWhere(IsRequest);
  ASSERT_EQ(requests.size(), 8u);
  for (const Seen& s : requests) {
    EXPECT_EQ(bcsp::EncodePacket(s.packet), bcsp::EncodePacket(requests[0].packet));
  }
  EXPECT_EQ(TimesOf(IsRequest), Beat(0, 8));

  // Whether the module took the lost request is unknown to the host, so the
  // next write starts the link afresh before sending.
  quiet = false;
  EXPECT_EQ(write_host_interface(connection_, 4), 1);
  EXPECT_EQ(Now(), 2000.0);
  EXPECT_EQ(TimesOf(IsSync), (std::vector<double>{0, 2000}));
  const std::vector<Seen> after = SeenWhere(IsRequest);
  ASSERT_EQ(after.size(), 9u);
  EXPECT_EQ(after.back().packet.seq, 0);
  EXPECT_EQ(Module().stored().at(bcsp::kSettingHostInterface), 4u);
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
  EXPECT_EQ(Module().stored().count(bcsp::kSettingUartConfig), 0u);
  EXPECT_EQ(Now(), 0.0);
}

INSTANTIATE_TEST_SUITE_P(Statuses, RefusedWrite,
                         ::testing::Values(bcsp::kStatusUnknownSetting, bcsp::kStatusValueRefused),
                         [](const ::testing::TestParamInfo<std::uint8_t>& info) {
                           return info.param == bcsp::kStatusValueRefused ? "ValueRefused" : "UnknownSetting";
                         });

// Something the module puts on the line just before its real answer to the
// UART request. Decoys carry the request's own tag (unless stale) and the
// opposite of the real status, so a host that takes one gets the result
// wrong.
using Noise = std::vector<peer::Extra> (*)(const bcsp::WriteRequest&, peer::LinkState, std::uint8_t decoy_status);

bcsp::Packet DecoyAnswer(const bcsp::WriteRequest& request, peer::LinkState state, std::uint8_t status) {
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
       Bytes junk = {0x11, 0x22, 0xDB, 0x33, 0xC0, 0xC0, 0x00, 0x41, 0x00, 0xBF, 'S', 'Y', 'N', 'A', 0xC0, 0x05, 0xC0};
       const Bytes oversized(bcsp::kMaxPacketSize + 50, 0x44);
       junk.insert(junk.end(), oversized.begin(), oversized.end());
       junk.push_back(0xC0);
       return std::vector<peer::Extra>{peer::Extra::Raw(junk)};
     }},
};

void PrintTo(const NoiseCase& c, std::ostream* os) { *os << c.name; }

class NoiseBeforeAnswer : public LinkTest, public ::testing::WithParamInterface<std::tuple<NoiseCase, std::uint8_t>> {};

TEST_P(NoiseBeforeAnswer, OnlyTheRealAnswerCounts) {
  const Noise noise = std::get<0>(GetParam()).noise;
  const std::uint8_t real_status = std::get<1>(GetParam());
  const std::uint8_t decoy_status =
      real_status == bcsp::kStatusAccepted ? bcsp::kStatusValueRefused : bcsp::kStatusAccepted;
  peer::Config config;
  config.crc = true;
  config.status[bcsp::kSettingUartConfig] = real_status;
  config.before_answer = [noise, decoy_status](const bcsp::WriteRequest& request, peer::LinkState state) {
    if (request.setting != bcsp::kSettingUartConfig) return std::vector<peer::Extra>{};
    return noise(request, state, decoy_status);
  };
  StartPeer(std::move(config));

  ASSERT_NE(Open(), 0u);
  EXPECT_EQ(write_uart_config(connection_, 0xA8), real_status == bcsp::kStatusAccepted ? 1 : 0);
  // The link is still in step afterwards, and nothing had to be sent twice.
  EXPECT_EQ(write_host_interface(connection_, 4), 1);
  EXPECT_EQ(write_vm_disable(connection_, 0), 1);
  EXPECT_EQ(SeenWhere(IsRequest).size(), 3u);
  EXPECT_EQ(Now(), 0.0);
}

INSTANTIATE_TEST_SUITE_P(Cases, NoiseBeforeAnswer,
                         ::testing::Combine(::testing::ValuesIn(kNoises),
                                            ::testing::Values(bcsp::kStatusAccepted, bcsp::kStatusValueRefused)),
                         [](const ::testing::TestParamInfo<std::tuple<NoiseCase, std::uint8_t>>& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) == bcsp::kStatusAccepted ? "_RealAccepted" : "_RealRefused");
                         });

// --- Connection values -----------------------------------------------------

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
  EXPECT_EQ(TimesOf(IsSync).size(), 2u);
  EXPECT_EQ(Module().applied().size(), 6u);
  EXPECT_EQ(Module().stored().at(bcsp::kSettingUartConfig), 0xA0u);
  EXPECT_EQ(fake::CallsStartingWith("CreateFileA").size(), 2u);
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

  double start = Now();
  const std::uint32_t connection = Open();
  EXPECT_LE(Now() - start, 2000.0);
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
    start = Now();
    const std::int32_t result = step.write(connection, step.value);
    // At worst the link is established again and the answer waited for.
    EXPECT_LE(Now() - start, 4000.0);
    if (GetParam().must_complete) {
      EXPECT_EQ(result, 1) << step.setting;
    }
    if (result == 1) {
      EXPECT_EQ(Module().stored().at(step.setting), step.value);
    }
  }
  for (const auto& [setting, value] : Module().applied()) EXPECT_EQ(kRunOn.at(setting), value);
}

INSTANTIATE_TEST_SUITE_P(EveryNthByte, DamagedWire,
                         ::testing::Values(Damage{13, false}, Damage{23, false}, Damage{37, true}, Damage{61, true}),
                         [](const ::testing::TestParamInfo<Damage>& info) {
                           return "Every" + std::to_string(info.param.every);
                         });

}  // namespace
