#include "app/console.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/run_sequence.h"
#include "serial/diagnostics.h"

int FinishOutput(int status) {
  errno = 0;
  if (std::fflush(stdout) != 0 && OutputError == 0) OutputError = errno != 0 ? errno : EIO;
  if (OutputError == 0) return status;
  std::fprintf(stderr, "failed to write standard output: %s\n", std::strerror(OutputError));
  return status == ExitSettingsWritten ? ExitOutputFailed : status;
}
