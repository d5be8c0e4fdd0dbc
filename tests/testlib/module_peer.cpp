#include "tests/testlib/module_peer.h"

#include <cstring>
#include <memory>

#include "bcsp/link_rules.h"

namespace peer {

namespace {

bool IsMessage(const bcsp::Packet& packet, const char* text) {
  return packet.payload.size() == 4 && std::memcmp(packet.payload.data(), text, 4) == 0;
}

}  // namespace

Module::Module(Config config, Line line) : config_(std::move(config)), line_(std::move(line)) {}

void Module::Receive(Bytes bytes, TimePoint now) {
  now_ = now;
  if (config_.damage_incoming) config_.damage_incoming(&bytes);
  for (std::uint8_t byte : bytes) {
    if (!decoder_.Push(byte)) continue;
    bcsp::Packet packet;
    const Bytes& frame = decoder_.frame();
    if (bcsp::DecodePacket(frame.data(), frame.size(), &packet) != bcsp::DecodeResult::kOk) {
      continue;
    }
    seen_.push_back({now, packet});
    if (config_.drop_incoming && config_.drop_incoming(packet)) continue;
    Handle(packet);
  }
}

void Module::Tick(TimePoint now) {
  now_ = now;
  if (!outstanding_ || now < outstanding_->next_resend) return;
  if (outstanding_->sends >= bcsp::kMaxSends) {
    outstanding_.reset();
    StartNext();
    return;
  }
  ++outstanding_->sends;
  outstanding_->next_resend += bcsp::kResendInterval;
  Transmit(outstanding_->packet);
}

std::optional<TimePoint> Module::NextEvent() const {
  if (!outstanding_) return std::nullopt;
  return outstanding_->next_resend;
}

void Module::Handle(const bcsp::Packet& packet) {
  if (!packet.reliable && packet.channel == bcsp::kChannelLink) {
    HandleLinkMessage(packet);
    return;
  }
  if (!configured_) return;
  const bool known = bcsp::OnKnownChannel(packet);
  if (known && outstanding_ && packet.ack == bcsp::NextSeq(outstanding_->packet.seq)) {
    outstanding_.reset();
    StartNext();
  }
  if (!packet.reliable) return;
  const bool fresh = packet.seq == expected_;
  if (fresh) expected_ = bcsp::NextSeq(expected_);
  SendAck();
  if (fresh && known) HandleRequest(packet.payload);
}

void Module::HandleLinkMessage(const bcsp::Packet& packet) {
  bcsp::Packet answer;
  answer.crc = config_.crc;
  answer.channel = bcsp::kChannelLink;
  if (IsMessage(packet, "SYNC")) {
    configured_ = false;
    next_seq_ = expected_ = 0;
    outstanding_.reset();
    queue_.clear();
    answer.payload = {'S', 'Y', 'N', 'A'};
  } else if (IsMessage(packet, "CONF")) {
    configured_ = true;
    answer.payload = {'C', 'O', 'N', 'A'};
  } else {
    return;
  }
  Transmit(answer);
}

void Module::HandleRequest(const Bytes& payload) {
  bcsp::WriteRequest request;
  bcsp::WriteAnswer answer;
  if (bcsp::DecodeWriteRequest(payload.data(), payload.size(), &request)) {
    const auto listed = config_.status.find(request.setting);
    const bool known_setting = request.setting >= 1 && request.setting <= 3;
    answer.tag = request.tag;
    answer.setting = request.setting;
    answer.status = listed != config_.status.end() ? listed->second
                    : known_setting                ? bcsp::kStatusAccepted
                                                   : bcsp::kStatusUnknownSetting;
    if (answer.status == bcsp::kStatusAccepted) {
      applied_.emplace_back(request.setting, request.value);
      stored_[request.setting] = request.value;
    }
    if (config_.before_answer) {
      for (Extra& extra : config_.before_answer(request, LinkState{next_seq_, expected_})) {
        if (extra.queued) {
          Enqueue(std::move(*extra.queued));
        } else {
          WriteWire(std::move(extra.raw));
        }
      }
    }
  } else {
    if (payload.size() < 2) return;
    answer.tag = payload[1];
    answer.setting = 0;
    answer.status = bcsp::kStatusUnknownSetting;
  }
  bcsp::Packet packet;
  packet.channel = bcsp::kChannelSettings;
  packet.payload = bcsp::EncodeWriteAnswer(answer);
  Enqueue(std::move(packet));
}

void Module::Enqueue(bcsp::Packet packet) {
  queue_.push_back(std::move(packet));
  if (!outstanding_) StartNext();
}

void Module::StartNext() {
  if (outstanding_ || queue_.empty()) return;
  bcsp::Packet packet = std::move(queue_.front());
  queue_.pop_front();
  packet.seq = next_seq_;
  packet.ack = expected_;
  packet.crc = config_.crc;
  packet.reliable = true;
  next_seq_ = bcsp::NextSeq(next_seq_);
  outstanding_ = Outstanding{std::move(packet), 1, now_ + bcsp::kResendInterval};
  Transmit(outstanding_->packet);
}

void Module::SendAck() {
  bcsp::Packet packet;
  packet.ack = expected_;
  packet.crc = config_.crc;
  packet.channel = bcsp::kChannelAck;
  Transmit(std::move(packet));
}

void Module::Transmit(bcsp::Packet packet) {
  if (config_.drop_outgoing && config_.drop_outgoing(packet)) return;
  if (config_.alter_outgoing) config_.alter_outgoing(&packet);
  WriteWire(bcsp::SlipEncode(bcsp::EncodePacket(packet)));
}

void Module::WriteWire(Bytes bytes) {
  if (config_.damage_outgoing) config_.damage_outgoing(&bytes);
  line_(bytes);
}

std::function<void(Bytes*)> DamageEveryNth(int n) {
  auto count = std::make_shared<long>(0);
  return [n, count](Bytes* bytes) {
    for (std::uint8_t& byte : *bytes) {
      if (++*count % n == 0) byte ^= 0x5A;
    }
  };
}

}  // namespace peer
