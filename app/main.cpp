#include "app/console.h"
#include "app/interrupt.h"
#include "app/run_sequence.h"

int main(int argc, char** argv) {
  // Before anything opens a descriptor: the port must not become one of
  // the standard three.
  if (!OpenStandardDescriptors()) return ExitOutputFailed;
  SetUpConsoleOutput();
  InstallInterruptionHandlers();
  int status = FinishOutput(RunHandshake(argc, argv));
  ReleaseInterruptionHandling();
  return status;
}
