// Interrupts the process with SIGALRM every few milliseconds while it lives,
// so that every blocking call under test sees EINTR again and again.
#ifndef CORVANE_TESTS_PLATFORM_SIGNAL_STORM_H
#define CORVANE_TESTS_PLATFORM_SIGNAL_STORM_H

#include <csignal>

class SignalStorm {
 public:
  explicit SignalStorm(int period_ms);
  ~SignalStorm();
  SignalStorm(const SignalStorm&) = delete;
  SignalStorm& operator=(const SignalStorm&) = delete;

  // How many signals arrived so far.
  static int delivered();

 private:
  struct sigaction old_action_ {};
};

#endif
