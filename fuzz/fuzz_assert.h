// A failed property in a fuzz target: say which and where, then abort so that
// libFuzzer keeps the input as a crash. Unlike assert it stays on in every
// build type.
#ifndef CORVANE_FUZZ_FUZZ_ASSERT_H
#define CORVANE_FUZZ_FUZZ_ASSERT_H

#include <cstdio>
#include <cstdlib>

#define FUZZ_ASSERT(condition, what)                                                                   \
  do {                                                                                                 \
    if (!(condition)) {                                                                                \
      std::fprintf(stderr, "%s:%d: property failed: %s (%s)\n", __FILE__, __LINE__, what, #condition); \
      std::abort();                                                                                    \
    }                                                                                                  \
  } while (0)

#endif
