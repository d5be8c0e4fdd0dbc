// The signals the emulator waits for (a child's end, an interrupt, a
// termination) blocked and delivered through a descriptor, so that the one
// loop hears them among its other events. The mask in force before is kept
// for the command, which must not inherit the blocking, and so are the
// signals whose dispositions the emulator changed from their defaults.
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

  // False, with *error set, when the signals cannot be watched.
  bool Start(std::string* error);
  int fd() const { return fd_; }
  const sigset_t& previous_mask() const { return previous_; }
  // The signals that were at their defaults before Start changed them.
  const sigset_t& changed_defaults() const { return changed_defaults_; }

 private:
  int fd_ = -1;
  sigset_t previous_{};
  sigset_t changed_defaults_{};
};

}  // namespace emulator

#endif
