// The dialogue as it goes, on standard error, each line stamped with the
// seconds since the emulator started. Silent unless --verbose.
#ifndef CORVANE_EMULATOR_DIALOGUE_LOG_H
#define CORVANE_EMULATOR_DIALOGUE_LOG_H

#include "emulator/line_time.h"

namespace emulator {

class DialogueLog {
 public:
  DialogueLog(bool enabled, TimePoint start) : enabled_(enabled), start_(start) {}
  bool enabled() const { return enabled_; }
  void Note(const char* format, ...) __attribute__((format(printf, 2, 3)));

 private:
  bool enabled_;
  TimePoint start_;
};

}  // namespace emulator

#endif
