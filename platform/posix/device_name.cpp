#include "platform/posix/device_name.h"

#include <strings.h>
#include <cstdlib>
#include <cstring>

namespace corvane_posix {

namespace {

// Long enough for any port number Windows hands out, short enough that
// n - 1 can never overflow.
constexpr std::size_t max_port_digits = 9;

// The port number in "COMn", or 0 when `name` is not of that form.
long port_number(const char* name) {
  if (strncasecmp(name, "COM", 3) != 0) return 0;
  const char* digits = name + 3;
  std::size_t length = std::strlen(digits);
  if (length == 0 || length > max_port_digits || digits[0] == '0') return 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (digits[i] < '0' || digits[i] > '9') return 0;
  }
  return std::strtol(digits, nullptr, 10);
}

}  // namespace

std::string device_path(const char* name) {
  static const char device_namespace[] = "\\\\.\\";
  const char* bare = name;
  if (std::strncmp(name, device_namespace, sizeof device_namespace - 1) == 0) {
    bare = name + sizeof device_namespace - 1;
  }
  long port = port_number(bare);
  if (port == 0) return name;

  std::string variable = "COM" + std::to_string(port);
  const char* mapped = std::getenv(variable.c_str());
  if (mapped != nullptr && mapped[0] != '\0') return mapped;
  return "/dev/ttyS" + std::to_string(port - 1);
}

}  // namespace corvane_posix
