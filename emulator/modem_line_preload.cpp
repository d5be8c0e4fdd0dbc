#include "emulator/modem_line_preload.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "emulator/preload/modem_line_report.h"

namespace emulator {
namespace {

// The emulator's own folder, with its trailing slash; empty when the system
// does not say where the running program lies.
std::string OwnFolder() {
  char self[PATH_MAX];
  const ssize_t got = readlink("/proc/self/exe", self, sizeof self - 1);
  if (got <= 0) return std::string();
  std::string path(self, static_cast<std::size_t>(got));
  path.resize(path.rfind('/') + 1);
  return path;
}

// Where the library may lie, in the order tried: preload/ beside an emulator
// in its build folder, then the library folder of an installed tree, found
// from the emulator's own folder so that a moved tree still finds it.
std::vector<std::string> LibraryPlaces() {
  const std::string folder = OwnFolder();
  return {folder + "preload/" + CORVANE_MODEM_LINES_LIBRARY_NAME,
          folder + CORVANE_MODEM_LINES_INSTALLED_DIR + "/" + CORVANE_MODEM_LINES_LIBRARY_NAME};
}

}  // namespace

bool ModemLinePreload(const std::string& library, const std::string& channel, Environment* environment,
                      std::string* error) {
  const std::vector<std::string> places = library.empty() ? LibraryPlaces() : std::vector<std::string>{library};
  char absolute[PATH_MAX];
  bool found = false;
  std::string tried;
  for (const std::string& place : places) {
    if (realpath(place.c_str(), absolute) != nullptr && access(absolute, R_OK) == 0) {
      found = true;
      break;
    }
    const int why = errno;
    tried += (tried.empty() ? "" : " or ") + place + " (" + std::strerror(why) + ")";
  }
  if (!found) {
    *error = "no modem-line library at " + tried +
             "; build it, name it with --modem-lines-library, or give --no-modem-lines";
    return false;
  }
  const char* before = getenv("LD_PRELOAD");
  std::string preload = before != nullptr && before[0] != '\0' ? std::string(before) + ":" : std::string();
  environment->emplace_back("LD_PRELOAD", preload + absolute);
  environment->emplace_back(CORVANE_MODEM_LINES_ENV, channel);
  // A sanitized command wants its sanitizer's runtime first of all its
  // libraries, which a preloaded one takes from it; the order matters for
  // nothing that the library does, so the check is turned off.
  const char* asan = getenv("ASAN_OPTIONS");
  const std::string asan_before = asan != nullptr && asan[0] != '\0' ? std::string(asan) + ":" : std::string();
  environment->emplace_back("ASAN_OPTIONS", asan_before + "verify_asan_link_order=0");
  return true;
}

std::string ShellAssignments(const Environment& environment) {
  std::string text;
  for (const auto& [name, value] : environment) {
    if (!text.empty()) text += ' ';
    text += name + "='";
    for (const char c : value) text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    text += "'";
  }
  return text;
}

}  // namespace emulator
