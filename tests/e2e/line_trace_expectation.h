// The modem lines an end-to-end run must show, open by open, in the
// emulator's report ("line_traces"): written out here from what Windows
// drives for the tool's calls (port-monitor traces of Windows programs:
// SetCommState sets the rate, then RTS, then DTR; EscapeCommFunction moves
// one line; a port opens with both lines raised), not taken from the
// emulator's own check, which the rows hold to the same result.
//
// How far a road gets decides what it shows:
// - no open: the command line alone decides;
// - an open that drives no line: the port is held by another program;
// - the tool's open with its settings and the pulses: the discovery failed;
// - and the switch to 115200: the setup handshake failed;
// - and then prodtest's open of its link: the link was tried.
#ifndef CORVANE_TESTS_E2E_LINE_TRACE_EXPECTATION_H
#define CORVANE_TESTS_E2E_LINE_TRACE_EXPECTATION_H

#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"
#include "tests/e2e/tool_under_test.h"

namespace e2e {

enum class LineReach {
  kNoOpen,
  kUndrivenOpen,
  kPulses,
  kSwitch,
  kLink,
};

struct LineLevels {
  bool rts;
  bool dtr;
  unsigned baud;  // the line rate in force
};

struct ExpectedOpen {
  std::string road;  // the report's name for it: "discovery", "link", "undriven"
  std::vector<LineLevels> steps;
  bool as_windows;  // the emulator's verdict: the trace is what Windows drives
};

// The opens a road shows with this build of the tool, in order.
std::vector<ExpectedOpen> ExpectedOpens(LineReach reach, const ToolUnderTest& tool);

// Fails the test unless the report's line traces are exactly the expected
// opens: each open's road, its changes in order with their line rates, its
// close, and the verdict; the pulses' times within generous bounds.
void ExpectLineTraces(const Json& report, LineReach reach, const ToolUnderTest& tool);

}  // namespace e2e

#endif
