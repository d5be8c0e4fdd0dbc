#include "fuzz/pnp_reference.h"

#include <cstdio>
#include <cstring>

namespace fuzzref {
namespace {

const char* const kIds[] = {"KVT3052", "KVT4062"};
const std::size_t kComparedLength = 7;
const char kReady[] = "KESTRAVIN READY";
const std::size_t kReadyLength = sizeof(kReady) - 1;

// The tool's own bound on a reply that never closes: 256 bytes, both
// parentheses included, so the closing one may stand at offset 255 at most.
const std::size_t kLastClosingOffset = 255;
// "(" and the two revision bytes come before the first ID character.
const std::size_t kFirstIdOffset = 3;

std::uint8_t At(const std::vector<std::uint8_t>& line, std::size_t offset) {
  return offset < line.size() ? line[offset] : 0x00;
}

bool EitherIdHas(std::size_t position, std::uint8_t c) {
  for (const char* id : kIds)
    if ((std::uint8_t)id[position] == c) return true;
  return false;
}

// Why an ID character ends the reply, if it does.
enum class IdCharacter { kTaken, kClosing, kWrong, kSilence };

IdCharacter Judge(std::size_t position, std::uint8_t c) {
  if (c == ')') return IdCharacter::kClosing;
  if (position < kComparedLength) return EitherIdHas(position, c) ? IdCharacter::kTaken : IdCharacter::kWrong;
  // Past the compared characters anything is taken, except the 0x00 of a
  // line gone silent, which would otherwise never let the reply end.
  return c == 0x00 ? IdCharacter::kSilence : IdCharacter::kTaken;
}

void Echo(std::string* out, std::uint8_t c, bool onTerminal) {
  if (!onTerminal || (c >= 0x20 && c <= 0x7E)) {
    *out += (char)c;
    return;
  }
  char shown[8];
  std::snprintf(shown, sizeof shown, "\\x%02x", c);
  *out += shown;
}

}  // namespace

DialogueVerdict ExpectedDialogue(const std::vector<std::uint8_t>& line, bool onTerminal) {
  DialogueVerdict verdict;
  verdict.diagnostics = "Waiting for PNP Reply\n";
  verdict.bytesRead = 1;
  if (At(line, 0) != '(') {
    verdict.diagnostics += "Do PNP failed\n";
    return verdict;
  }

  // The revision bytes are taken unseen, whatever they are.
  std::size_t offset = kFirstIdOffset;
  bool closed = false;
  for (; offset <= kLastClosingOffset; ++offset) {
    const std::uint8_t c = At(line, offset);
    const IdCharacter judged = Judge(offset - kFirstIdOffset, c);
    if (judged == IdCharacter::kClosing) {
      closed = true;
      break;
    }
    if (judged == IdCharacter::kSilence) break;
    Echo(&verdict.diagnostics, c, onTerminal);
    if (judged == IdCharacter::kWrong) break;
  }
  // The byte that ended the reply was read too; at the bound nothing more.
  verdict.bytesRead = offset <= kLastClosingOffset ? offset + 1 : offset;
  if (!closed) {
    verdict.diagnostics += "Do PNP failed\n";
    return verdict;
  }

  // Whatever follows the closing parenthesis is the start of the ready reply.
  verdict.setupSent = true;
  verdict.diagnostics += "\n";
  const std::size_t readyStart = offset + 1;
  for (std::size_t i = 0; i < kReadyLength; ++i) {
    const std::uint8_t c = At(line, readyStart + i);
    Echo(&verdict.diagnostics, c, onTerminal);
    verdict.bytesRead = readyStart + i + 1;
    if (c != (std::uint8_t)kReady[i]) {
      verdict.diagnostics += "PNP HS Failed\n";
      return verdict;
    }
  }
  verdict.diagnostics += "\n";
  verdict.result = 1;
  return verdict;
}

}  // namespace fuzzref
