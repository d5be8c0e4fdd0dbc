#include "testlib/host_link.h"

#include <algorithm>
#include <cstring>

namespace prodtest {

namespace {

constexpr std::size_t kLinkMessageSize = 4;

bool IsLinkMessage(const bcsp::Packet& packet, const char* message) {
  return !packet.reliable && packet.channel == bcsp::kChannelLink && packet.payload.size() == kLinkMessageSize &&
         std::memcmp(packet.payload.data(), message, kLinkMessageSize) == 0;
}

}  // namespace

bool HostLink::Establish() {
  TakeDown();
  decoder_.Reset();
  read_size_ = read_pos_ = 0;
  const Clock::time_point deadline = Clock::now() + kLinkLimit;
  if (!Handshake("SYNC", "SYNA", deadline)) return false;
  if (!Handshake("CONF", "CONA", deadline)) return false;
  up_ = true;
  return true;
}

bool HostLink::Handshake(const char* message, const char* answer, Clock::time_point deadline) {
  // Sends keep to a fixed 250 ms beat from the first one, so that the count
  // within the limit does not depend on how late each wait returned.
  Clock::time_point next_send = Clock::now();
  while (next_send < deadline) {
    if (!SendLinkMessage(message)) return false;
    next_send += bcsp::kResendInterval;
    // A wait that returned very late must not turn into a burst of sends.
    if (next_send <= Clock::now()) next_send = Clock::now() + bcsp::kResendInterval;
    const Clock::time_point resend = std::min(next_send, deadline);
    bcsp::Packet packet;
    for (;;) {
      const ReadResult result = NextPacket(resend, &packet);
      if (result == ReadResult::kPortFailed) return false;
      if (result == ReadResult::kDeadline) break;
      // Until the link is up nothing else the module says has a meaning.
      if (IsLinkMessage(packet, answer)) return true;
    }
  }
  return false;
}

bool HostLink::SendReliable(const std::vector<std::uint8_t>& payload) {
  if (!up_ || awaiting_ack_) return false;
  bcsp::Packet packet;
  packet.seq = next_seq_;
  packet.ack = expected_seq_;
  packet.crc = crc_;
  packet.reliable = true;
  packet.channel = bcsp::kChannelSettings;
  packet.payload = payload;
  unacked_frame_ = bcsp::SlipEncode(bcsp::EncodePacket(packet));
  unacked_seq_ = next_seq_;
  next_seq_ = bcsp::NextSeq(next_seq_);
  awaiting_ack_ = true;
  sends_ = 1;
  next_resend_ = Clock::now() + bcsp::kResendInterval;
  if (!channel_->Write(unacked_frame_)) {
    TakeDown();
    return false;
  }
  return true;
}

bool HostLink::WaitForProgress(Clock::time_point deadline) {
  const bool was_awaiting = awaiting_ack_;
  for (;;) {
    if (!inbox_.empty() || (was_awaiting && !awaiting_ack_)) return true;
    if (!up_) return false;
    const Clock::time_point now = Clock::now();
    if (awaiting_ack_ && now >= next_resend_) {
      if (sends_ >= bcsp::kMaxSends) {
        TakeDown();
        return false;
      }
      if (!channel_->Write(unacked_frame_)) {
        TakeDown();
        return false;
      }
      ++sends_;
      next_resend_ += bcsp::kResendInterval;
      if (next_resend_ <= now) next_resend_ = now + bcsp::kResendInterval;
      continue;
    }
    if (now >= deadline) return false;
    const Clock::time_point until = awaiting_ack_ ? std::min(deadline, next_resend_) : deadline;
    bcsp::Packet packet;
    const ReadResult result = NextPacket(until, &packet);
    if (result == ReadResult::kPortFailed) {
      TakeDown();
      return false;
    }
    if (result == ReadResult::kPacket) Handle(packet);
  }
}

void HostLink::Handle(const bcsp::Packet& packet) {
  const bool known = bcsp::OnKnownChannel(packet);
  if (packet.reliable) {
    // Accepted or a repeat, it is acknowledged either way, or the module would
    // keep sending it.
    if (packet.seq == expected_seq_) {
      expected_seq_ = bcsp::NextSeq(expected_seq_);
      if (known) inbox_.push_back(packet.payload);
    }
    if (!SendAck()) {
      TakeDown();
      return;
    }
  }
  if (!known) return;
  if (awaiting_ack_ && packet.ack == bcsp::NextSeq(unacked_seq_)) {
    awaiting_ack_ = false;
    unacked_frame_.clear();
  }
}

bool HostLink::TakePayload(std::vector<std::uint8_t>* payload) {
  if (inbox_.empty()) return false;
  *payload = std::move(inbox_.front());
  inbox_.pop_front();
  return true;
}

void HostLink::GiveUp() { TakeDown(); }

void HostLink::TakeDown() {
  up_ = false;
  next_seq_ = 0;
  expected_seq_ = 0;
  awaiting_ack_ = false;
  unacked_frame_.clear();
  sends_ = 0;
  inbox_.clear();
}

bool HostLink::SendLinkMessage(const char* message) {
  bcsp::Packet packet;
  packet.crc = crc_;
  packet.channel = bcsp::kChannelLink;
  packet.payload.assign(message, message + kLinkMessageSize);
  return SendPacket(packet);
}

bool HostLink::SendAck() {
  bcsp::Packet packet;
  packet.ack = expected_seq_;
  packet.crc = crc_;
  packet.channel = bcsp::kChannelAck;
  return SendPacket(packet);
}

bool HostLink::SendPacket(const bcsp::Packet& packet) {
  return channel_->Write(bcsp::SlipEncode(bcsp::EncodePacket(packet)));
}

HostLink::ReadResult HostLink::NextPacket(Clock::time_point deadline, bcsp::Packet* packet) {
  for (;;) {
    while (read_pos_ < read_size_) {
      if (!decoder_.Push(read_buffer_[read_pos_++])) continue;
      const std::vector<std::uint8_t>& frame = decoder_.frame();
      if (bcsp::DecodePacket(frame.data(), frame.size(), packet) == bcsp::DecodeResult::kOk) {
        return ReadResult::kPacket;
      }
    }
    if (Clock::now() >= deadline) return ReadResult::kDeadline;
    const int got = channel_->Read(read_buffer_, sizeof(read_buffer_), deadline);
    if (got < 0) return ReadResult::kPortFailed;
    read_pos_ = 0;
    read_size_ = static_cast<std::size_t>(got);
  }
}

}  // namespace prodtest
