// The rules both ends of the module link share, checked against the
// protocol's own bytes and numbers rather than one end against the other (a
// wrong rule would be wrong on both alike): whole frames as they travel, the
// settings messages, sequence numbers across their wrap, the channels'
// reliable flags, the resend beat and the send limit, the longest frame.
// Every byte string below was worked out by hand from the protocol (and its
// CRCs with an independent CRC-16/CCITT-FALSE), not produced by this code.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <ostream>
#include <random>
#include <vector>

#include "bcsp/crc16.h"
#include "bcsp/link_rules.h"
#include "bcsp/packet.h"
#include "bcsp/settings_message.h"
#include "bcsp/slip.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct KnownFrame {
  const char* name;
  std::uint8_t seq;
  std::uint8_t ack;
  bool crc;
  bool reliable;
  std::uint8_t channel;
  Bytes payload;
  Bytes frame;  // on the wire: 0xC0, escaped packet, 0xC0
};

void PrintTo(const KnownFrame& c, std::ostream* os) { *os << c.name; }

std::vector<KnownFrame> KnownFrames() {
  const Bytes sync = {'S', 'Y', 'N', 'C'};
  const Bytes uart_request = {0x01, 0x01, 0x01, 0x00, 0xA8, 0x00, 0x00, 0x00};
  const Bytes uart_answer = {0x81, 0x01, 0x01, 0x00, 0x00};
  const Bytes vm_request = {0x01, 0x03, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00};
  return {
      {"sync_without_crc", 0, 0, false, false, 1, sync, {0xC0, 0x00, 0x41, 0x00, 0xBE, 0x53, 0x59, 0x4E, 0x43, 0xC0}},
      {"sync_with_crc",
       0,
       0,
       true,
       false,
       1,
       sync,
       {0xC0, 0x40, 0x41, 0x00, 0x7E, 0x53, 0x59, 0x4E, 0x43, 0x08, 0x91, 0xC0}},
      {"syna_with_crc",
       0,
       0,
       true,
       false,
       1,
       {'S', 'Y', 'N', 'A'},
       {0xC0, 0x40, 0x41, 0x00, 0x7E, 0x53, 0x59, 0x4E, 0x41, 0x28, 0xD3, 0xC0}},
      {"conf_with_crc",
       0,
       0,
       true,
       false,
       1,
       {'C', 'O', 'N', 'F'},
       {0xC0, 0x40, 0x41, 0x00, 0x7E, 0x43, 0x4F, 0x4E, 0x46, 0xB2, 0x50, 0xC0}},
      {"cona_without_crc",
       0,
       0,
       false,
       false,
       1,
       {'C', 'O', 'N', 'A'},
       {0xC0, 0x00, 0x41, 0x00, 0xBE, 0x43, 0x4F, 0x4E, 0x41, 0xC0}},
      {"ack_1_without_crc", 0, 1, false, false, 0, {}, {0xC0, 0x08, 0x00, 0x00, 0xF7, 0xC0}},
      {"ack_3_with_crc", 0, 3, true, false, 0, {}, {0xC0, 0x58, 0x00, 0x00, 0xA7, 0xB1, 0x35, 0xC0}},
      // Reliable with CRC and seq = ack = 0 makes header byte 0 a 0xC0 itself,
      // sent escaped.
      {"uart_a8_request_tag_1_with_crc",
       0,
       0,
       true,
       true,
       2,
       uart_request,
       {0xC0, 0xDB, 0xDC, 0x82, 0x00, 0xBD, 0x01, 0x01, 0x01, 0x00, 0xA8, 0x00, 0x00, 0x00, 0x1A, 0x25, 0xC0}},
      {"uart_a8_request_tag_1_without_crc",
       0,
       0,
       false,
       true,
       2,
       uart_request,
       {0xC0, 0x80, 0x82, 0x00, 0xFD, 0x01, 0x01, 0x01, 0x00, 0xA8, 0x00, 0x00, 0x00, 0xC0}},
      {"its_answer_accepted_with_crc",
       0,
       1,
       true,
       true,
       2,
       uart_answer,
       {0xC0, 0xC8, 0x52, 0x00, 0xE5, 0x81, 0x01, 0x01, 0x00, 0x00, 0x94, 0x18, 0xC0}},
      {"its_answer_accepted_without_crc",
       0,
       1,
       false,
       true,
       2,
       uart_answer,
       {0xC0, 0x88, 0x52, 0x00, 0x25, 0x81, 0x01, 0x01, 0x00, 0x00, 0xC0}},
      {"vm_disable_0_request_seq_2_with_crc",
       2,
       2,
       true,
       true,
       2,
       vm_request,
       {0xC0, 0xD2, 0x82, 0x00, 0xAB, 0x01, 0x03, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA6, 0xFF, 0xC0}},
  };
}

