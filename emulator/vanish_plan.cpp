#include "emulator/vanish_plan.h"

#include <algorithm>
#include <chrono>

namespace emulator {
namespace {

using std::chrono::milliseconds;

// The host is in its last pulse steps by then; the reply is not due yet.
constexpr milliseconds kPulsesWait{400};
// The reply is due 50 ms into the host's last 200 ms pulse step, which it
// sleeps through: by then it has been reading for about 250 ms, and has more
// than a second left of its read time-out.
constexpr milliseconds kPnpWaitWait{400};
// The opening parenthesis, two revision bytes and three ID characters: the
// host is past the framing and in the middle of comparing the ID.
constexpr std::size_t kPnpReplyPart = 6;
// Long after the part has landed, long before the host's 1.5 s read limit.
constexpr milliseconds kPnpReplyWait{500};
// "KESTRAVIN": the host has compared nine bytes and waits for the tenth.
constexpr std::size_t kReadyReplyPart = 9;
constexpr milliseconds kReadyReplyWait{200};
// Inside the host's 200 ms pause after the switch, clear of both its ends.
constexpr milliseconds kFastLineWait{100};

}  // namespace

Bytes VanishPlan::Pass(const Bytes& bytes, bool from_adapter, unsigned baud, TimePoint now) {
  if (state_ == State::kOver) return bytes;
  if (state_ != State::kWaiting) return {};
  if (!from_adapter) return bytes;
  // Any bytes at 1200 baud are the reply, on time.
  if (step_ == VanishStep::kPnpWait && baud == kPnpBaud) {
    FallSilent(now + kPnpWaitWait);
    return {};
  }
  if (step_ == VanishStep::kPnpReply && baud == kPnpBaud) {
    FallSilent(now + kPnpReplyWait);
    return Bytes(bytes.begin(), bytes.begin() + std::min(bytes.size(), kPnpReplyPart));
  }
  if (baud != kFastBaud) return bytes;
  // At 115200 the adapter says one thing only: the ready reply.
  if (step_ == VanishStep::kSetupRequest) {
    state_ = State::kGone;
    return {};
  }
  if (step_ == VanishStep::kReadyReply) {
    FallSilent(now + kReadyReplyWait);
    return Bytes(bytes.begin(), bytes.begin() + std::min(bytes.size(), kReadyReplyPart));
  }
  return bytes;
}

void VanishPlan::OnLineRate(unsigned baud, bool module_has_line, TimePoint now) {
  if (state_ != State::kWaiting || module_has_line) return;
  if (step_ == VanishStep::kPulses && baud == kPnpBaud) FallSilent(now + kPulsesWait);
  if (step_ == VanishStep::kFastLine && baud == kFastBaud) FallSilent(now + kFastLineWait);
}

void VanishPlan::OnHandOver() { VanishIf(step_ == VanishStep::kHandOver); }

bool VanishPlan::OnSync() { return VanishIf(step_ == VanishStep::kSync); }

bool VanishPlan::OnConf() { return VanishIf(step_ == VanishStep::kConf); }

bool VanishPlan::OnWriteRequest() {
  if (state_ == State::kOver) return false;
  if (state_ != State::kWaiting) return true;
  ++writes_;
  return VanishIf((step_ == VanishStep::kWrite1 && writes_ == 1) || (step_ == VanishStep::kWrite2 && writes_ == 2) ||
                  (step_ == VanishStep::kWrite3 && writes_ == 3));
}

std::optional<TimePoint> VanishPlan::NextDeadline() const {
  if (state_ != State::kSilent) return std::nullopt;
  return vanish_at_;
}

void VanishPlan::OnTime(TimePoint now) {
  if (state_ == State::kSilent && now >= vanish_at_) state_ = State::kGone;
}

void VanishPlan::FallSilent(TimePoint vanish_at) {
  state_ = State::kSilent;
  vanish_at_ = vanish_at;
}

bool VanishPlan::VanishIf(bool at_step) {
  if (state_ == State::kWaiting && at_step) state_ = State::kGone;
  return state_ != State::kWaiting && state_ != State::kOver;
}

}  // namespace emulator
