#include "bcsp/settings_message.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(WriteRequest, KnownBytesLittleEndian) {
  bcsp::WriteRequest request;
  request.tag = 0x7E;
  request.setting = bcsp::kSettingUartConfig;
  request.value = 0x123456A8;
  EXPECT_EQ(bcsp::EncodeWriteRequest(request), (Bytes{0x01, 0x7E, 0x01, 0x00, 0xA8, 0x56, 0x34, 0x12}));
}

TEST(WriteRequest, RoundTrip) {
  bcsp::WriteRequest request;
  request.tag = 0xFF;
  request.setting = 0xBEEF;
  request.value = 0xFFFFFFFFu;
  const Bytes bytes = bcsp::EncodeWriteRequest(request);
  bcsp::WriteRequest out;
  ASSERT_TRUE(bcsp::DecodeWriteRequest(bytes.data(), bytes.size(), &out));
  EXPECT_EQ(out.tag, request.tag);
  EXPECT_EQ(out.setting, request.setting);
  EXPECT_EQ(out.value, request.value);
}

TEST(WriteAnswer, KnownBytesAndRoundTrip) {
  bcsp::WriteAnswer answer;
  answer.tag = 3;
  answer.setting = bcsp::kSettingVmDisable;
  answer.status = bcsp::kStatusValueRefused;
  const Bytes bytes = bcsp::EncodeWriteAnswer(answer);
  EXPECT_EQ(bytes, (Bytes{0x81, 0x03, 0x03, 0x00, 0x02}));
  bcsp::WriteAnswer out;
  ASSERT_TRUE(bcsp::DecodeWriteAnswer(bytes.data(), bytes.size(), &out));
  EXPECT_EQ(out.tag, 3);
  EXPECT_EQ(out.setting, bcsp::kSettingVmDisable);
  EXPECT_EQ(out.status, bcsp::kStatusValueRefused);
}

struct RefusedPayload {
  const char* name;
  Bytes bytes;
};

void PrintTo(const RefusedPayload& c, std::ostream* os) { *os << c.name; }

class SettingsMessageRefused : public ::testing::TestWithParam<RefusedPayload> {};

TEST_P(SettingsMessageRefused, NeitherKindAccepts) {
  const Bytes& bytes = GetParam().bytes;
  bcsp::WriteRequest request;
  bcsp::WriteAnswer answer;
  EXPECT_FALSE(bcsp::DecodeWriteRequest(bytes.data(), bytes.size(), &request));
  EXPECT_FALSE(bcsp::DecodeWriteAnswer(bytes.data(), bytes.size(), &answer));
}

INSTANTIATE_TEST_SUITE_P(Malformed, SettingsMessageRefused,
                         ::testing::Values(RefusedPayload{"empty", {}},
                                           RefusedPayload{"request_one_short", {0x01, 1, 1, 0, 0, 0, 0}},
                                           RefusedPayload{"request_one_long", {0x01, 1, 1, 0, 0, 0, 0, 0, 0}},
                                           RefusedPayload{"answer_one_short", {0x81, 1, 1, 0}},
                                           RefusedPayload{"answer_one_long", {0x81, 1, 1, 0, 0, 0}},
                                           RefusedPayload{"request_size_answer_op", {0x81, 1, 1, 0, 0, 0, 0, 0}},
                                           RefusedPayload{"answer_size_request_op", {0x01, 1, 1, 0, 0}},
                                           RefusedPayload{"unknown_op", {0x02, 1, 1, 0, 0, 0, 0, 0}}),
                         [](const ::testing::TestParamInfo<RefusedPayload>& info) { return info.param.name; });

}  // namespace
