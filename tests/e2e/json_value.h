// Just enough JSON to read the emulator's report: objects, arrays, strings,
// numbers, true, false and null. \uXXXX escapes below 0x100 become that
// byte, which is how the report writes raw line bytes.
#ifndef CORVANE_TESTS_E2E_JSON_VALUE_H
#define CORVANE_TESTS_E2E_JSON_VALUE_H

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace e2e {

struct JsonValue {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<JsonValue> items;
  std::map<std::string, JsonValue> members;

  // A null value when the member or item is missing, so lookups chain.
  const JsonValue& operator[](const std::string& key) const;
  const JsonValue& operator[](std::size_t index) const;
  bool is_null() const { return kind == Kind::kNull; }
  long long integer() const { return static_cast<long long>(number); }
};

bool ParseJson(const std::string& text, JsonValue* out, std::string* error);

}  // namespace e2e

#endif
