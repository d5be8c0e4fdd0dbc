// Bytes as people type and read them: option values with C-style escapes
// (\xNN, \0, \n, \r, \t, \\) turned into bytes, and bytes turned back into
// escaped text or hex for the dialogue log and the report.
#ifndef CORVANE_EMULATOR_BYTE_TEXT_H
#define CORVANE_EMULATOR_BYTE_TEXT_H

#include <cstdint>
#include <string>
#include <vector>

namespace emulator {

using Bytes = std::vector<std::uint8_t>;

// False, with *error set, on a malformed escape.
bool UnescapeText(const std::string& text, Bytes* out, std::string* error);

// Printable ASCII as itself (backslash doubled), everything else as \xNN.
std::string EscapeBytes(const Bytes& bytes);

// Two lower-case hex digits per byte, no separators.
std::string HexBytes(const Bytes& bytes);

}  // namespace emulator

#endif
