#include "tests/e2e/e2e_support.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

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

std::string Reached(const std::string& id_echo) {
  return "Contacting Corvane\nWaiting for PNP Reply\n" + id_echo;
}

std::string PnpFailed(const std::string& id_echo) {
  return Reached(id_echo) + "Do PNP failed\nCorvane not found on COM1\n";
}

std::string HandshakeFailed(const std::string& id_echo, const std::string& ready_echo) {
  return Reached(id_echo) + "\n" + ready_echo + "PNP HS Failed\nCorvane not found on COM1\n";
}

std::string Found(const std::string& id_echo) { return Reached(id_echo) + "\nKESTRAVIN READY\nSuccess\n"; }

std::string Complete(const std::string& word, const std::string& id_echo) {
  return Found(id_echo) + "Handshake set " + word + "\nPlease power off and on Corvane Device\n";
}

bool ReadJsonFile(const std::string& path, JsonValue* out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "no report at " + path;
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return ParseJson(text.str(), out, error);
}

}  // namespace e2e
