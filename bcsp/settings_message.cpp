#include "bcsp/settings_message.h"

namespace bcsp {

namespace {

constexpr std::size_t kRequestSize = 8;
constexpr std::size_t kAnswerSize = 5;

void PutLe16(std::uint16_t value, std::vector<std::uint8_t>* out) {
  out->push_back(static_cast<std::uint8_t>(value & 0xFF));
  out->push_back(static_cast<std::uint8_t>(value >> 8));
}

void PutLe32(std::uint32_t value, std::vector<std::uint8_t>* out) {
  for (int shift = 0; shift < 32; shift += 8) {
    out->push_back(static_cast<std::uint8_t>((value >> shift) & 0xFF));
  }
}

std::uint16_t GetLe16(const std::uint8_t* data) { return static_cast<std::uint16_t>(data[0] | (data[1] << 8)); }

std::uint32_t GetLe32(const std::uint8_t* data) {
  return static_cast<std::uint32_t>(data[0]) | (static_cast<std::uint32_t>(data[1]) << 8) |
         (static_cast<std::uint32_t>(data[2]) << 16) | (static_cast<std::uint32_t>(data[3]) << 24);
}

}  // namespace

std::vector<std::uint8_t> EncodeWriteRequest(const WriteRequest& request) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(kRequestSize);
  bytes.push_back(kOpWriteSetting);
  bytes.push_back(request.tag);
  PutLe16(request.setting, &bytes);
  PutLe32(request.value, &bytes);
  return bytes;
}

std::vector<std::uint8_t> EncodeWriteAnswer(const WriteAnswer& answer) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(kAnswerSize);
  bytes.push_back(kOpWriteAnswer);
  bytes.push_back(answer.tag);
  PutLe16(answer.setting, &bytes);
  bytes.push_back(answer.status);
  return bytes;
}

bool DecodeWriteRequest(const std::uint8_t* data, std::size_t size, WriteRequest* out) {
  if (size != kRequestSize || data[0] != kOpWriteSetting) return false;
  out->tag = data[1];
  out->setting = GetLe16(data + 2);
  out->value = GetLe32(data + 4);
  return true;
}

bool DecodeWriteAnswer(const std::uint8_t* data, std::size_t size, WriteAnswer* out) {
  if (size != kAnswerSize || data[0] != kOpWriteAnswer) return false;
  out->tag = data[1];
  out->setting = GetLe16(data + 2);
  out->status = data[4];
  return true;
}

}  // namespace bcsp
