#include "fuzz/module_receive_reference.h"

#include "bcsp/packet.h"
#include "fuzz/reference_deframer.h"

namespace fuzzref {
namespace {

const std::uint8_t kLinkChannel = 1;
const std::uint8_t kSettingsChannel = 2;
const std::uint8_t kOpWrite = 0x01;
const std::size_t kRequestSize = 8;

bool IsLinkMessage(const bcsp::Packet& packet, const char* message) {
  return !packet.reliable && packet.channel == kLinkChannel &&
         packet.payload == std::vector<std::uint8_t>(message, message + 4);
}

AppliedWrite Apply(const std::vector<std::uint8_t>& payload, std::map<std::uint16_t, std::uint32_t>* values,
                   const std::set<std::uint16_t>& refused) {
  const std::uint8_t tag = payload.size() > 1 ? payload[1] : 0;
  if (payload.size() != kRequestSize || payload[0] != kOpWrite) return AppliedWrite{tag, 0, 0, 1};
  const std::uint16_t setting = (std::uint16_t)(payload[2] | (payload[3] << 8));
  const std::uint32_t value = (std::uint32_t)payload[4] | ((std::uint32_t)payload[5] << 8) |
                              ((std::uint32_t)payload[6] << 16) | ((std::uint32_t)payload[7] << 24);
  if (values->count(setting) == 0) return AppliedWrite{tag, setting, value, 1};
  if (refused.count(setting) > 0) return AppliedWrite{tag, setting, value, 2};
  (*values)[setting] = value;
  return AppliedWrite{tag, setting, value, 0};
}

}  // namespace

ModuleOutcome ExpectedModuleOutcome(const std::vector<std::vector<std::uint8_t>>& fastRuns,
                                    std::map<std::uint16_t, std::uint32_t> values,
                                    const std::set<std::uint16_t>& refused) {
  ModuleOutcome outcome;
  bool linked = false;
  std::uint8_t expected = 0;
  for (const std::vector<std::uint8_t>& run : fastRuns) {
    for (const WireFrame& frame : Deframe(run.data(), run.size()).frames) {
      bcsp::Packet packet;
      if (bcsp::DecodePacket(frame.packet.data(), frame.packet.size(), &packet) != bcsp::DecodeResult::kOk) continue;
      if (IsLinkMessage(packet, "SYNC")) {
        linked = false;
        expected = 0;
      } else if (IsLinkMessage(packet, "CONF")) {
        linked = true;
      } else if (linked && packet.reliable && packet.seq == expected) {
        expected = (std::uint8_t)((expected + 1) % 8);
        if (packet.channel == kSettingsChannel) outcome.writes.push_back(Apply(packet.payload, &values, refused));
      }
    }
  }
  outcome.values = values;
  return outcome;
}

}  // namespace fuzzref
