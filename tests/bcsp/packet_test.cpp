// Packets of the module link: known headers, the header check, the CRC
// placement, round trips through the framing, and every way DecodePacket must
// refuse a frame.
#include "bcsp/packet.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <random>
#include <vector>

#include "bcsp/slip.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

bcsp::Packet MakePacket(std::uint8_t seq, std::uint8_t ack, bool crc, bool reliable, std::uint8_t channel,
                        Bytes payload) {
  bcsp::Packet packet;
  packet.seq = seq;
  packet.ack = ack;
  packet.crc = crc;
  packet.reliable = reliable;
  packet.channel = channel;
  packet.payload = std::move(payload);
  return packet;
}

void ExpectSamePacket(const bcsp::Packet& got, const bcsp::Packet& want) {
  EXPECT_EQ(got.seq, want.seq);
  EXPECT_EQ(got.ack, want.ack);
  EXPECT_EQ(got.crc, want.crc);
  EXPECT_EQ(got.reliable, want.reliable);
  EXPECT_EQ(got.channel, want.channel);
  EXPECT_EQ(got.payload, want.payload);
}

TEST(HeaderCheck, IsComplementOfByteSum) {
  EXPECT_EQ(bcsp::HeaderCheck(0x00, 0x00, 0x00), 0xFF);
  EXPECT_EQ(bcsp::HeaderCheck(0x00, 0x41, 0x00), 0xBE);
  EXPECT_EQ(bcsp::HeaderCheck(0xD1, 0x82, 0x00), 0xAC);  // sum wraps past 0xFF
  EXPECT_EQ(bcsp::HeaderCheck(0xFF, 0xFF, 0xFF), 0x02);  // 0x2FD mod 256 = 0xFD
}

TEST(EncodePacket, SyncWithoutCrc) {
  const Bytes sync = {'S', 'Y', 'N', 'C'};
  EXPECT_EQ(bcsp::EncodePacket(MakePacket(0, 0, false, false, bcsp::kChannelLink, sync)),
            (Bytes{0x00, 0x41, 0x00, 0xBE, 'S', 'Y', 'N', 'C'}));
}

TEST(EncodePacket, SyncWithCrcHighByteFirst) {
  const Bytes sync = {'S', 'Y', 'N', 'C'};
  EXPECT_EQ(bcsp::EncodePacket(MakePacket(0, 0, true, false, bcsp::kChannelLink, sync)),
            (Bytes{0x40, 0x41, 0x00, 0x7E, 'S', 'Y', 'N', 'C', 0x08, 0x91}));
}

TEST(EncodePacket, FlagsSeqAckAndLengthBits) {
  const Bytes header = [] {
    Bytes bytes = bcsp::EncodePacket(MakePacket(1, 2, true, true, bcsp::kChannelSettings, Bytes(8, 0x00)));
    return Bytes(bytes.begin(), bytes.begin() + 4);
  }();
  EXPECT_EQ(header, (Bytes{0xD1, 0x82, 0x00, 0xAC}));
}

TEST(EncodePacket, TwelveBitLength) {
  // 0x123 bytes: low nibble 3 in byte 1's high half, 0x12 in byte 2.
  const Bytes bytes = bcsp::EncodePacket(MakePacket(0, 0, false, false, 5, Bytes(0x123, 0x55)));
  ASSERT_EQ(bytes.size(), 4u + 0x123u);
  EXPECT_EQ(bytes[1], 0x35);
  EXPECT_EQ(bytes[2], 0x12);
}

// Encodes, frames, unframes and decodes: the road every packet travels.
bcsp::Packet ThroughTheWire(const bcsp::Packet& packet) {
  const Bytes frame = bcsp::SlipEncode(bcsp::EncodePacket(packet));
  bcsp::SlipDecoder decoder;
  Bytes unframed;
  int frames = 0;
  for (std::uint8_t byte : frame) {
    if (decoder.Push(byte)) {
      ++frames;
      unframed = decoder.frame();
    }
  }
  EXPECT_EQ(frames, 1);
  bcsp::Packet out;
  EXPECT_EQ(bcsp::DecodePacket(unframed.data(), unframed.size(), &out), bcsp::DecodeResult::kOk);
  return out;
}

class PacketRoundTrip : public ::testing::TestWithParam<bool> {};

TEST_P(PacketRoundTrip, EveryByteValueInPayload) {
  Bytes payload;
  for (int value = 0; value < 256; ++value) payload.push_back(static_cast<std::uint8_t>(value));
  const bcsp::Packet packet = MakePacket(5, 3, GetParam(), true, bcsp::kChannelSettings, payload);
  ExpectSamePacket(ThroughTheWire(packet), packet);
}

TEST_P(PacketRoundTrip, EverySeqAckAndChannel) {
  for (std::uint8_t seq = 0; seq < 8; ++seq) {
    for (std::uint8_t ack = 0; ack < 8; ++ack) {
      for (std::uint8_t channel = 0; channel < 16; ++channel) {
        const bcsp::Packet packet = MakePacket(seq, ack, GetParam(), (seq + channel) % 2 == 0, channel, {seq, ack});
        ExpectSamePacket(ThroughTheWire(packet), packet);
      }
    }
  }
}

