#include "emulator/adapter.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace emulator {
namespace {

constexpr char kSetupRequest[] = "KESTRAVIN SETUP";
constexpr std::size_t kHandshakeSize = sizeof kSetupRequest - 1;
constexpr std::uint8_t kHandOver[] = {0x01, 0xF8, 0x00, 0x00};
// Endless ID characters are handed to the line in chunks that last a while at
// 1200 baud, so the adapter wakes a few times a second rather than per byte.
constexpr std::size_t kEndlessChunk = 16;

const char* PulseCheckName(PulseCheck check) {
  switch (check) {
    case PulseCheck::kTimer: return "timer";
    case PulseCheck::kJudged: return "judged";
    case PulseCheck::kAnyPulses: return "any pulses";
  }
  return "timer";
}

}  // namespace

Adapter::Adapter(const AdapterOptions& options, LineOutput& line, DialogueLog& log, AdapterFacts& facts)
    : options_(options), line_(line), log_(log), facts_(facts) {
  facts_.pulse_check = PulseCheckName(options_.pulse_check);
}

void Adapter::OnPortOpened() {
  ++opens_;
  armed_ = true;
  if (options_.pulse_check != PulseCheck::kTimer) {
    watch_ = PulseWatch{};
    watch_.active = true;
    watch_.opened = Clock::now();
  }
}

void Adapter::OnPortClosed() {
  if (watch_.active) {
    RecordPulses(Clock::now(), true);
    watch_.active = false;
  }
  reply_due_ = false;
  armed_ = false;
  endless_ = false;
  trickle_ = false;
  if (state_ != State::kModule) state_ = State::kIdle;
}

void Adapter::OnLineRate(unsigned baud, TimePoint now) {
  if (!armed_ || baud != kPnpBaud) return;
  armed_ = false;
  if (state_ == State::kModule) log_.Note("adapter: an open at 1200 baud takes the line back from the module");
  state_ = State::kReplyDue;
  setup_heard_ = false;
  history_.clear();
  if (watch_.active) {
    watch_.discovery = facts_.pulses.total();
    facts_.pulses.Add(PulseFacts{}).open = opens_;
    RecordPulses(now, false);
  }
  if (options_.pulse_check == PulseCheck::kJudged) {
    log_.Note("adapter: line at 1200 baud after an open; waiting for the pulses");
    ReplyWhenPulsesSay(now);
    return;
  }
  reply_due_ = true;
  reply_at_ = now + std::chrono::milliseconds(options_.reply_delay_ms);
  log_.Note("adapter: line at 1200 baud after an open; Plug-and-Play reply in %u ms", options_.reply_delay_ms);
}

void Adapter::OnModemLines(LineState state, TimePoint at) {
  if (!watch_.active || state == watch_.state) return;
  watch_.state = state;
  // The open came before any call on the port; we merely heard of it later.
  if (at < watch_.opened) watch_.opened = at;
  watch_.changes.emplace_back(at, state);
  log_.Note("adapter: modem lines %s at %.1f ms after the open", Describe(state).c_str(),
            Milliseconds(at - watch_.opened));
  if (watch_.discovery) RecordPulses(at, false);
  if (state_ == State::kReplyDue && options_.pulse_check == PulseCheck::kJudged) ReplyWhenPulsesSay(at);
}

void Adapter::ReplyWhenPulsesSay(TimePoint observed_until) {
  const PulseVerdict verdict = JudgeWatch(observed_until);
  reply_due_ = verdict.outcome != PulseOutcome::kRejected;
  if (reply_due_) reply_at_ = watch_.opened + verdict.reply_at;
}

PulseVerdict Adapter::JudgeWatch(TimePoint observed_until) const {
  std::vector<LineChange> changes;
  for (const auto& [at, state] : watch_.changes) changes.push_back({at - watch_.opened, state});
  return JudgePulses(kLinesAtOpen, changes, observed_until - watch_.opened);
}

