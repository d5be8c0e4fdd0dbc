// The modem lines of each open of the port, from the open to its close, and
// their check against what Windows drives for the same calls.
//
// Port-monitor traces of Windows programs show SetCommState setting the
// rate, then raising or lowering RTS, then DTR (for the enable and disable
// modes), and EscapeCommFunction changing one line; a port opens with both
// lines raised. For the two programs that open the port, Windows therefore
// drives:
// - the tool (an open that reaches 1200 baud, a discovery): its open's
//   settings (RTS and DTR control disable) drop RTS, then DTR; the pulses
//   raise DTR, drop it, raise it and raise RTS; the switch to 115200 (RTS
//   control enable, DTR control disable), when the line gets there, drops
//   DTR, and the lines stay so until the close;
// - prodtest (an open that drives the lines but never reaches 1200 baud,
//   its link): RTS and DTR control enable raise both lines, as they already
//   are, so they stay raised from the open to the close;
// - an open that drives neither line keeps the levels it opened with.
// Steps are states, not calls: a call that leaves both lines as they were is
// no step. The line rate of each step is judged (Windows sets the rate
// before the lines); the times are not (the pulse judge does that for the
// pulses).
//
// CheckTrace is a pure function of one open's trace; LineTracer builds the
// traces as the port's events and the modem-line reports come in and keeps
// each with its verdict in the run's facts.
#ifndef CORVANE_EMULATOR_LINE_TRACE_H
#define CORVANE_EMULATOR_LINE_TRACE_H

#include <cstddef>
#include <string>
#include <vector>

#include "emulator/line_time.h"
#include "emulator/modem_line_state.h"
#include "emulator/run_facts.h"

namespace emulator {

struct TraceStep {
  Duration at{};      // since the open
  LineState state;    // the lines after the change
  unsigned baud = 0;  // the line rate in force at the call; 0 when unknown
};

enum class TraceEnd { kStillOpen, kClosed, kVanished };

struct OpenTrace {
  LineState at_open = kLinesAtOpen;
  unsigned baud_at_open = 0;
  bool driven = false;            // the host made a modem-line call
  bool reached_pnp = false;       // the line was set to 1200 baud
  bool switched_to_fast = false;  // and then to 115200
  std::vector<TraceStep> steps;
  TraceEnd end = TraceEnd::kStillOpen;
  Duration ended_at{};  // since the open, for kClosed and kVanished
};

enum class TraceRoad {
  kDiscovery,  // the tool's open
  kLink,       // prodtest's open
  kUndriven,   // no modem-line call at all
};

TraceRoad RoadOf(const OpenTrace& trace);
// "discovery", "link", "undriven"
const char* RoadName(TraceRoad road);

enum class TracePhase { kOpenSettings, kPulses, kSwitch };

struct WindowsStep {
  LineState state;
  unsigned baud;
  TracePhase phase;
};

// The steps Windows drives for the trace's road, as far as its line rates
// went, in order.
std::vector<WindowsStep> WindowsSteps(const OpenTrace& trace);

enum class TraceOutcome {
  kAsWindows,  // every step as Windows drives it, and no other
  kDeparts,    // a step differs from Windows' in its lines or rate, or comes where Windows drives none
  kCutShort,   // as Windows so far, but the open ended (or the run did) before Windows' last step
};

// "as windows", "departs", "cut short"
const char* OutcomeName(TraceOutcome outcome);

struct TraceVerdict {
  TraceOutcome outcome = TraceOutcome::kAsWindows;
  // For kDeparts and kCutShort: the number of the first step that differs
  // from Windows' or is missing.
  std::size_t departs_at = 0;
  std::string text;  // what happened, and where the trace departs
};

TraceVerdict CheckTrace(const OpenTrace& trace);

// Builds the trace of each open of the port (one holder at a time) and keeps
// it, with its verdict, in `traces`; the entry is brought up to date at every
// event, so a report written at any time shows the open in progress.
class LineTracer {
 public:
  explicit LineTracer(LineTraces& traces) : traces_(traces) {}

  // open: the port's open count; baud: the line rate when the open was seen.
  void OnOpened(unsigned open, TimePoint now, unsigned baud);
  // A modem-line call of the holder, at the time it was made; baud 0 when
  // the rate in force is unknown.
  void OnCall(TimePoint at, LineState state, unsigned baud);
  void OnLineRate(unsigned baud);
  void OnClosed(TimePoint now);
  void OnVanished(TimePoint now);

 private:
  struct Step {
    TimePoint at;
    LineState state;
    unsigned baud;
  };

  void NoteRate(unsigned baud);
  void Record();

  LineTraces& traces_;
  bool active_ = false;
  std::size_t entry_ = 0;  // its number in traces_.opens
  unsigned open_ = 0;
  TimePoint opened_{};
  LineState state_ = kLinesAtOpen;
  OpenTrace trace_;  // its steps and end time are filled in from the fields below by Record
  std::vector<Step> steps_;
  TimePoint ended_{};
};

}  // namespace emulator

#endif