class WireFrame : public ::testing::TestWithParam<KnownFrame> {};

TEST_P(WireFrame, PacketEncodesToTheseBytes) {
  const KnownFrame& c = GetParam();
  bcsp::Packet packet;
  packet.seq = c.seq;
  packet.ack = c.ack;
  packet.crc = c.crc;
  packet.reliable = c.reliable;
  packet.channel = c.channel;
  packet.payload = c.payload;
  EXPECT_EQ(bcsp::SlipEncode(bcsp::EncodePacket(packet)), c.frame);
}

TEST_P(WireFrame, TheseBytesDecodeToThePacket) {
  const KnownFrame& c = GetParam();
  bcsp::SlipDecoder decoder;
  std::vector<Bytes> frames;
  for (std::uint8_t byte : c.frame) {
    if (decoder.Push(byte)) frames.push_back(decoder.frame());
  }
  ASSERT_EQ(frames.size(), 1u);
  bcsp::Packet packet;
  ASSERT_EQ(bcsp::DecodePacket(frames[0].data(), frames[0].size(), &packet), bcsp::DecodeResult::kOk);
  EXPECT_EQ(packet.seq, c.seq);
  EXPECT_EQ(packet.ack, c.ack);
  EXPECT_EQ(packet.crc, c.crc);
  EXPECT_EQ(packet.reliable, c.reliable);
  EXPECT_EQ(packet.channel, c.channel);
  EXPECT_EQ(packet.payload, c.payload);
}

INSTANTIATE_TEST_SUITE_P(Known, WireFrame, ::testing::ValuesIn(KnownFrames()),
                         [](const ::testing::TestParamInfo<KnownFrame>& info) { return info.param.name; });

TEST(WireCrc, CheckValueAndThePacketsCrcHighByteFirst) {
  const Bytes check = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(bcsp::Crc16CcittFalse(check.data(), check.size()), 0x29B1);
  // Header and payload of the UART request above; its frame ends 0x1A 0x25.
  const Bytes covered = {0xC0, 0x82, 0x00, 0xBD, 0x01, 0x01, 0x01, 0x00, 0xA8, 0x00, 0x00, 0x00};
  EXPECT_EQ(bcsp::Crc16CcittFalse(covered.data(), covered.size()), 0x1A25);
}

// --- Settings messages -----------------------------------------------------

TEST(WireSettings, RequestsAndAnswersLaidOutByteForByte) {
  bcsp::WriteRequest uart;
  uart.tag = 1;
  uart.setting = bcsp::kSettingUartConfig;
  uart.value = 0xA8;
  EXPECT_EQ(bcsp::EncodeWriteRequest(uart), (Bytes{0x01, 0x01, 0x01, 0x00, 0xA8, 0x00, 0x00, 0x00}));

  bcsp::WriteRequest host;
  host.tag = 2;
  host.setting = bcsp::kSettingHostInterface;
  host.value = 4;
  EXPECT_EQ(bcsp::EncodeWriteRequest(host), (Bytes{0x01, 0x02, 0x02, 0x00, 0x04, 0x00, 0x00, 0x00}));

  // A value of 0 is still four bytes.
  bcsp::WriteRequest vm;
  vm.tag = 3;
  vm.setting = bcsp::kSettingVmDisable;
  vm.value = 0;
  EXPECT_EQ(bcsp::EncodeWriteRequest(vm), (Bytes{0x01, 0x03, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00}));

  const Bytes refused = {0x81, 0x07, 0x02, 0x00, 0x02};
  bcsp::WriteAnswer answer;
  ASSERT_TRUE(bcsp::DecodeWriteAnswer(refused.data(), refused.size(), &answer));
  EXPECT_EQ(answer.tag, 0x07);
  EXPECT_EQ(answer.setting, 0x0002);
  EXPECT_EQ(answer.status, 2);
}

