// The Corvane adapter as the host sees it across the line. With the modem
// lines reported (the library in emulator/preload gives a pseudo-terminal
// emulated ones), it answers with its Plug-and-Play reply only when an open
// that reached 1200 baud is followed by a right pulse sequence, and starts
// the reply within the sequence's last step (emulator/pulse_judge.h). Without
// them it takes the open and the line at 1200 baud as the pulses' start and
// answers once they would be in their last step. At 115200
// it answers the setup request with the ready reply, and the hand-over
// command passes the line to the radio module for good (until an open sets
// 1200 baud again and the dialogue starts afresh).
#ifndef CORVANE_EMULATOR_ADAPTER_H
#define CORVANE_EMULATOR_ADAPTER_H

#include <optional>
#include <utility>
#include <vector>

#include "emulator/dialogue_log.h"
#include "emulator/line_output.h"
#include "emulator/modem_line_state.h"
#include "emulator/options.h"
#include "emulator/paced_queue.h"
#include "emulator/pulse_judge.h"
#include "emulator/run_facts.h"

namespace emulator {

class Adapter {
 public:
  Adapter(const AdapterOptions& options, LineOutput& line, DialogueLog& log, AdapterFacts& facts);

  void OnPortOpened();
  void OnPortClosed();
  // Called whenever the line's settings may have changed, also when the rate
  // stays the same.
  void OnLineRate(unsigned baud, TimePoint now);
  // A byte from the host, while the line is still the adapter's.
  void OnByte(const PacedByte& byte, TimePoint now);
  // The modem lines as the host set them; at is the time of its call. A
  // report that changes nothing is no step.
  void OnModemLines(LineState state, TimePoint at);
  bool handed_over() const { return state_ == State::kModule; }

  std::optional<TimePoint> NextDeadline() const;
  void OnTime(TimePoint now);

 private:
  enum class State {
    kIdle,       // waiting for an open and the line at 1200 baud
    kReplyDue,   // the pulses are under way; the reply leaves at reply_at_ once it is due
    kListening,  // reply sent (or withheld); listening for the setup request at 115200
    kModule,     // the line belongs to the module
  };

  // The lines since the latest open, while the port is held.
  struct PulseWatch {
    bool active = false;
    TimePoint opened{};
    LineState state = kLinesAtOpen;
    std::vector<std::pair<TimePoint, LineState>> changes;
    std::optional<std::size_t> discovery;  // its number in facts_.pulses, once the line reached 1200 baud
    std::optional<PulseVerdict> answered;  // the verdict when the reply left
    TimePoint replied_at{};                // when it left
  };

  void ReplyWhenPulsesSay(TimePoint observed_until);
  PulseVerdict JudgeWatch(TimePoint observed_until) const;
  void RecordPulses(TimePoint observed_until, bool closed);
  void SendPnpReply(TimePoint now);
  void FeedEndlessId(TimePoint now);
  void TrickleId(TimePoint now);
  void OnSetupRequest(TimePoint now);
  void OnHandOver();
  bool HistoryEndsWith(const char* text, std::size_t size) const;

  const AdapterOptions& options_;
  LineOutput& line_;
  DialogueLog& log_;
  AdapterFacts& facts_;
  State state_ = State::kIdle;
  bool armed_ = false;  // an open happened and has not yet been seen at 1200 baud
  TimePoint reply_at_{};
  bool reply_due_ = false;  // reply_at_ holds the time of the reply
  unsigned opens_ = 0;
  PulseWatch watch_;
  bool endless_ = false;
  std::size_t endless_position_ = 0;
  TimePoint refill_at_{};
  bool trickle_ = false;
  std::size_t trickle_position_ = 0;
  TimePoint trickle_at_{};
  bool setup_heard_ = false;
  Bytes history_;  // the latest bytes heard at 115200, enough for the setup request
};

}  // namespace emulator

#endif
