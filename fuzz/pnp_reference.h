// What the adapter dialogue must do with a given line, worked out from the
// rules of the Plug-and-Play reply and the ready reply alone, without the
// dialogue's code: the verdict, the diagnostics printed and how many bytes are
// read. A line that has run out is silent, and a silent line reads as 0x00.
// Reads take no time on the scripted line, so the reply's 3 s bound is never
// reached here; `onTerminal` is the echo toward a terminal, where a byte
// outside 0x20-0x7E shows as \xNN.
#ifndef CORVANE_FUZZ_PNP_REFERENCE_H
#define CORVANE_FUZZ_PNP_REFERENCE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzzref {

struct DialogueVerdict {
  int result = 0;             // what ContactAdapter returns
  std::string diagnostics;    // everything it prints, echoes included
  bool setupSent = false;     // "KESTRAVIN SETUP" went out
  std::size_t bytesRead = 0;  // bytes taken from the line, silence included
};

DialogueVerdict ExpectedDialogue(const std::vector<std::uint8_t>& line, bool onTerminal);

}  // namespace fuzzref

#endif
