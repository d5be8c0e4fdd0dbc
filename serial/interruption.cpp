#include "serial/interruption.h"

// A handler may only touch lock-free atomics (or volatile sig_atomic_t), and
// on Windows the console handler runs on a thread of its own.
static_assert(std::atomic<int>::is_always_lock_free, "the interruption record must be lock-free");

std::atomic<int> InterruptedBy(0);

void RecordInterruption(int signalNumber) {
  int none = 0;
  InterruptedBy.compare_exchange_strong(none, signalNumber);
}

int RunInterrupted(void) { return InterruptedBy.load(); }
