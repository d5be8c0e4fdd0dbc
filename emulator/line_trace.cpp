#include "emulator/line_trace.h"

#include <algorithm>

namespace emulator {
namespace {

std::string PhaseName(TracePhase phase) {
  switch (phase) {
    case TracePhase::kOpenSettings: return "the open's settings";
    case TracePhase::kPulses: return "the pulses";
    case TracePhase::kSwitch: break;
  }
  return "the switch to 115200";
}

std::string Within(TracePhase phase) { return (phase == TracePhase::kSwitch ? "at " : "in ") + PhaseName(phase); }

const char* Level(bool high) { return high ? "high" : "low"; }

// "DTR rose", "RTS fell", "RTS rose and DTR fell": what the host did.
std::string Moved(LineState before, LineState after) {
  std::string rts = std::string("RTS ") + (after.rts ? "rose" : "fell");
  std::string dtr = std::string("DTR ") + (after.dtr ? "rose" : "fell");
  if (before.rts != after.rts && before.dtr != after.dtr) return rts + " and " + dtr;
  if (before.rts != after.rts) return rts;
  if (before.dtr != after.dtr) return dtr;
  return "the lines stayed " + Describe(after);
}

// "raises DTR", "drops RTS" (or "raise DTR", "drop RTS" after "would"): what
// Windows does.
std::string Drives(LineState before, LineState after, bool would = false) {
  const char* raise = would ? "raise" : "raises";
  const char* drop = would ? "drop" : "drops";
  std::string rts = std::string(after.rts ? raise : drop) + " RTS";
  std::string dtr = std::string(after.dtr ? raise : drop) + " DTR";
  if (before.rts != after.rts && before.dtr != after.dtr) return rts + " and " + dtr;
  if (before.rts != after.rts) return rts;
  if (before.dtr != after.dtr) return dtr;
  return would ? "change neither line" : "changes neither line";
}

// "keeps it low", "keeps RTS high and DTR low": Windows' levels for the lines
// that moved.
std::string Keeps(LineState kept, LineState moved_to) {
  const bool rts = kept.rts != moved_to.rts;
  const bool dtr = kept.dtr != moved_to.dtr;
  if (rts && !dtr) return std::string("keeps it ") + Level(kept.rts);
  if (dtr && !rts) return std::string("keeps it ") + Level(kept.dtr);
  return std::string("keeps RTS ") + Level(kept.rts) + " and DTR " + Level(kept.dtr);
}

std::string At(const TraceStep& step) { return "at " + MillisecondsText(step.at); }

std::string Baud(unsigned baud) { return std::to_string(baud) + " baud"; }

std::string AsWindows(const OpenTrace& trace) {
  switch (RoadOf(trace)) {
    case TraceRoad::kDiscovery:
      return trace.switched_to_fast
                 ? "as Windows drives the tool's calls: the open's settings, the pulses and the switch to 115200"
                 : "as Windows drives the tool's calls: the open's settings and the pulses";
    case TraceRoad::kLink:
      return "as Windows drives prodtest's settings: " + Describe(trace.at_open) + " from the open to the close";
    case TraceRoad::kUndriven: break;
  }
  return "no line driven: " + Describe(trace.at_open) + " from the open to the close";
}

std::string Ending(const OpenTrace& trace) {
  switch (trace.end) {
    case TraceEnd::kClosed: return "the port closed at " + MillisecondsText(trace.ended_at);
    case TraceEnd::kVanished: return "the device vanished at " + MillisecondsText(trace.ended_at);
    case TraceEnd::kStillOpen: break;
  }
  return "the run ended with the port still open";
}

}  // namespace

TraceRoad RoadOf(const OpenTrace& trace) {
  if (trace.reached_pnp) return TraceRoad::kDiscovery;
  return trace.driven ? TraceRoad::kLink : TraceRoad::kUndriven;
}

const char* RoadName(TraceRoad road) {
  switch (road) {
    case TraceRoad::kDiscovery: return "discovery";
    case TraceRoad::kLink: return "link";
    case TraceRoad::kUndriven: break;
  }
  return "undriven";
}

const char* OutcomeName(TraceOutcome outcome) {
  switch (outcome) {
    case TraceOutcome::kAsWindows: return "as windows";
    case TraceOutcome::kDeparts: return "departs";
    case TraceOutcome::kCutShort: break;
  }
  return "cut short";
}

std::vector<WindowsStep> WindowsSteps(const OpenTrace& trace) {
  if (RoadOf(trace) != TraceRoad::kDiscovery) return {};
  // RTS before DTR in each SetCommState; the pulses' first call (RTS off)
  // finds RTS low already and is no step.
  const TracePhase settings = TracePhase::kOpenSettings;
  const TracePhase pulses = TracePhase::kPulses;
  std::vector<WindowsStep> steps = {
      {{false, true}, kPnpBaud, settings}, {{false, false}, kPnpBaud, settings}, {{false, true}, kPnpBaud, pulses},
      {{false, false}, kPnpBaud, pulses},  {{false, true}, kPnpBaud, pulses},    {{true, true}, kPnpBaud, pulses},
  };
  if (trace.switched_to_fast) steps.push_back({{true, false}, kFastBaud, TracePhase::kSwitch});
  return steps;
}

TraceVerdict CheckTrace(const OpenTrace& trace) {
  const std::vector<WindowsStep> windows = WindowsSteps(trace);
  TraceVerdict verdict;
  LineState before = trace.at_open;
  const std::size_t common = std::min(windows.size(), trace.steps.size());
  for (std::size_t i = 0; i < common; ++i) {
    const TraceStep& step = trace.steps[i];
    const WindowsStep& expected = windows[i];
    const bool lines_differ = step.state != expected.state;
    const bool rate_differs = step.baud != 0 && step.baud != expected.baud;
    if (lines_differ || rate_differs) {
      verdict.outcome = TraceOutcome::kDeparts;
      verdict.departs_at = i;
      verdict.text = Within(expected.phase) + " " + Moved(before, step.state) + " " + At(step);
      if (lines_differ) {
        verdict.text += " (" + Describe(step.state) + "); Windows " + Drives(before, expected.state) + " here (" +
                        Describe(expected.state) + ")";
      } else {
        verdict.text +=
            " at " + Baud(step.baud) + "; Windows " + Drives(before, expected.state) + " at " + Baud(expected.baud);
      }
      return verdict;
    }
    before = step.state;
  }
  if (trace.steps.size() > windows.size()) {
    const TraceStep& extra = trace.steps[windows.size()];
    verdict.outcome = TraceOutcome::kDeparts;
    verdict.departs_at = windows.size();
    std::string where = RoadOf(trace) == TraceRoad::kLink ? "in prodtest's open" : "in the open";
    if (!windows.empty()) where = "after " + PhaseName(windows.back().phase);
    verdict.text = where + " " + Moved(before, extra.state) + " " + At(extra) + "; Windows " +
                   Keeps(before, extra.state) + " until the close";
    return verdict;
  }
  if (trace.steps.size() < windows.size()) {
    const WindowsStep& next = windows[trace.steps.size()];
    const std::size_t at = trace.steps.size();
    verdict.outcome = TraceOutcome::kCutShort;
    verdict.departs_at = at;
    const bool phase_begun = at > 0 && windows[at - 1].phase == next.phase;
    verdict.text = Ending(trace) + " before " + (phase_begun ? "the end of " : "") + PhaseName(next.phase) +
                   "; Windows would next " + Drives(before, next.state, true) + " (" + Describe(next.state) + ")";
    return verdict;
  }
  verdict.text = AsWindows(trace);
  return verdict;
}

void LineTracer::OnOpened(unsigned open, TimePoint now, unsigned baud) {
  active_ = true;
  open_ = open;
  opened_ = now;
  state_ = kLinesAtOpen;
  trace_ = OpenTrace{};
  trace_.at_open = kLinesAtOpen;
  trace_.baud_at_open = baud;
  steps_.clear();
  entry_ = traces_.opens.total();
  traces_.opens.Add(LineTraceFacts{});
  Record();
}

void LineTracer::OnCall(TimePoint at, LineState state, unsigned baud) {
  if (!active_) return;
  // The open came before any call on the port; we merely heard of it later.
  if (at < opened_) opened_ = at;
  trace_.driven = true;
  NoteRate(baud);
  if (state != state_) {
    state_ = state;
    steps_.push_back({at, state, baud});
  }
  Record();
}

void LineTracer::OnLineRate(unsigned baud) {
  if (!active_) return;
  NoteRate(baud);
  Record();
}

void LineTracer::NoteRate(unsigned baud) {
  if (baud == kPnpBaud) trace_.reached_pnp = true;
  if (baud == kFastBaud && trace_.reached_pnp) trace_.switched_to_fast = true;
}

void LineTracer::OnClosed(TimePoint now) {
  if (!active_) return;
  if (trace_.end == TraceEnd::kStillOpen) {
    trace_.end = TraceEnd::kClosed;
    ended_ = now;
  }
  Record();
  active_ = false;
}

void LineTracer::OnVanished(TimePoint now) {
  if (!active_ || trace_.end != TraceEnd::kStillOpen) return;
  trace_.end = TraceEnd::kVanished;
  ended_ = now;
  Record();
}

void LineTracer::Record() {
  LineTraceFacts* kept = traces_.opens.Find(entry_);
  if (kept == nullptr) return;
  trace_.steps.clear();
  for (const Step& step : steps_) trace_.steps.push_back({step.at - opened_, step.state, step.baud});
  if (trace_.end != TraceEnd::kStillOpen) trace_.ended_at = ended_ > opened_ ? ended_ - opened_ : Duration(0);
  const TraceVerdict verdict = CheckTrace(trace_);

  LineTraceFacts& facts = *kept;
  facts.open = open_;
  facts.road = RoadName(RoadOf(trace_));
  facts.rts_at_open = trace_.at_open.rts;
  facts.dtr_at_open = trace_.at_open.dtr;
  facts.baud_at_open = trace_.baud_at_open;
  facts.steps.clear();
  for (const TraceStep& step : trace_.steps) {
    facts.steps.push_back({Milliseconds(step.at), step.state.rts, step.state.dtr, step.baud});
  }
  facts.end = trace_.end == TraceEnd::kClosed ? "closed" : trace_.end == TraceEnd::kVanished ? "vanished" : "open";
  facts.ended_ms = trace_.end == TraceEnd::kStillOpen ? 0 : Milliseconds(trace_.ended_at);
  facts.outcome = OutcomeName(verdict.outcome);
  facts.departs_at.reset();
  if (verdict.outcome != TraceOutcome::kAsWindows) facts.departs_at = verdict.departs_at;
  facts.verdict = "open " + std::to_string(open_) + ": " + verdict.text;
}

}  // namespace emulator
