#include "tests/e2e/e2e_support.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace e2e {

const char* const kToolBinary = CORVANE_HANDSHAKE_BINARY;
const char* const kEmulatorBinary = CORVANE_EMULATOR_BINARY;

ScratchDir::ScratchDir() {
  char pattern[] = "/tmp/corvane-e2e-XXXXXX";
  const char* made = mkdtemp(pattern);
  path_ = made != nullptr ? made : "/tmp";
}

ScratchDir::~ScratchDir() {
  if (path_ != "/tmp") {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
}

std::string Reached(const std::string& id_echo) { return "Contacting Corvane\nWaiting for PNP Reply\n" + id_echo; }

std::string PnpFailed(const std::string& id_echo) { return Reached(id_echo) + "Do PNP failed\n" + kNotFound; }

std::string HandshakeFailed(const std::string& id_echo, const std::string& ready_echo) {
  return Reached(id_echo) + "\n" + ready_echo + "PNP HS Failed\n" + kNotFound;
}

std::string Found(const std::string& id_echo) { return Reached(id_echo) + "\nKESTRAVIN READY\nSuccess\n"; }

std::string Complete(const std::string& word, const std::string& id_echo) {
  return Found(id_echo) + "Handshake set " + word + "\nPlease power off and on Corvane Device\n";
}

std::string OpenFailed(int error) {
  return "Contacting Corvane\nCreateFile for \\\\.\\COM1 failed " + std::to_string(error) + "\n" + kNotFound;
}

bool ReadJsonFile(const std::string& path, Json* out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "no report at " + path;
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  *out = Json::parse(text.str(), nullptr, false);
  if (out->is_discarded()) {
    *error = "the report at " + path + " is not JSON:\n" + text.str();
    return false;
  }
  return true;
}

const Json& At(const Json& document, const std::string& path) {
  try {
    return document.at(Json::json_pointer("/" + path));
  } catch (const Json::exception& e) {
    throw std::runtime_error("the report has no " + path + " (" + e.what() + ")");
  }
}

ModuleValues ModuleValuesIn(const Json& report) {
  return {At(report, "module/uart_config").get<long long>(), At(report, "module/host_interface").get<long long>(),
          At(report, "module/vm_disable").get<long long>()};
}

std::ostream& operator<<(std::ostream& out, const ModuleValues& values) {
  return out << "UART configuration 0x" << std::hex << values.uart_config << std::dec << ", host interface "
             << values.host_interface << ", VM disable " << values.vm_disable;
}

std::string FromHex(const std::string& hex) {
  if (hex.size() % 2 != 0 || hex.find_first_not_of("0123456789abcdef") != std::string::npos) {
    throw std::runtime_error("not hex bytes: \"" + hex + "\"");
  }
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

}  // namespace e2e
