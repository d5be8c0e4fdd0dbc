// The settings messages carried on channel 2 of the module link: the 8-byte
// write request (op 0x01, tag, setting id, value) and the 5-byte answer (op
// 0x81, tag, setting id, status). Numbers are little-endian. No I/O here.
#ifndef CORVANE_BCSP_SETTINGS_MESSAGE_H
#define CORVANE_BCSP_SETTINGS_MESSAGE_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bcsp {

constexpr std::uint8_t kOpWriteSetting = 0x01;
constexpr std::uint8_t kOpWriteAnswer = 0x81;

constexpr std::uint16_t kSettingUartConfig = 0x0001;
constexpr std::uint16_t kSettingHostInterface = 0x0002;
constexpr std::uint16_t kSettingVmDisable = 0x0003;

constexpr std::uint8_t kStatusAccepted = 0;
constexpr std::uint8_t kStatusUnknownSetting = 1;
constexpr std::uint8_t kStatusValueRefused = 2;

struct WriteRequest {
  std::uint8_t tag = 0;
  std::uint16_t setting = 0;
  std::uint32_t value = 0;
};

struct WriteAnswer {
  std::uint8_t tag = 0;
  std::uint16_t setting = 0;
  std::uint8_t status = 0;
};

std::vector<std::uint8_t> EncodeWriteRequest(const WriteRequest& request);
std::vector<std::uint8_t> EncodeWriteAnswer(const WriteAnswer& answer);

// True when the payload is a well-formed message of that kind (right op and
// size).
bool DecodeWriteRequest(const std::uint8_t* data, std::size_t size, WriteRequest* out);
bool DecodeWriteAnswer(const std::uint8_t* data, std::size_t size, WriteAnswer* out);

}  // namespace bcsp

#endif
