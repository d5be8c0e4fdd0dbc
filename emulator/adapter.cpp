#include "emulator/adapter.h"

#include <algorithm>
#include <cstring>

namespace emulator {
namespace {

constexpr char kSetupRequest[] = "KESTRAVIN SETUP";
constexpr char kReadyReply[] = "KESTRAVIN READY";
constexpr std::size_t kHandshakeSize = sizeof kSetupRequest - 1;
constexpr std::uint8_t kHandOver[] = {0x01, 0xF8, 0x00, 0x00};
// Endless ID characters are handed to the line in chunks that last a while at
// 1200 baud, so the adapter wakes a few times a second rather than per byte.
constexpr std::size_t kEndlessChunk = 16;

}  // namespace

Adapter::Adapter(const AdapterOptions& options, LineOutput& line, DialogueLog& log, AdapterFacts& facts)
    : options_(options), line_(line), log_(log), facts_(facts) {}

void Adapter::OnPortOpened() { armed_ = true; }

void Adapter::OnPortClosed() {
  armed_ = false;
  endless_ = false;
  if (state_ != State::kModule) state_ = State::kIdle;
}

void Adapter::OnLineRate(unsigned baud, TimePoint now) {
  if (!armed_ || baud != kPnpBaud) return;
  armed_ = false;
  if (state_ == State::kModule) log_.Note("adapter: an open at 1200 baud takes the line back from the module");
  state_ = State::kReplyDue;
  reply_at_ = now + std::chrono::milliseconds(options_.reply_delay_ms);
  setup_heard_ = false;
  history_.clear();
  log_.Note("adapter: line at 1200 baud after an open; Plug-and-Play reply in %u ms", options_.reply_delay_ms);
}

void Adapter::OnByte(const PacedByte& byte, TimePoint now) {
  facts_.heard[byte.baud].push_back(byte.byte);
  if (byte.baud != kFastBaud) {
    ++facts_.garbage_bytes;
    history_.clear();
    return;
  }
  if (state_ != State::kListening) return;
  history_.push_back(byte.byte);
  if (history_.size() > kHandshakeSize) history_.erase(history_.begin());
  if (HistoryEndsWith(kSetupRequest, kHandshakeSize)) {
    history_.clear();
    OnSetupRequest(now);
  } else if (setup_heard_ && HistoryEndsWith(reinterpret_cast<const char*>(kHandOver), sizeof kHandOver)) {
    history_.clear();
    OnHandOver();
  }
}

std::optional<TimePoint> Adapter::NextDeadline() const {
  if (state_ == State::kReplyDue) return reply_at_;
  if (endless_) return refill_at_;
  return std::nullopt;
}

void Adapter::OnTime(TimePoint now) {
  if (state_ == State::kReplyDue && now >= reply_at_) {
    state_ = State::kListening;
    if (options_.reply) {
      SendPnpReply(now);
    } else {
      log_.Note("adapter: keeps its Plug-and-Play reply to itself");
    }
  }
  if (endless_ && now >= refill_at_) FeedEndlessId(now);
}

void Adapter::SendPnpReply(TimePoint now) {
  Bytes reply{options_.first_byte};
  reply.insert(reply.end(), options_.revision.begin(), options_.revision.end());
  reply.insert(reply.end(), options_.id.begin(), options_.id.end());
  if (options_.ending == ReplyEnding::kParenthesis) {
    reply.push_back(')');
    reply.insert(reply.end(), options_.after.begin(), options_.after.end());
  }
  ++facts_.pnp_replies;
  log_.Note("adapter -> host at %u baud: \"%s\"%s", line_.Baud(), EscapeBytes(reply).c_str(),
            options_.ending == ReplyEnding::kSilent    ? ", then silence"
            : options_.ending == ReplyEnding::kEndless ? ", then the ID again and again"
                                                       : "");
  line_.Send(reply, now);
  if (options_.ending == ReplyEnding::kEndless && !options_.id.empty()) {
    endless_ = true;
    endless_position_ = 0;
    refill_at_ = now;
  }
}

void Adapter::FeedEndlessId(TimePoint now) {
  if (line_.Queued() < kEndlessChunk) {
    Bytes chunk;
    for (std::size_t i = 0; i < kEndlessChunk; ++i) {
      chunk.push_back(options_.id[endless_position_]);
      endless_position_ = (endless_position_ + 1) % options_.id.size();
    }
    line_.Send(chunk, now);
  }
  // Look again when about half of a chunk has left.
  refill_at_ = now + ByteTime(line_.Baud()) * (kEndlessChunk / 2);
}

void Adapter::OnSetupRequest(TimePoint now) {
  ++facts_.setup_requests;
  setup_heard_ = true;
  if (options_.ready_silent) {
    log_.Note("adapter: hears the setup request and stays silent");
    return;
  }
  Bytes ready(kReadyReply, kReadyReply + kHandshakeSize);
  if (options_.ready_wrong_at > 0) ready[options_.ready_wrong_at - 1] = '?';
  ++facts_.ready_replies;
  log_.Note("adapter: hears the setup request; -> host: \"%s\"", EscapeBytes(ready).c_str());
  line_.Send(ready, now);
}

void Adapter::OnHandOver() {
  if (!options_.handover) {
    log_.Note("adapter: ignores the hand-over command");
    return;
  }
  ++facts_.handovers;
  state_ = State::kModule;
  log_.Note("adapter: hand-over; the line now belongs to the module");
}

bool Adapter::HistoryEndsWith(const char* text, std::size_t size) const {
  return history_.size() >= size &&
         std::memcmp(history_.data() + history_.size() - size, text, size) == 0;
}

}  // namespace emulator
