#include "emulator/line_time.h"

#include <cstdio>

namespace emulator {

double Milliseconds(Duration d) {
  return static_cast<double>(std::chrono::duration_cast<std::chrono::microseconds>(d).count()) / 1000.0;
}

std::string MillisecondsText(Duration d) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f ms", Milliseconds(d));
  return text;
}

}  // namespace emulator
