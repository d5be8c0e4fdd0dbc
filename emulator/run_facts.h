// What a run showed: the port's opens and closes, the modem lines of each
// open, what the adapter heard and said, what crossed the module link and
// what the module holds. Filled in as the run goes; the report renders it.
// Counts cover the whole run; the records that grow with every run of the
// host (line traces, discoveries, line bytes, setting writes) keep only the
// latest ones, so that an emulator serving a link for weeks stays the same
// size.
#ifndef CORVANE_EMULATOR_RUN_FACTS_H
#define CORVANE_EMULATOR_RUN_FACTS_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "emulator/byte_text.h"

namespace emulator {

// How many runs of the host the records keep: a run opens the port twice
// (the tool, then prodtest), pulses once and writes three settings.
constexpr std::size_t kKeptRuns = 20;
constexpr std::size_t kKeptDiscoveries = kKeptRuns;
constexpr std::size_t kKeptTraces = 2 * kKeptRuns;
constexpr std::size_t kKeptWrites = 3 * kKeptRuns;
constexpr std::size_t kKeptLineBytes = 64 * kKeptRuns;  // per line rate

// The latest entries of a record, up to a limit (at least 1), and how many
// there were in all. Entries are numbered from 0 in the order they came.
template <typename T>
class Recent {
 public:
  explicit Recent(std::size_t limit) : limit_(limit > 0 ? limit : 1) {}

  // Adds an entry, forgetting the oldest one kept when the limit is reached;
  // returns the new entry.
  T& Add(T entry) {
    if (kept_.size() == limit_) {
      kept_.pop_front();
      ++forgotten_;
    }
    kept_.push_back(std::move(entry));
    return kept_.back();
  }
  // The entry numbered `number`; null once it is forgotten (or not yet added).
  T* Find(std::size_t number) {
    if (number < forgotten_ || number >= total()) return nullptr;
    return &kept_[number - forgotten_];
  }

  std::size_t total() const { return forgotten_ + kept_.size(); }
  std::size_t forgotten() const { return forgotten_; }
  std::size_t size() const { return kept_.size(); }
  bool empty() const { return kept_.empty(); }
  const T& operator[](std::size_t i) const { return kept_[i]; }  // among the kept ones, oldest first
  typename std::deque<T>::const_iterator begin() const { return kept_.begin(); }
  typename std::deque<T>::const_iterator end() const { return kept_.end(); }

 private:
  std::size_t limit_;
  std::size_t forgotten_ = 0;
  std::deque<T> kept_;
};

struct PortFacts {
  std::string path;  // the pseudo-terminal's slave
  std::string link;  // --link PATH, or empty
  unsigned opens = 0;
  unsigned closes = 0;
  bool open_at_end = false;
  std::string vanished_at;  // the step at which the device vanished (--vanish-at); empty: it did not
  // The slave's exclusive flag (TIOCEXCL) once the command had ended (or
  // the link was let go): set, no one but root can open the port. Unknown
  // when the line had vanished.
  std::optional<bool> exclusive_at_end;
};

// The signal sent to the command (--signal-at), once it was sent.
struct CommandSignalFacts {
  std::string step;    // as --vanish-at names it
  std::string signal;  // "SIGTERM", "SIGINT", "SIGHUP" or "SIGKILL"
};

// One discovery: an open that reached 1200 baud, with the modem lines on.
struct PulseFacts {
  struct Change {
    double ms = 0;  // since the open
    bool rts = false;
    bool dtr = false;
    bool after_reply = false;
  };
  unsigned open = 0;  // which of the port's opens, from 1
  std::vector<Change> changes;
  bool accepted = false;
  std::string verdict;  // how it was accepted, or why not
};

struct AdapterFacts {
  std::string pulse_check = "timer";  // "timer", "judged" or "any pulses"
  Recent<PulseFacts> pulses{kKeptDiscoveries};
  // By line rate: the bytes the host sent before the hand-over, the latest
  // ones of each rate.
  std::map<unsigned, Recent<std::uint8_t>> heard;
  unsigned garbage_bytes = 0;  // heard at a rate the adapter was not listening at
  unsigned pnp_replies = 0;
  unsigned setup_requests = 0;
  unsigned ready_replies = 0;
  unsigned handovers = 0;
};

// The modem lines of one open of the port, from the open to its close, and
// how they compare with what Windows drives (emulator/line_trace.h).
struct LineTraceFacts {
  struct Step {
    double ms = 0;  // since the open
    bool rts = false;
    bool dtr = false;
    unsigned baud = 0;  // the line rate in force at the call; 0 when unknown
  };
  unsigned open = 0;  // which of the port's opens, from 1
  std::string road;   // "discovery" (the tool's), "link" (prodtest's) or "undriven"
  bool rts_at_open = true;
  bool dtr_at_open = true;
  unsigned baud_at_open = 0;
  std::vector<Step> steps;                // changes only
  std::string end;                        // "open", "closed" or "vanished"
  double ended_ms = 0;                    // since the open, once closed or vanished
  std::string outcome;                    // "as windows", "departs" or "cut short"
  std::optional<std::size_t> departs_at;  // the first step unlike Windows', or missing
  std::string verdict;
};

struct LineTraces {
  bool watched = false;  // the modem lines are reported
  Recent<LineTraceFacts> opens{kKeptTraces};
};

struct SettingWrite {
  std::uint8_t tag = 0;
  std::uint16_t setting = 0;
  std::uint32_t value = 0;
  std::uint8_t status = 0;
};

struct ModuleFacts {
  unsigned frames_from_host = 0;
  unsigned frames_to_host = 0;  // resends included
  unsigned lost_from_host = 0;
  unsigned lost_to_host = 0;
  unsigned corrupted_from_host = 0;
  unsigned corrupted_to_host = 0;
  unsigned dropped_from_host = 0;     // frames refused by the packet checks or the channel rules
  unsigned garbage_bytes = 0;         // heard at a rate other than 115200
  unsigned bytes_from_host = 0;       // on the wire, after the hand-over
  unsigned ack_frames_from_host = 0;  // frames that only acknowledged
  unsigned ack_bytes_from_host = 0;   // on the wire, in those frames
  unsigned bytes_to_host = 0;         // on the wire, lost frames left out
  unsigned syncs = 0;
  unsigned confs = 0;
  unsigned resends = 0;
  unsigned abandoned = 0;                    // reliable packets given up after 8 sends
  Recent<SettingWrite> writes{kKeptWrites};  // each request once, repeats left out
  std::uint32_t uart_config = 0;
  std::uint32_t host_interface = 0;
  std::uint32_t vm_disable = 0;
};

struct RunFacts {
  std::vector<std::string> command;
  std::optional<int> command_exit;  // 128 + signal when the command was killed
  std::optional<CommandSignalFacts> command_signal;
  PortFacts port;
  LineTraces line_traces;
  AdapterFacts adapter;
  ModuleFacts module;
};

}  // namespace emulator

#endif
