#include "emulator/modem_line_channel.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "emulator/preload/modem_line_report.h"
#include "platform/posix/baud_rate.h"

namespace emulator {

ModemLineChannel::~ModemLineChannel() {
  if (fd_ >= 0) close(fd_);
}

bool ModemLineChannel::Open(const std::string& slave_path, std::string* error) {
  struct stat slave;
  if (stat(slave_path.c_str(), &slave) != 0) {
    *error = "stat " + slave_path + ": " + std::strerror(errno);
    return false;
  }
  device_ = slave.st_rdev;
  fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) {
    *error = std::string("socket for the modem lines: ") + std::strerror(errno);
    return false;
  }
  // Unique on the machine while we run: our pid, and the time for a pid
  // reused within another namespace's view.
  name_ =
      "corvane-emulator-" + std::to_string(getpid()) + "-" + std::to_string(Clock::now().time_since_epoch().count());
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, name_.data(), name_.size());
  const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name_.size());
  if (bind(fd_, reinterpret_cast<const sockaddr*>(&address), size) != 0) {
    *error = std::string("binding the modem-line channel: ") + std::strerror(errno);
    close(fd_);
    fd_ = -1;
    return false;
  }
  return true;
}

std::vector<ModemLineReport> ModemLineChannel::Read() {
  std::vector<ModemLineReport> reports;
  if (fd_ < 0) return reports;
  for (;;) {
    corvane_modem_line_report raw;
    const ssize_t got = recv(fd_, &raw, sizeof raw, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return reports;  // EAGAIN: all taken
    }
    if (got != static_cast<ssize_t>(sizeof raw) || raw.magic != CORVANE_MODEM_LINE_MAGIC || raw.device != device_) {
      continue;
    }
    ModemLineReport report;
    report.at = TimePoint(std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(raw.monotonic_ns)));
    report.state.rts = (raw.lines & CORVANE_LINE_RTS) != 0;
    report.state.dtr = (raw.lines & CORVANE_LINE_DTR) != 0;
    report.baud =
        raw.speed == CORVANE_SPEED_UNKNOWN ? 0 : corvane_posix::rate_for_speed(static_cast<speed_t>(raw.speed));
    report.closed = raw.request == CORVANE_MODEM_LINES_CLOSED;
    reports.push_back(report);
  }
}

}  // namespace emulator
