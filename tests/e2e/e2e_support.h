// What every end-to-end test needs: the two binaries under test, a scratch
// folder of its own, the expected console text of the tool's runs, and the
// emulator's JSON report read back, with lookups that fail the test when the
// report lacks what they name.
#ifndef CORVANE_TESTS_E2E_E2E_SUPPORT_H
#define CORVANE_TESTS_E2E_E2E_SUPPORT_H

#include <chrono>
#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

namespace nlohmann {
// A JSON value in a failure message, as its text: GoogleTest would otherwise
// print it as a container of values, and a number as a container of itself.
inline void PrintTo(const json& value, std::ostream* out) { *out << value.dump(); }
}  // namespace nlohmann

namespace e2e {

extern const char* const kToolBinary;
extern const char* const kEmulatorBinary;

// Generous: the slowest run takes a few seconds; a hang must fail, not stall.
constexpr std::chrono::seconds kRunLimit{30};

class ScratchDir {
 public:
  ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  ~ScratchDir();
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The tool's console text, as it prints it on each road: the one place the
// end-to-end tests, the memcheck rows and the soak take it from.
std::string Reached(const std::string& id_echo);  // up to the echoed ID characters
std::string PnpFailed(const std::string& id_echo);
std::string HandshakeFailed(const std::string& id_echo, const std::string& ready_echo);
std::string Found(const std::string& id_echo = "KVT3052");  // up to "Success\n"
std::string Complete(const std::string& word, const std::string& id_echo = "KVT3052");
std::string OpenFailed(int error);  // the port did not open, with the platform's error code

inline const std::string kNotFound = "Corvane not found on COM1\n";
// A failed read prints its message and yields 0x00, which the dialogue then
// echoes and compares like any byte.
inline const std::string kFailedRead = std::string("ReadChar failed\n") + '\0';
// The last line of a run that found the adapter and then failed at the module.
inline const std::string kLinkFailed = "failed to open BCSP\n";
inline const std::string kUartConfigFailed = "failed to write UART configuration\n";
inline const std::string kHostInterfaceFailed = "failed to write host interface\n";
inline const std::string kVmDisableFailed = "failed to write VM disable\n";

// The bytes the tool sends the adapter at 115200. Inline, so that tables of
// other files may use them in their own initialisers.
inline const std::string kSetupRequest = "KESTRAVIN SETUP";
inline const std::string kHandOver = std::string("\x01\xF8\x00\x00", 4);

// The module's three settings, as the report gives them.
struct ModuleValues {
  long long uart_config;
  long long host_interface;
  long long vm_disable;
};

constexpr ModuleValues kUntouched{0xA0, 1, 1};  // the emulator's values at start
constexpr ModuleValues kWrittenOn{0xA8, 4, 0};
constexpr ModuleValues kWrittenOff{0xA0, 4, 0};

inline bool operator==(const ModuleValues& a, const ModuleValues& b) {
  return a.uart_config == b.uart_config && a.host_interface == b.host_interface && a.vm_disable == b.vm_disable;
}
std::ostream& operator<<(std::ostream& out, const ModuleValues& values);

using Json = nlohmann::json;

// False, with *error set, when there is no report at path or it is not JSON
// (text that is not UTF-8 is not JSON).
bool ReadJsonFile(const std::string& path, Json* out, std::string* error);

// The value at path, members and array indices parted by '/'
// ("port/opens", "adapter/pulses/0/verdict"). Throws, naming the path, when
// any step of it is missing, so that the test fails there.
const Json& At(const Json& document, const std::string& path);

// The module's three settings in a report; throws, as At does, when one is
// missing.
ModuleValues ModuleValuesIn(const Json& report);

// Bytes given as two hex digits each, as the report gives line bytes. Throws
// on anything else.
std::string FromHex(const std::string& hex);

}  // namespace e2e

#endif