TEST(WireSettings, TheProtocolsNumbers) {
  EXPECT_EQ(bcsp::kOpWriteSetting, 0x01);
  EXPECT_EQ(bcsp::kOpWriteAnswer, 0x81);
  EXPECT_EQ(bcsp::kSettingUartConfig, 0x0001);
  EXPECT_EQ(bcsp::kSettingHostInterface, 0x0002);
  EXPECT_EQ(bcsp::kSettingVmDisable, 0x0003);
  EXPECT_EQ(bcsp::kStatusAccepted, 0);
  EXPECT_EQ(bcsp::kStatusUnknownSetting, 1);
  EXPECT_EQ(bcsp::kStatusValueRefused, 2);
}

// Seeded messages against the layout written out byte by byte here.
TEST(WireSettings, SeededRequestsAndAnswersRoundTrip) {
  std::mt19937 random(20240612u);
  for (int round = 0; round < 500; ++round) {
    bcsp::WriteRequest request;
    request.tag = static_cast<std::uint8_t>(random());
    request.setting = static_cast<std::uint16_t>(random());
    request.value = static_cast<std::uint32_t>(random());
    const Bytes bytes = bcsp::EncodeWriteRequest(request);
    const Bytes layout = {0x01,
                          request.tag,
                          static_cast<std::uint8_t>(request.setting),
                          static_cast<std::uint8_t>(request.setting >> 8),
                          static_cast<std::uint8_t>(request.value),
                          static_cast<std::uint8_t>(request.value >> 8),
                          static_cast<std::uint8_t>(request.value >> 16),
                          static_cast<std::uint8_t>(request.value >> 24)};
    ASSERT_EQ(bytes, layout) << round;
    bcsp::WriteRequest back;
    ASSERT_TRUE(bcsp::DecodeWriteRequest(bytes.data(), bytes.size(), &back));
    EXPECT_EQ(back.tag, request.tag);
    EXPECT_EQ(back.setting, request.setting);
    EXPECT_EQ(back.value, request.value);

    bcsp::WriteAnswer answer;
    answer.tag = request.tag;
    answer.setting = request.setting;
    answer.status = static_cast<std::uint8_t>(random() % 3);
    const Bytes answer_bytes = bcsp::EncodeWriteAnswer(answer);
    ASSERT_EQ(answer_bytes, (Bytes{0x81, answer.tag, layout[2], layout[3], answer.status}));
    bcsp::WriteAnswer answer_back;
    ASSERT_TRUE(bcsp::DecodeWriteAnswer(answer_bytes.data(), answer_bytes.size(), &answer_back));
    EXPECT_EQ(answer_back.tag, answer.tag);
    EXPECT_EQ(answer_back.setting, answer.setting);
    EXPECT_EQ(answer_back.status, answer.status);
  }
}

// --- Link rules --------------------------------------------------------------

TEST(WireSequence, CountsModuloEightAndAcknowledgesWithTheNext) {
  // The seq after each seq, which is also the ack that acknowledges it.
  const std::uint8_t after[8] = {1, 2, 3, 4, 5, 6, 7, 0};
  for (std::uint8_t seq = 0; seq < 8; ++seq) {
    EXPECT_EQ(bcsp::NextSeq(seq), after[seq]) << int(seq);
  }
  // Nine packets from 0 wrap back to 0.
  std::uint8_t seq = 0;
  std::vector<std::uint8_t> sent;
  for (int i = 0; i < 9; ++i) {
    sent.push_back(seq);
    seq = bcsp::NextSeq(seq);
  }
  EXPECT_EQ(sent, (std::vector<std::uint8_t>{0, 1, 2, 3, 4, 5, 6, 7, 0}));
}

