#include "emulator/dialogue_log.h"

#include <cstdarg>
#include <cstdio>

namespace emulator {

void DialogueLog::Note(const char* format, ...) {
  if (!enabled_) return;
  const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
  char line[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  std::fprintf(stderr, "[%8.3f] %s\n", seconds, line);
}

}  // namespace emulator
