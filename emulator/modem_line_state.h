// The two modem lines that the host drives, as the adapter sees them.
#ifndef CORVANE_EMULATOR_MODEM_LINE_STATE_H
#define CORVANE_EMULATOR_MODEM_LINE_STATE_H

#include <string>

namespace emulator {

struct LineState {
  bool rts = true;
  bool dtr = true;
};

inline bool operator==(LineState a, LineState b) { return a.rts == b.rts && a.dtr == b.dtr; }
inline bool operator!=(LineState a, LineState b) { return !(a == b); }

// A line opened on Linux has both raised by the driver.
constexpr LineState kLinesAtOpen{true, true};

// "RTS low, DTR high"
inline std::string Describe(LineState state) {
  return std::string("RTS ") + (state.rts ? "high" : "low") + ", DTR " + (state.dtr ? "high" : "low");
}

}  // namespace emulator

#endif
