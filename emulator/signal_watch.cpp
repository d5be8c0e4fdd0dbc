#include "emulator/signal_watch.h"

#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace emulator {

SignalWatch::~SignalWatch() {
  if (fd_ >= 0) close(fd_);
}

bool SignalWatch::Start(std::string* error) {
  sigset_t watched;
  sigemptyset(&watched);
  sigaddset(&watched, SIGCHLD);
  sigaddset(&watched, SIGINT);
  sigaddset(&watched, SIGTERM);
  sigaddset(&watched, SIGHUP);
  if (sigprocmask(SIG_BLOCK, &watched, &previous_) != 0) {
    *error = std::string("sigprocmask: ") + std::strerror(errno);
    return false;
  }
  fd_ = signalfd(-1, &watched, SFD_CLOEXEC | SFD_NONBLOCK);
  if (fd_ < 0) {
    *error = std::string("signalfd: ") + std::strerror(errno);
    return false;
  }
  // A host that vanishes mid-write must not end the emulator.
  sigemptyset(&changed_defaults_);
  if (signal(SIGPIPE, SIG_IGN) == SIG_DFL) sigaddset(&changed_defaults_, SIGPIPE);
  return true;
}

}  // namespace emulator