void Adapter::RecordPulses(TimePoint observed_until, bool closed) {
  PulseFacts* kept = watch_.discovery ? facts_.pulses.Find(*watch_.discovery) : nullptr;
  if (kept == nullptr) return;
  PulseFacts& facts = *kept;
  const PulseVerdict verdict = watch_.answered ? *watch_.answered : JudgeWatch(observed_until);
  const bool replied = watch_.answered.has_value();
  facts.changes.clear();
  for (const auto& [at, state] : watch_.changes) {
    facts.changes.push_back(
        {Milliseconds(at - watch_.opened), state.rts, state.dtr, replied && at >= watch_.replied_at});
  }
  facts.accepted = verdict.outcome == PulseOutcome::kAccepted;
  switch (verdict.outcome) {
    case PulseOutcome::kAccepted:
      facts.verdict = "accepted: RTS rose at " + MillisecondsText(verdict.last_step_at) + ", the reply was due at " +
                      MillisecondsText(verdict.reply_at);
      break;
    case PulseOutcome::kPending:
      facts.verdict =
          closed ? "rejected: the port closed before the reply was due at " + MillisecondsText(verdict.reply_at)
                 : "pending: the reply is due at " + MillisecondsText(verdict.reply_at);
      break;
    case PulseOutcome::kRejected: facts.verdict = "rejected: " + verdict.why; break;
  }
  if (options_.pulse_check == PulseCheck::kAnyPulses && watch_.answered) {
    facts.verdict += "; answered on the timer all the same (any pulses)";
  }
}

void Adapter::OnByte(const PacedByte& byte, TimePoint now) {
  facts_.heard.try_emplace(byte.baud, kKeptLineBytes).first->second.Add(byte.byte);
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
  if (state_ == State::kReplyDue && reply_due_) return reply_at_;
  if (endless_) return refill_at_;
  if (trickle_) return trickle_at_;
  return std::nullopt;
}

void Adapter::OnTime(TimePoint now) {
  if (state_ == State::kReplyDue && reply_due_ && now >= reply_at_) {
    if (options_.pulse_check == PulseCheck::kJudged) {
      ReplyWhenPulsesSay(now);
      if (!reply_due_ || now < reply_at_) return;
    }
    state_ = State::kListening;
    reply_due_ = false;
    if (watch_.discovery) {
      watch_.answered = JudgeWatch(now);
      watch_.replied_at = now;
      if (options_.pulse_check == PulseCheck::kJudged) log_.Note("adapter: the pulses were right");
      RecordPulses(now, false);
    }
    if (options_.reply) {
      SendPnpReply(now);
    } else {
      log_.Note("adapter: keeps its Plug-and-Play reply to itself");
    }
  }
  if (endless_ && now >= refill_at_) FeedEndlessId(now);
  if (trickle_ && now >= trickle_at_) TrickleId(now);
}

void Adapter::SendPnpReply(TimePoint now) {
  // Reserved whole, so the appends never grow a one-byte vector: g++ 12's
  // -O2 bounds analysis mistakes that growth for a write past its end.
  Bytes reply;
  reply.reserve(1 + options_.revision.size() + options_.id.size() + 1 + options_.after.size());
  reply.push_back(options_.first_byte);
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
            : options_.ending == ReplyEnding::kTrickle ? ", then the ID a byte at a time"
                                                       : "");
  line_.Send(reply, now);
  if (options_.ending == ReplyEnding::kEndless && !options_.id.empty()) {
    endless_ = true;
    endless_position_ = 0;
    refill_at_ = now;
  }
  if (options_.ending == ReplyEnding::kTrickle && !options_.id.empty()) {
    trickle_ = true;
    trickle_position_ = 0;
    trickle_at_ = now + std::chrono::milliseconds(options_.trickle_ms);
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

void Adapter::TrickleId(TimePoint now) {
  line_.Send(Bytes{options_.id[trickle_position_]}, now);
  trickle_position_ = (trickle_position_ + 1) % options_.id.size();
  // From the schedule, not from now: a late wake-up does not slow the trickle.
  trickle_at_ += std::chrono::milliseconds(options_.trickle_ms);
}

void Adapter::OnSetupRequest(TimePoint now) {
  ++facts_.setup_requests;
  setup_heard_ = true;
  if (options_.ready_silent) {
    log_.Note("adapter: hears the setup request and stays silent");
    return;
  }
  Bytes ready = options_.ready;
  if (options_.ready_wrong_at > 0 && options_.ready_wrong_at <= ready.size()) ready[options_.ready_wrong_at - 1] = '?';
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
  return history_.size() >= size && std::memcmp(history_.data() + history_.size() - size, text, size) == 0;
}

}  // namespace emulator
