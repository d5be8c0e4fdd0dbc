// When the device vanishes. The device reports each point of the dialogue
// here; at the chosen step the plan either says "gone" at once or first lets
// part of a reply out and falls silent for a while, so that the host is
// caught waiting in the middle of it. Once gone (or silent) nothing more
// reaches the host, unless the device carries on after the step (a plan that
// times something other than a vanishing, such as a signal to the host).
#ifndef CORVANE_EMULATOR_VANISH_PLAN_H
#define CORVANE_EMULATOR_VANISH_PLAN_H

#include <optional>

#include "emulator/byte_text.h"
#include "emulator/line_time.h"
#include "emulator/vanish_step.h"

namespace emulator {

class VanishPlan {
 public:
  explicit VanishPlan(VanishStep step) : step_(step) {}

  VanishStep step() const { return step_; }
  // The master must close now (or has closed).
  bool gone() const { return state_ == State::kGone; }
  // After gone(): the step is over and the device goes on as if no step had
  // been chosen (what was withheld stays withheld). Nothing once it has.
  void CarryOn() {
    if (state_ == State::kGone) state_ = State::kOver;
  }

  // What of the bytes handed to the line may still go: all of them, the
  // first part of a reply, or nothing.
  Bytes Pass(const Bytes& bytes, bool from_adapter, unsigned baud, TimePoint now);

  // The line's rate as read after a settings change, with the line still the
  // adapter's or already the module's.
  void OnLineRate(unsigned baud, bool module_has_line, TimePoint now);
  void OnHandOver();
  // The module's link messages and each new setting write request; true
  // when the device vanishes on it, and the module must not act on it.
  bool OnSync();
  bool OnConf();
  bool OnWriteRequest();

  std::optional<TimePoint> NextDeadline() const;
  void OnTime(TimePoint now);

 private:
  enum class State {
    kWaiting,  // the step has not come yet
    kSilent,   // the step came; nothing more goes out until vanish_at_
    kGone,
    kOver,  // gone, and the device carries on (CarryOn)
  };

  void FallSilent(TimePoint vanish_at);
  bool VanishIf(bool at_step);

  VanishStep step_;
  State state_ = State::kWaiting;
  TimePoint vanish_at_{};
  unsigned writes_ = 0;
};

}  // namespace emulator

#endif