TEST_P(PacketRoundTrip, EmptyAndLongestPayload) {
  for (std::size_t size : {std::size_t{0}, bcsp::kMaxPayloadSize}) {
    const bcsp::Packet packet = MakePacket(0, 7, GetParam(), false, 0, Bytes(size, 0xC0));
    ExpectSamePacket(ThroughTheWire(packet), packet);
  }
}

TEST_P(PacketRoundTrip, SeededRandomPackets) {
  std::mt19937 random(20240611u + (GetParam() ? 1u : 0u));
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<std::size_t> size(0, bcsp::kMaxPayloadSize);
  for (int round = 0; round < 200; ++round) {
    Bytes payload(round % 4 == 0 ? size(random) : size(random) % 64);
    // Lean on the two framing codes so that escaping is exercised hard.
    for (std::uint8_t& b : payload) {
      const int pick = byte(random);
      b = pick < 32 ? 0xC0 : pick < 64 ? 0xDB : static_cast<std::uint8_t>(byte(random));
    }
    const bcsp::Packet packet =
        MakePacket(static_cast<std::uint8_t>(byte(random) & 7), static_cast<std::uint8_t>(byte(random) & 7), GetParam(),
                   byte(random) % 2 == 1, static_cast<std::uint8_t>(byte(random) & 15), payload);
    ExpectSamePacket(ThroughTheWire(packet), packet);
  }
}

INSTANTIATE_TEST_SUITE_P(Crc, PacketRoundTrip, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "CrcOn" : "CrcOff"; });

// A frame after unescaping and what DecodePacket must say of it.
struct RefusedFrame {
  const char* name;
  Bytes frame;
  bcsp::DecodeResult result;
};

Bytes Sync(bool crc) {
  return bcsp::EncodePacket(MakePacket(0, 0, crc, false, bcsp::kChannelLink, {'S', 'Y', 'N', 'C'}));
}

Bytes Altered(Bytes bytes, std::size_t index, std::uint8_t value) {
  bytes[index] = value;
  return bytes;
}

Bytes Truncated(Bytes bytes, std::size_t drop) {
  bytes.resize(bytes.size() - drop);
  return bytes;
}

Bytes Extended(Bytes bytes, std::uint8_t extra) {
  bytes.push_back(extra);
  return bytes;
}

// Sets the CRC flag and fixes the header check, so that only the CRC is wrong.
Bytes CrcFlagWithoutCrc() {
  Bytes bytes = Sync(false);
  bytes[0] |= 0x40;
  bytes[3] = bcsp::HeaderCheck(bytes[0], bytes[1], bytes[2]);
  bytes.push_back(0x00);
  bytes.push_back(0x00);
  return bytes;
}

std::vector<RefusedFrame> RefusedFrames() {
  using R = bcsp::DecodeResult;
  return {
      {"one_byte", {0x00}, R::kTooShort},
      {"three_bytes", {0x00, 0x01, 0x00}, R::kTooShort},
      {"header_check_off_by_one", Altered(Sync(false), 3, 0xBF), R::kBadHeader},
      {"header_byte_flipped", Altered(Sync(false), 1, 0x42), R::kBadHeader},
      {"payload_shorter_than_length", Truncated(Sync(false), 1), R::kBadLength},
      {"payload_longer_than_length", Extended(Sync(false), 0x00), R::kBadLength},
      {"crc_flag_but_no_crc_bytes", Truncated(Sync(true), 2), R::kBadLength},
      {"crc_bytes_without_flag", Extended(Extended(Sync(false), 0x08), 0x91), R::kBadLength},
      {"crc_low_byte_wrong", Altered(Sync(true), 9, 0x92), R::kBadCrc},
      {"crc_bytes_swapped", Altered(Altered(Sync(true), 8, 0x91), 9, 0x08), R::kBadCrc},
      {"payload_byte_changed_under_crc", Altered(Sync(true), 4, 'T'), R::kBadCrc},
      {"zero_crc", CrcFlagWithoutCrc(), R::kBadCrc},
  };
}

void PrintTo(const RefusedFrame& c, std::ostream* os) { *os << c.name; }

class PacketRefused : public ::testing::TestWithParam<RefusedFrame> {};

TEST_P(PacketRefused, WithTheRightReason) {
  const RefusedFrame& c = GetParam();
  bcsp::Packet out;
  EXPECT_EQ(bcsp::DecodePacket(c.frame.data(), c.frame.size(), &out), c.result);
}

INSTANTIATE_TEST_SUITE_P(Malformed, PacketRefused, ::testing::ValuesIn(RefusedFrames()),
                         [](const ::testing::TestParamInfo<RefusedFrame>& info) { return info.param.name; });

TEST(DecodePacket, AcceptsBothCrcForms) {
  for (bool crc : {false, true}) {
    const Bytes bytes = Sync(crc);
    bcsp::Packet out;
    ASSERT_EQ(bcsp::DecodePacket(bytes.data(), bytes.size(), &out), bcsp::DecodeResult::kOk);
    EXPECT_EQ(out.crc, crc);
    EXPECT_EQ(out.payload, (Bytes{'S', 'Y', 'N', 'C'}));
    EXPECT_EQ(out.channel, bcsp::kChannelLink);
  }
}

}  // namespace
