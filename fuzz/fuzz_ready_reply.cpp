// The setup handshake: an accepted Plug-and-Play reply, chosen by the first
// byte, then arbitrary bytes as the rest of what the adapter sends, so that
// every run reaches the 15-byte ready reply.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/adapter_dialogue_check.h"

namespace {

const std::string kAcceptedReplies[] = {
    "(10KVT3052)",
    "(01KVT4062)",
    std::string("(\x00)KVT4052)", 11),  // mixed ID, ')' among the revision bytes
    "(10)",                             // no ID characters at all
    "(10KVT3052 extra)",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string& reply = kAcceptedReplies[data[0] % (sizeof kAcceptedReplies / sizeof kAcceptedReplies[0])];
  std::vector<std::uint8_t> line(reply.begin(), reply.end());
  line.insert(line.end(), data + 1, data + size);
  fuzzcheck::CheckAdapterDialogue(line);
  return 0;
}
