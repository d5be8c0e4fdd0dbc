#include "emulator/byte_text.h"

#include <cstdio>

namespace emulator {
namespace {

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool UnescapeText(const std::string& text, Bytes* out, std::string* error) {
  out->clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\\') {
      out->push_back(static_cast<std::uint8_t>(c));
      continue;
    }
    if (i + 1 >= text.size()) {
      *error = "a lone backslash ends \"" + text + "\"";
      return false;
    }
    const char kind = text[++i];
    switch (kind) {
      case '\\': out->push_back('\\'); break;
      case '0': out->push_back(0x00); break;
      case 'n': out->push_back('\n'); break;
      case 'r': out->push_back('\r'); break;
      case 't': out->push_back('\t'); break;
      case 'x': {
        const int high = i + 1 < text.size() ? HexDigitValue(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? HexDigitValue(text[i + 2]) : -1;
        if (high < 0 || low < 0) {
          *error = "\\x needs two hex digits in \"" + text + "\"";
          return false;
        }
        out->push_back(static_cast<std::uint8_t>(high * 16 + low));
        i += 2;
        break;
      }
      default: *error = std::string("unknown escape \\") + kind + " in \"" + text + "\""; return false;
    }
  }
  return true;
}

std::string EscapeBytes(const Bytes& bytes) {
  std::string text;
  for (const std::uint8_t b : bytes) {
    if (b == '\\') {
      text += "\\\\";
    } else if (b >= 0x20 && b < 0x7F) {
      text += static_cast<char>(b);
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", b);
      text += escaped;
    }
  }
  return text;
}

std::string HexBytes(const Bytes& bytes) {
  std::string text;
  for (const std::uint8_t b : bytes) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", b);
    text += digits;
  }
  return text;
}

}  // namespace emulator
