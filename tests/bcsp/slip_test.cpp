// Framing of the module link: escape vectors and frame assembly from a byte
// stream, including every way a stream can go wrong.
#include "bcsp/slip.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

struct EscapeCase {
  const char* name;
  Bytes packet;
  Bytes frame;
};

void PrintTo(const EscapeCase& c, std::ostream* os) { *os << c.name; }

class SlipEscape : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(SlipEscape, EncodesToKnownFrame) { EXPECT_EQ(bcsp::SlipEncode(GetParam().packet), GetParam().frame); }

TEST_P(SlipEscape, DecoderGivesBackThePacket) {
  const EscapeCase& c = GetParam();
  bcsp::SlipDecoder decoder;
  std::vector<Bytes> frames;
  for (std::uint8_t byte : c.frame) {
    if (decoder.Push(byte)) frames.push_back(decoder.frame());
  }
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], c.packet);
  EXPECT_EQ(decoder.dropped(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, SlipEscape,
    ::testing::Values(EscapeCase{"plain", {0x01, 0x02, 0x03}, {0xC0, 0x01, 0x02, 0x03, 0xC0}},
                      EscapeCase{"end", {0xC0}, {0xC0, 0xDB, 0xDC, 0xC0}},
                      EscapeCase{"esc", {0xDB}, {0xC0, 0xDB, 0xDD, 0xC0}},
                      EscapeCase{"esc_then_escend_byte", {0xDB, 0xDC}, {0xC0, 0xDB, 0xDD, 0xDC, 0xC0}},
                      EscapeCase{"escape_codes_alone_unchanged", {0xDC, 0xDD}, {0xC0, 0xDC, 0xDD, 0xC0}},
                      EscapeCase{
                          "mixed", {0xC0, 0xDB, 0xC0, 0x00}, {0xC0, 0xDB, 0xDC, 0xDB, 0xDD, 0xDB, 0xDC, 0x00, 0xC0}}),
    [](const ::testing::TestParamInfo<EscapeCase>& info) { return info.param.name; });

TEST(SlipEncode, EmptyPacketIsTwoEnds) { EXPECT_EQ(bcsp::SlipEncode({}), (Bytes{0xC0, 0xC0})); }

// What a receiver makes of a stream: the frames it delivers, in order, and how
// many it dropped.
struct StreamCase {
  const char* name;
  Bytes stream;
  std::vector<Bytes> frames;
  std::size_t dropped;
};

Bytes Repeat(std::uint8_t byte, std::size_t count) { return Bytes(count, byte); }

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::vector<StreamCase> StreamCases() {
  const std::size_t max = bcsp::kMaxPacketSize;
  return {
      {"garbage_before_first_end", {0x01, 0x02, 0xDB, 0x07, 0xC0, 0xAA, 0xC0}, {{0xAA}}, 0},
      {"empty_frames_ignored", {0xC0, 0xC0, 0xC0, 0xAA, 0xC0, 0xC0}, {{0xAA}}, 0},
      {"closing_end_opens_next", {0xC0, 0xAA, 0xC0, 0xBB, 0xCC, 0xC0}, {{0xAA}, {0xBB, 0xCC}}, 0},
      {"unterminated_frame_not_delivered", {0xC0, 0xAA, 0xBB}, {}, 0},
      {"bad_escape_dropped_then_next_frame", {0xC0, 0xAA, 0xDB, 0x01, 0xBB, 0xC0, 0xCC, 0xC0}, {{0xCC}}, 1},
      {"bad_escape_cut_by_end", {0xC0, 0xAA, 0xDB, 0xC0, 0xCC, 0xC0}, {{0xCC}}, 1},
      {"escape_of_escape_code_bad", {0xC0, 0xDB, 0xDB, 0xDC, 0xC0, 0xCC, 0xC0}, {{0xCC}}, 1},
      {"longest_frame_accepted", Concat({{0xC0}, Repeat(0x11, max), {0xC0}}), {Repeat(0x11, max)}, 0},
      {"longest_frame_ending_in_escape_accepted",
       Concat({{0xC0}, Repeat(0x11, max - 1), {0xDB, 0xDC, 0xC0}}),
       {Concat({Repeat(0x11, max - 1), {0xC0}})},
       0},
      {"oversized_dropped_then_recovers", Concat({{0xC0}, Repeat(0x11, max + 1), {0xC0, 0xAA, 0xC0}}), {{0xAA}}, 1},
      {"oversized_by_escape_dropped_then_recovers",
       Concat({{0xC0}, Repeat(0x11, max), {0xDB, 0xDD, 0x22, 0xC0, 0xAA, 0xC0}}),
       {{0xAA}},
       1},
      {"huge_run_dropped_once", Concat({{0xC0}, Repeat(0x33, 5 * max), {0xC0, 0xAA, 0xC0}}), {{0xAA}}, 1},
  };
}

void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }

class SlipStream : public ::testing::TestWithParam<StreamCase> {};

TEST_P(SlipStream, DeliversExactlyTheGoodFrames) {
  const StreamCase& c = GetParam();
  bcsp::SlipDecoder decoder;
  std::vector<Bytes> frames;
  for (std::uint8_t byte : c.stream) {
    if (decoder.Push(byte)) frames.push_back(decoder.frame());
  }
  EXPECT_EQ(frames, c.frames);
  EXPECT_EQ(decoder.dropped(), c.dropped);
}

INSTANTIATE_TEST_SUITE_P(Malformed, SlipStream, ::testing::ValuesIn(StreamCases()),
                         [](const ::testing::TestParamInfo<StreamCase>& info) { return info.param.name; });

TEST(SlipDecoder, ResetForgetsPartialFrameAndHuntsForEnd) {
  bcsp::SlipDecoder decoder;
  for (std::uint8_t byte : Bytes{0xC0, 0xAA, 0xBB}) EXPECT_FALSE(decoder.Push(byte));
  decoder.Reset();
  std::vector<Bytes> frames;
  for (std::uint8_t byte : Bytes{0xCC, 0xC0, 0xDD, 0xC0}) {
    if (decoder.Push(byte)) frames.push_back(decoder.frame());
  }
  EXPECT_EQ(frames, (std::vector<Bytes>{{0xDD}}));
}

}  // namespace
