// A stand-in host for the pulse rows: opens the port named in COM1 at 1200
// baud, drives RTS and DTR as its arguments say, then reads whatever the
// adapter sends for a while and prints it.
//
//   pulse_program STEP...     STEP: rts=0, rts=1, dtr=0, dtr=1 or wait=MS
//
// Prints "reply: BYTES" (non-printing bytes as \xNN) and exits 0 when
// anything came, "no reply" and exits 3 when nothing did; 2 on bad use,
// 1 when the port would not open or take its settings.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Long enough for a reply that the adapter starts late in the last step, or
// on its 650 ms timer, to show.
constexpr long kListenMs = 1500;

timespec After(long ms) {
  timespec at;
  clock_gettime(CLOCK_MONOTONIC, &at);
  at.tv_sec += ms / 1000;
  at.tv_nsec += (ms % 1000) * 1000000L;
  if (at.tv_nsec >= 1000000000L) {
    at.tv_nsec -= 1000000000L;
    ++at.tv_sec;
  }
  return at;
}

long MsUntil(const timespec& deadline) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  const long ms = (deadline.tv_sec - now.tv_sec) * 1000 + (deadline.tv_nsec - now.tv_nsec) / 1000000;
  return ms < 0 ? 0 : ms;
}

void Wait(long ms) {
  const timespec until = After(ms);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
}

bool SetLine(int fd, int line, bool raised) {
  int bits = line;
  int result;
  do {
    result = ioctl(fd, raised ? TIOCMBIS : TIOCMBIC, &bits);
  } while (result < 0 && errno == EINTR);
  return result == 0;
}

bool OpenAt1200(const char* path, int* fd) {
  *fd = open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (*fd < 0) return false;
  termios settings;
  if (tcgetattr(*fd, &settings) != 0) return false;
  cfmakeraw(&settings);
  settings.c_cflag |= CLOCAL | CREAD;
  cfsetspeed(&settings, B1200);
  return tcsetattr(*fd, TCSANOW, &settings) == 0;
}

// Runs one step; false with a message on stderr when it is no step or fails.
bool RunStep(int fd, const std::string& step) {
  const std::size_t equals = step.find('=');
  const std::string what = step.substr(0, equals);
  const std::string value = equals == std::string::npos ? "" : step.substr(equals + 1);
  if ((what == "rts" || what == "dtr") && (value == "0" || value == "1")) {
    if (SetLine(fd, what == "rts" ? TIOCM_RTS : TIOCM_DTR, value == "1")) return true;
    std::fprintf(stderr, "pulse_program: %s: %s\n", step.c_str(), std::strerror(errno));
    return false;
  }
  char* end = nullptr;
  const long ms = std::strtol(value.c_str(), &end, 10);
  if (what == "wait" && !value.empty() && *end == '\0' && ms >= 0) {
    Wait(ms);
    return true;
  }
  std::fprintf(stderr, "pulse_program: no step \"%s\"\n", step.c_str());
  return false;
}

std::string Listen(int fd) {
  std::string got;
  const timespec deadline = After(kListenMs);
  for (;;) {
    pollfd ready{fd, POLLIN, 0};
    const int result = poll(&ready, 1, static_cast<int>(MsUntil(deadline)));
    if (result < 0 && errno == EINTR) continue;
    if (result <= 0) return got;
    char buffer[256];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return got;
    got.append(buffer, static_cast<std::size_t>(n));
    if (got.find(')') != std::string::npos) return got;
  }
}

std::string Printable(const std::string& bytes) {
  std::string text;
  for (const unsigned char c : bytes) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, c >= 0x20 && c < 0x7F ? "%c" : "\\x%02x", c);
    text += escaped;
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = std::getenv("COM1");
  if (path == nullptr) {
    std::fprintf(stderr, "pulse_program: COM1 names no port\n");
    return 2;
  }
  int fd = -1;
  if (!OpenAt1200(path, &fd)) {
    std::fprintf(stderr, "pulse_program: %s: %s\n", path, std::strerror(errno));
    return 1;
  }
  for (int i = 1; i < argc; ++i) {
    if (!RunStep(fd, argv[i])) return 2;
  }
  const std::string reply = Listen(fd);
  close(fd);
  if (reply.empty()) {
    std::printf("no reply\n");
    return 3;
  }
  std::printf("reply: %s\n", Printable(reply).c_str());
  return 0;
}
