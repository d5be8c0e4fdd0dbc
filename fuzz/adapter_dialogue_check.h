// Runs ContactAdapter over the scripted platform with the given bytes as
// everything the adapter sends, once with the echo toward a pipe and once
// toward a terminal, and aborts unless the verdict, the printed diagnostics,
// the bytes read and written and the port's handles agree with the reference
// worked out from the reply rules (and a terminal is shown only visible text).
#ifndef CORVANE_FUZZ_ADAPTER_DIALOGUE_CHECK_H
#define CORVANE_FUZZ_ADAPTER_DIALOGUE_CHECK_H

#include <cstdint>
#include <vector>

namespace fuzzcheck {

void CheckAdapterDialogue(const std::vector<std::uint8_t>& line);

}  // namespace fuzzcheck

#endif
