#include "emulator/pty_line.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/posix/baud_rate.h"

namespace emulator {
namespace {

std::string Failure(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

PtyLine::~PtyLine() {
  if (watch_ >= 0) close(watch_);
  if (held_slave_ >= 0) close(held_slave_);
  if (number_keeper_ >= 0) close(number_keeper_);
  if (master_ >= 0) close(master_);
}

bool PtyLine::Create(unsigned initial_baud, bool hold_slave, std::string* error) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (master_ < 0) {
    *error = Failure("posix_openpt");
    return false;
  }
  if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
    *error = Failure("unlocking the pseudo-terminal");
    return false;
  }
  char name[128];
  if (ptsname_r(master_, name, sizeof name) != 0) {
    *error = Failure("ptsname_r");
    return false;
  }
  slave_path_ = name;

  termios settings;
  if (tcgetattr(master_, &settings) != 0) {
    *error = Failure("tcgetattr on the master");
    return false;
  }
  cfmakeraw(&settings);
  settings.c_cflag |= CLOCAL | CREAD;
  settings.c_lflag |= EXTPROC;
  speed_t speed = B9600;
  corvane_posix::speed_for_rate(initial_baud, &speed);
  cfsetspeed(&settings, speed);
  if (tcsetattr(master_, TCSANOW, &settings) != 0) {
    *error = Failure("tcsetattr on the master");
    return false;
  }
  int on = 1;
  if (ioctl(master_, TIOCPKT, &on) != 0) {
    *error = Failure("TIOCPKT");
    return false;
  }

  if (hold_slave) {
    held_slave_ = open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (held_slave_ < 0 || flock(held_slave_, LOCK_EX | LOCK_NB) != 0) {
      *error = Failure("holding the port");
      return false;
    }
  }

  if (keep_number_) {
    number_keeper_ = open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (number_keeper_ < 0) {
      *error = Failure("keeping the port's number");
      return false;
    }
  }

  watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (watch_ < 0 || inotify_add_watch(watch_, slave_path_.c_str(), IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
    *error = Failure("watching the port");
    return false;
  }
  return true;
}

void PtyLine::Vanish() {
  if (master_ < 0) return;
  close(master_);
  master_ = -1;
}

unsigned PtyLine::ReadBaud() const {
  termios settings;
  if (tcgetattr(master_, &settings) != 0) return 0;
  return corvane_posix::rate_for_speed(cfgetospeed(&settings));
}

bool PtyLine::ReadPortEvents(std::vector<PortEvent>* events, std::string* error) {
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t got = read(watch_, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) return true;
      *error = Failure("reading port events");
      return false;
    }
    if (got == 0) return true;
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      // The kernel folds an event into an identical unread one before it, so
      // only alternating opens and closes are counted exactly; the port is
      // used that way (one holder at a time, no sharing).
      if (event->mask & IN_OPEN) events->push_back(PortEvent::kOpened);
      if (event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) events->push_back(PortEvent::kClosed);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
}

MasterRead PtyLine::ReadMaster() {
  MasterRead result;
  std::uint8_t buffer[4097];
  for (;;) {
    const ssize_t got = read(master_, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) return result;
      if (errno == EIO) {
        result.hung_up = true;
        return result;
      }
      result.failed = true;
      return result;
    }
    if (got == 0) {
      result.hung_up = true;
      return result;
    }
    // Packet mode: a leading 0 introduces data, anything else is a status byte.
    if (buffer[0] == 0) {
      result.data.insert(result.data.end(), buffer + 1, buffer + got);
    } else {
      result.settings_hint = true;
    }
  }
}

long PtyLine::WriteMaster(const std::uint8_t* data, std::size_t size) {
  for (;;) {
    const ssize_t put = write(master_, data, size);
    if (put >= 0) return put;
    if (errno == EINTR) continue;
    if (errno == EAGAIN) return 0;
    return -1;
  }
}

}  // namespace emulator
