// The signals the emulator waits for (a child's end, an interrupt, a
// termination) blocked and delivered through a descriptor, so that the one
// loop hears them among its other events. The mask in force before is kept
// for the command, which must not inherit the blocking.
#ifndef CORVANE_EMULATOR_SIGNAL_WATCH_H
#define CORVANE_EMULATOR_SIGNAL_WATCH_H

#include <signal.h>

#include <string>

namespace emulator {

class SignalWatch {
 public:
  SignalWatch() = default;
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;
  ~SignalWatch();

  bool Start(std::string* error);
  int fd() const { return fd_; }
  const sigset_t& previous_mask() const { return previous_; }

 private:
  int fd_ = -1;
  sigset_t previous_{};
};

}  // namespace emulator

#endif
