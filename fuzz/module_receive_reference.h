// Which of the host's write requests the module must apply, worked out from
// the link's rules over everything the host sent, without the module's code:
// SYNC starts the link afresh, nothing but link messages counts until a CONF
// after it, and a reliable packet is new only with the seq expected next.
// A byte at another rate breaks the frame under way, so the host's bytes come
// as runs at 115200 with such breaks between them.
#ifndef CORVANE_FUZZ_MODULE_RECEIVE_REFERENCE_H
#define CORVANE_FUZZ_MODULE_RECEIVE_REFERENCE_H

#include <cstdint>
#include <map>
#include <set>
#include <vector>

namespace fuzzref {

struct AppliedWrite {
  std::uint8_t tag;
  std::uint16_t setting;  // 0 for a payload that is no write request
  std::uint32_t value;
  std::uint8_t status;  // 0 stored, 1 unknown setting or op, 2 refused
  bool operator==(const AppliedWrite& other) const {
    return tag == other.tag && setting == other.setting && value == other.value && status == other.status;
  }
};

struct ModuleOutcome {
  std::vector<AppliedWrite> writes;               // each new request once, in order
  std::map<std::uint16_t, std::uint32_t> values;  // the settings at the end
};

// `values` holds the three settings at the start; `refused` the ones the
// module refuses.
ModuleOutcome ExpectedModuleOutcome(const std::vector<std::vector<std::uint8_t>>& fastRuns,
                                    std::map<std::uint16_t, std::uint32_t> values,
                                    const std::set<std::uint16_t>& refused);

}  // namespace fuzzref

#endif
