// The Corvane adapter as the host sees it across the line. It cannot see the
// modem-line pulses on a pseudo-terminal, so it takes an open of the port
// followed by the line at 1200 baud as their start and answers with its
// Plug-and-Play reply once the pulses would be in their last step. At 115200
// it answers the setup request with the ready reply, and the hand-over
// command passes the line to the radio module for good (until an open sets
// 1200 baud again and the dialogue starts afresh).
#ifndef CORVANE_EMULATOR_ADAPTER_H
#define CORVANE_EMULATOR_ADAPTER_H

#include <optional>

#include "emulator/dialogue_log.h"
#include "emulator/line_output.h"
#include "emulator/options.h"
#include "emulator/paced_queue.h"
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
  bool handed_over() const { return state_ == State::kModule; }

  std::optional<TimePoint> NextDeadline() const;
  void OnTime(TimePoint now);

 private:
  enum class State {
    kIdle,       // waiting for an open and the line at 1200 baud
    kReplyDue,   // the pulses are under way; the reply leaves at reply_at_
    kListening,  // reply sent (or withheld); listening for the setup request at 115200
    kModule,     // the line belongs to the module
  };

  void SendPnpReply(TimePoint now);
  void FeedEndlessId(TimePoint now);
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
  bool endless_ = false;
  std::size_t endless_position_ = 0;
  TimePoint refill_at_{};
  bool setup_heard_ = false;
  Bytes history_;  // the latest bytes heard at 115200, enough for the setup request
};

}  // namespace emulator

#endif
