#include "emulator/module_link.h"

#include <string>

#include "bcsp/link_rules.h"
#include "bcsp/settings_message.h"
#include "emulator/report.h"
#include "emulator/settings_service.h"

namespace emulator {
namespace {

const Bytes kSync = {'S', 'Y', 'N', 'C'};
const Bytes kSyna = {'S', 'Y', 'N', 'A'};
const Bytes kConf = {'C', 'O', 'N', 'F'};
const Bytes kCona = {'C', 'O', 'N', 'A'};

std::string DescribeSettings(const Bytes& payload) {
  bcsp::WriteRequest request;
  if (bcsp::DecodeWriteRequest(payload.data(), payload.size(), &request)) {
    return "write " + SettingName(request.setting) + " = " + std::to_string(request.value) + " (tag " +
           std::to_string(request.tag) + ")";
  }
  bcsp::WriteAnswer answer;
  if (bcsp::DecodeWriteAnswer(payload.data(), payload.size(), &answer)) {
    return "answer tag " + std::to_string(answer.tag) + ", " + SettingName(answer.setting) + ", status " +
           std::to_string(answer.status);
  }
  return "\"" + EscapeBytes(payload) + "\"";
}

std::string Describe(const bcsp::Packet& packet) {
  std::string text;
  if (packet.channel == bcsp::kChannelLink) {
    text = std::string(packet.payload.begin(), packet.payload.end());
  } else if (packet.channel == bcsp::kChannelAck && packet.payload.empty()) {
    text = "ack";
  } else if (packet.channel == bcsp::kChannelSettings) {
    text = DescribeSettings(packet.payload);
  } else {
    text = "channel " + std::to_string(packet.channel) + " \"" + EscapeBytes(packet.payload) + "\"";
  }
  if (packet.reliable) text += " [seq " + std::to_string(packet.seq) + "]";
  return text + " [ack " + std::to_string(packet.ack) + "]" + (packet.crc ? "" : " [no CRC]");
}

const char* FateText(FrameFate fate) {
  switch (fate) {
    case FrameFate::kLose: return " (lost on purpose)";
    case FrameFate::kCorrupt: return " (corrupted on purpose)";
    default: return "";
  }
}

}  // namespace

ModuleLink::ModuleLink(const ModuleOptions& options, SettingsStore& store, LineOutput& line, DialogueLog& log,
                       ModuleFacts& facts)
    : store_(store),
      line_(line),
      log_(log),
      facts_(facts),
      from_host_faults_(options.from_host, options.loss, LinkDirection::kFromHost),
      to_host_faults_(options.to_host, options.loss, LinkDirection::kToHost) {}

void ModuleLink::OnByte(const PacedByte& byte, TimePoint now) {
  if (byte.baud != kFastBaud) {
    // The module's receiver runs at 115200: anything else breaks the frame.
    ++facts_.garbage_bytes;
    decoder_.Reset();
    return;
  }
  ++facts_.bytes_from_host;
  ++frame_wire_bytes_;
  if (decoder_.Push(byte.byte)) {
    OnFrame(decoder_.frame(), frame_wire_bytes_, now);
    // From here on bytes count toward the next frame, its opening 0xC0 included.
    frame_wire_bytes_ = 0;
  }
}

void ModuleLink::OnFrame(Bytes frame, unsigned wire_bytes, TimePoint now) {
  ++facts_.frames_from_host;
  const FrameFate fate = from_host_faults_.Next();
  if (fate == FrameFate::kLose) {
    ++facts_.lost_from_host;
    log_.Note("module: frame %u from the host lost on purpose", from_host_faults_.count());
    return;
  }
  if (fate == FrameFate::kCorrupt) {
    ++facts_.corrupted_from_host;
    CorruptPacket(&frame);
  }
  bcsp::Packet packet;
  const bcsp::DecodeResult result = bcsp::DecodePacket(frame.data(), frame.size(), &packet);
  if (result != bcsp::DecodeResult::kOk) {
    ++facts_.dropped_from_host;
    log_.Note("module: frame %u from the host dropped (%s)%s", from_host_faults_.count(),
              result == bcsp::DecodeResult::kBadCrc      ? "bad CRC"
              : result == bcsp::DecodeResult::kBadHeader ? "bad header check"
              : result == bcsp::DecodeResult::kBadLength ? "bad length"
                                                         : "too short",
              FateText(fate));
    return;
  }
  log_.Note("host -> module: %s", Describe(packet).c_str());
  if (packet.channel == bcsp::kChannelAck && !packet.reliable) {
    ++facts_.ack_frames_from_host;
    facts_.ack_bytes_from_host += wire_bytes;
  }
  OnPacket(packet, now);
}

void ModuleLink::OnPacket(const bcsp::Packet& packet, TimePoint now) {
  const bool known = bcsp::OnKnownChannel(packet);
  if (known && packet.channel == bcsp::kChannelLink) {
    OnLinkMessage(packet, now);
    return;
  }
  if (!linked_) return;  // nothing but link establishment until a CONF is answered
  TakeAck(packet.ack, now);
  if (known && packet.channel == bcsp::kChannelSettings) {
    OnSettingsPacket(packet, now);
    return;
  }
  if (known) return;  // a plain acknowledgement
  ++facts_.dropped_from_host;
  log_.Note("module: drops a packet on channel %u with the wrong reliable flag or channel", packet.channel);
  if (packet.reliable) {
    AcceptSeq(packet);
    SendAck(now);
  }
}

void ModuleLink::OnLinkMessage(const bcsp::Packet& packet, TimePoint now) {
  if (packet.payload == kSync) {
    if (PlansHold(&VanishPlan::OnSync)) return;
    ++facts_.syncs;
    linked_ = false;
    next_seq_ = 0;
    expected_seq_ = 0;
    in_flight_.reset();
    waiting_.clear();
    SendUnreliable(bcsp::kChannelLink, kSyna, now);
  } else if (packet.payload == kConf) {
    if (PlansHold(&VanishPlan::OnConf)) return;
    ++facts_.confs;
    linked_ = true;
    SendUnreliable(bcsp::kChannelLink, kCona, now);
  }
}

void ModuleLink::OnSettingsPacket(const bcsp::Packet& packet, TimePoint now) {
  if (!AcceptSeq(packet)) {
    log_.Note("module: seq %u is a repeat; payload dropped", packet.seq);
    SendAck(now);
    return;
  }
  if (PlansHold(&VanishPlan::OnWriteRequest)) return;
  SettingWrite record;
  const Bytes answer = AnswerSettingsRequest(packet.payload, store_, &record);
  facts_.writes.Add(record);
  const bool goes_at_once = !in_flight_;
  QueueReliable(answer, now);
  // The answer carries the acknowledgement when it leaves at once; otherwise
  // the acknowledgement goes on its own.
  if (!goes_at_once) SendAck(now);
}

bool ModuleLink::PlansHold(bool (VanishPlan::*step)()) {
  bool held = false;
  for (VanishPlan* plan : plans_) held = (plan->*step)() || held;
  return held;
}

bool ModuleLink::AcceptSeq(const bcsp::Packet& packet) {
  if (packet.seq != expected_seq_) return false;
  expected_seq_ = bcsp::NextSeq(expected_seq_);
  return true;
}

void ModuleLink::TakeAck(std::uint8_t ack, TimePoint now) {
  if (!in_flight_ || ack != bcsp::NextSeq(in_flight_->packet.seq)) return;
  in_flight_.reset();
  StartNextReliable(now);
}

void ModuleLink::SendUnreliable(std::uint8_t channel, const Bytes& payload, TimePoint now) {
  bcsp::Packet packet;
  packet.ack = expected_seq_;
  packet.crc = true;
  packet.channel = channel;
  packet.payload = payload;
  Transmit(packet, now);
}

void ModuleLink::SendAck(TimePoint now) { SendUnreliable(bcsp::kChannelAck, {}, now); }

void ModuleLink::QueueReliable(const Bytes& payload, TimePoint now) {
  waiting_.push_back(payload);
  if (!in_flight_) StartNextReliable(now);
}

void ModuleLink::StartNextReliable(TimePoint now) {
  if (waiting_.empty()) return;
  InFlight next;
  next.packet.seq = next_seq_;
  next.packet.ack = expected_seq_;
  next.packet.crc = true;
  next.packet.reliable = true;
  next.packet.channel = bcsp::kChannelSettings;
  next.packet.payload = waiting_.front();
  waiting_.pop_front();
  next_seq_ = bcsp::NextSeq(next_seq_);
  next.sends = 1;
  next.next_send = now + bcsp::kResendInterval;
  in_flight_ = next;
  Transmit(in_flight_->packet, now);
}

std::optional<TimePoint> ModuleLink::NextDeadline() const {
  if (!in_flight_) return std::nullopt;
  return in_flight_->next_send;
}

void ModuleLink::OnTime(TimePoint now) {
  if (!in_flight_ || now < in_flight_->next_send) return;
  if (in_flight_->sends >= bcsp::kMaxSends) {
    ++facts_.abandoned;
    log_.Note("module: gives up on seq %u after %u sends", in_flight_->packet.seq, bcsp::kMaxSends);
    in_flight_.reset();
    StartNextReliable(now);
    return;
  }
  ++in_flight_->sends;
  ++facts_.resends;
  in_flight_->next_send = now + bcsp::kResendInterval;
  Transmit(in_flight_->packet, now);
}

void ModuleLink::Transmit(const bcsp::Packet& packet, TimePoint now) {
  ++facts_.frames_to_host;
  const FrameFate fate = to_host_faults_.Next();
  log_.Note("module -> host: %s%s", Describe(packet).c_str(), FateText(fate));
  if (fate == FrameFate::kLose) {
    ++facts_.lost_to_host;
    return;
  }
  Bytes bytes = bcsp::EncodePacket(packet);
  if (fate == FrameFate::kCorrupt) {
    ++facts_.corrupted_to_host;
    CorruptPacket(&bytes);
  }
  const Bytes frame = bcsp::SlipEncode(bytes);
  facts_.bytes_to_host += static_cast<unsigned>(frame.size());
  line_.Send(frame, now);
}

}  // namespace emulator
