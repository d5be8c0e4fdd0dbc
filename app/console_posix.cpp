#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "app/console.h"
#include "serial/diagnostics.h"

int OpenStandardDescriptors(void) {
  // In order: open() takes the lowest free number, which is then the
  // closed one itself.
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened < 0) {
      int error = errno;
      if (fcntl(STDERR_FILENO, F_GETFD) != -1)
        std::fprintf(stderr, "failed to open /dev/null: %s\n", std::strerror(error));
      return 0;
    }
    if (opened != fd) {
      // Only if a lower number was taken meanwhile; keep the promise.
      int moved = dup2(opened, fd);
      close(opened);
      if (moved < 0) return 0;
    }
    if (fd == STDOUT_FILENO && OutputError == 0) OutputError = EBADF;
  }
  return 1;
}

void SetUpConsoleOutput(void) {
  std::signal(SIGPIPE, SIG_IGN);
  if (isatty(STDOUT_FILENO)) {
    std::setvbuf(stdout, NULL, _IONBF, 0);
    EchoVisibleOnly = 1;
  } else {
    std::setvbuf(stdout, NULL, _IOLBF, BUFSIZ);
    EchoVisibleOnly = 0;
  }
}
