#include "tests/platform/signal_storm.h"

#include <sys/time.h>
#include <atomic>

namespace {

std::atomic<int> signals_seen{0};

void count_signal(int) { signals_seen.fetch_add(1, std::memory_order_relaxed); }

void set_timer(int period_ms) {
  itimerval timer{};
  timer.it_interval.tv_sec = period_ms / 1000;
  timer.it_interval.tv_usec = (period_ms % 1000) * 1000;
  timer.it_value = timer.it_interval;
  setitimer(ITIMER_REAL, &timer, nullptr);
}

}  // namespace

SignalStorm::SignalStorm(int period_ms) {
  signals_seen = 0;
  struct sigaction action {};
  action.sa_handler = count_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: interrupted calls fail with EINTR
  sigaction(SIGALRM, &action, &old_action_);
  set_timer(period_ms);
}

SignalStorm::~SignalStorm() {
  set_timer(0);
  sigaction(SIGALRM, &old_action_, nullptr);
}

int SignalStorm::delivered() { return signals_seen.load(std::memory_order_relaxed); }
