#include <cstdio>

#include <io.h>

#include "app/console.h"
#include "serial/diagnostics.h"

int OpenStandardDescriptors(void) { return 1; }

void SetUpConsoleOutput(void) {
  // The C library takes _IOLBF as full buffering, so a pipe or a file is
  // written unbuffered too: each print at once, the same bytes.
  std::setvbuf(stdout, NULL, _IONBF, 0);
  EchoVisibleOnly = _isatty(_fileno(stdout)) ? 1 : 0;
}
