// The adapter dialogue fed arbitrary bytes from the adapter: whatever arrives,
// the verdict and the diagnostics are the ones the reply rules give, and the
// port is left open only after success.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/adapter_dialogue_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzcheck::CheckAdapterDialogue(std::vector<std::uint8_t>(data, data + size));
  return 0;
}