TEST(WireChannels, EachCarriesOneKindOfPacketOnly) {
  for (std::uint8_t channel = 0; channel < 16; ++channel) {
    for (bool reliable : {false, true}) {
      bcsp::Packet packet;
      packet.channel = channel;
      packet.reliable = reliable;
      const bool known = (channel == 0 && !reliable) || (channel == 1 && !reliable) || (channel == 2 && reliable);
      EXPECT_EQ(bcsp::OnKnownChannel(packet), known)
          << "channel " << int(channel) << (reliable ? " reliable" : " unreliable");
    }
  }
  EXPECT_EQ(bcsp::kChannelAck, 0);
  EXPECT_EQ(bcsp::kChannelLink, 1);
  EXPECT_EQ(bcsp::kChannelSettings, 2);
}

TEST(WireTiming, ResendEvery250MsAndGiveUpAfterEightSends) {
  // A count of sends, not a time: the limits in time (2000 ms for the link
  // and for an answer) belong to the host and are checked with it.
  EXPECT_EQ(bcsp::kResendInterval, std::chrono::milliseconds(250));
  EXPECT_EQ(bcsp::kMaxSends, 8u);
}

// --- The longest frame -------------------------------------------------------

// A CRC packet of 4095 bytes of 0x11 on channel 1: header 0x40 0xF1 0xFF 0xCF,
// CRC 0x4153. 4 + 4095 + 2 = 4101 bytes, the most a frame may carry.
Bytes LongestPacket() {
  Bytes packet = {0x40, 0xF1, 0xFF, 0xCF};
  packet.insert(packet.end(), 4095, 0x11);
  packet.push_back(0x41);
  packet.push_back(0x53);
  return packet;
}

TEST(WireLongest, FourPlus4095PlusTwoIsAcceptedAndEncodedByteForByte) {
  EXPECT_EQ(bcsp::kMaxPacketSize, 4101u);
  EXPECT_EQ(bcsp::kMaxPayloadSize, 4095u);

  bcsp::Packet longest;
  longest.crc = true;
  longest.channel = 1;
  longest.payload.assign(4095, 0x11);
  EXPECT_EQ(bcsp::EncodePacket(longest), LongestPacket());

  Bytes stream = {0xC0};
  const Bytes packet = LongestPacket();
  stream.insert(stream.end(), packet.begin(), packet.end());
  stream.push_back(0xC0);
  bcsp::SlipDecoder decoder;
  std::vector<Bytes> frames;
  for (std::uint8_t byte : stream) {
    if (decoder.Push(byte)) frames.push_back(decoder.frame());
  }
  ASSERT_EQ(frames.size(), 1u);
  bcsp::Packet decoded;
  EXPECT_EQ(bcsp::DecodePacket(frames[0].data(), frames[0].size(), &decoded), bcsp::DecodeResult::kOk);
  EXPECT_EQ(decoded.payload.size(), 4095u);
}

TEST(WireLongest, OneByteMoreIsDroppedAndTheNextFrameStillComes) {
  Bytes stream = {0xC0};
  const Bytes packet = LongestPacket();
  stream.insert(stream.end(), packet.begin(), packet.end());
  stream.push_back(0x00);  // the 4102nd byte
  const Bytes ack = {0xC0, 0x08, 0x00, 0x00, 0xF7, 0xC0};
  stream.insert(stream.end(), ack.begin(), ack.end());
  bcsp::SlipDecoder decoder;
  std::vector<Bytes> frames;
  for (std::uint8_t byte : stream) {
    if (decoder.Push(byte)) frames.push_back(decoder.frame());
  }
  EXPECT_EQ(frames, (std::vector<Bytes>{{0x08, 0x00, 0x00, 0xF7}}));
  EXPECT_EQ(decoder.dropped(), 1u);
}

}  // namespace
