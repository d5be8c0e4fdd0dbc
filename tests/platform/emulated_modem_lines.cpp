#include "tests/platform/emulated_modem_lines.h"

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>

#include "emulator/preload/modem_line_report.h"

namespace {

using IoctlFunction = int (*)(int, unsigned long, ...);

IoctlFunction library_ioctl() {
  void* library = dlopen(CORVANE_MODEM_LINES_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  void* found = library != nullptr ? dlsym(library, "ioctl") : nullptr;
  if (found == nullptr) {
    // Without the library every test here would measure the wrong thing.
    std::fprintf(stderr, "cannot load the modem-line library %s: %s\n", CORVANE_MODEM_LINES_LIBRARY, dlerror());
    std::abort();
  }
  return reinterpret_cast<IoctlFunction>(found);
}

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list arguments;
  va_start(arguments, request);
  void* argument = va_arg(arguments, void*);
  va_end(arguments);
  static IoctlFunction through_library = library_ioctl();
  return through_library(fd, request, argument);
}

std::string to_string(const LineLevels& levels) {
  return std::string("RTS ") + (levels.rts ? "high" : "low") + ", DTR " + (levels.dtr ? "high" : "low");
}

void PrintTo(const LineLevels& levels, std::ostream* os) { *os << to_string(levels); }

LineReports::LineReports() {
  socket_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (socket_ < 0) return;
  const std::string name = "corvane-platform-lines-" + std::to_string(getpid());
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  if (bind(socket_, reinterpret_cast<const sockaddr*>(&address),
           static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size())) != 0) {
    close(socket_);
    socket_ = -1;
    return;
  }
  setenv(CORVANE_MODEM_LINES_ENV, name.c_str(), 1);
}

LineReports::~LineReports() {
  unsetenv(CORVANE_MODEM_LINES_ENV);
  if (socket_ >= 0) close(socket_);
}

// The library sends each report before its ioctl returns, so every report of
// the calls made so far is in the queue already.
std::vector<LineLevels> LineReports::take(std::uint64_t device) {
  std::vector<LineLevels> levels;
  corvane_modem_line_report report;
  for (;;) {
    ssize_t got = recv(socket_, &report, sizeof report, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got != static_cast<ssize_t>(sizeof report)) break;
    if (report.magic != CORVANE_MODEM_LINE_MAGIC || report.device != device) continue;
    levels.push_back(LineLevels{(report.lines & CORVANE_LINE_RTS) != 0, (report.lines & CORVANE_LINE_DTR) != 0});
  }
  return levels;
}
