#include "tests/e2e/json_value.h"

#include <cstdlib>

namespace e2e {
namespace {

class Parser {
 public:
  explicit Parser(const std::string& text) : text_(text) {}

  bool ParseDocument(JsonValue* out, std::string* error) {
    if (!ParseValue(out)) {
      *error = "malformed JSON at offset " + std::to_string(at_);
      return false;
    }
    SkipSpace();
    if (at_ != text_.size()) {
      *error = "trailing text at offset " + std::to_string(at_);
      return false;
    }
    return true;
  }

 private:
  void SkipSpace() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\n' || text_[at_] == '\r' || text_[at_] == '\t')) {
      ++at_;
    }
  }

  bool Take(char c) {
    SkipSpace();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }

  bool TakeWord(const char* word) {
    const std::string w(word);
    if (text_.compare(at_, w.size(), w) != 0) return false;
    at_ += w.size();
    return true;
  }

  bool ParseValue(JsonValue* out) {
    SkipSpace();
    if (at_ >= text_.size()) return false;
    const char c = text_[at_];
    if (c == '{') return ParseObject(out);
    if (c == '[') return ParseArray(out);
    if (c == '"') {
      out->kind = JsonValue::Kind::kString;
      return ParseString(&out->text);
    }
    if (TakeWord("true")) {
      out->kind = JsonValue::Kind::kBool;
      out->boolean = true;
      return true;
    }
    if (TakeWord("false")) {
      out->kind = JsonValue::Kind::kBool;
      return true;
    }
    if (TakeWord("null")) return true;
    return ParseNumber(out);
  }

  bool ParseObject(JsonValue* out) {
    out->kind = JsonValue::Kind::kObject;
    ++at_;
    if (Take('}')) return true;
    do {
      SkipSpace();
      std::string key;
      if (!ParseString(&key) || !Take(':')) return false;
      if (!ParseValue(&out->members[key])) return false;
    } while (Take(','));
    return Take('}');
  }

  bool ParseArray(JsonValue* out) {
    out->kind = JsonValue::Kind::kArray;
    ++at_;
    if (Take(']')) return true;
    do {
      out->items.emplace_back();
      if (!ParseValue(&out->items.back())) return false;
    } while (Take(','));
    return Take(']');
  }

  bool ParseString(std::string* out) {
    if (at_ >= text_.size() || text_[at_] != '"') return false;
    ++at_;
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '"') return true;
      if (c != '\\') {
        *out += c;
        continue;
      }
      if (at_ >= text_.size()) return false;
      const char kind = text_[at_++];
      switch (kind) {
        case '"': case '\\': case '/': *out += kind; break;
        case 'n': *out += '\n'; break;
        case 'r': *out += '\r'; break;
        case 't': *out += '\t'; break;
        case 'b': *out += '\b'; break;
        case 'f': *out += '\f'; break;
        case 'u': {
          if (at_ + 4 > text_.size()) return false;
          const long code = std::strtol(text_.substr(at_, 4).c_str(), nullptr, 16);
          if (code > 0xFF) return false;
          *out += static_cast<char>(code);
          at_ += 4;
          break;
        }
        default: return false;
      }
    }
    return false;
  }

  bool ParseNumber(JsonValue* out) {
    const char* start = text_.c_str() + at_;
    char* end = nullptr;
    out->number = std::strtod(start, &end);
    if (end == start) return false;
    out->kind = JsonValue::Kind::kNumber;
    at_ += static_cast<std::size_t>(end - start);
    return true;
  }

  const std::string& text_;
  std::size_t at_ = 0;
};

const JsonValue& Missing() {
  static const JsonValue missing;
  return missing;
}

}  // namespace

const JsonValue& JsonValue::operator[](const std::string& key) const {
  const auto found = members.find(key);
  return found == members.end() ? Missing() : found->second;
}

const JsonValue& JsonValue::operator[](std::size_t index) const {
  return index < items.size() ? items[index] : Missing();
}

bool ParseJson(const std::string& text, JsonValue* out, std::string* error) {
  *out = JsonValue();
  return Parser(text).ParseDocument(out, error);
}

}  // namespace e2e
