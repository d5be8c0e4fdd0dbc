#include "tests/testlib/pty_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace peer {

namespace {

void Require(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

}  // namespace

PtyPeer::PtyPeer() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  Require(master_ >= 0, "posix_openpt");
  Require(grantpt(master_) == 0 && unlockpt(master_) == 0, "grantpt/unlockpt");
  const char* name = ptsname(master_);
  Require(name != nullptr, "ptsname");
  slave_path_ = name;
  // Raw both ways before anyone opens the slave, so that nothing is echoed or
  // translated while the host sets the line up.
  termios settings{};
  Require(tcgetattr(master_, &settings) == 0, "tcgetattr");
  cfmakeraw(&settings);
  Require(tcsetattr(master_, TCSANOW, &settings) == 0, "tcsetattr");
  // Without an open slave the master reports a hang-up between host opens.
  slave_keepalive_ = open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  Require(slave_keepalive_ >= 0, "open slave");
  Require(pipe2(wake_, O_CLOEXEC) == 0, "pipe2");
}

PtyPeer::~PtyPeer() {
  if (thread_.joinable()) {
    const char stop = 1;
    while (write(wake_[1], &stop, 1) < 0 && errno == EINTR) {
    }
    thread_.join();
  }
  close(wake_[0]);
  close(wake_[1]);
  close(slave_keepalive_);
  close(master_);
}

void PtyPeer::Start(Config config) {
  module_.emplace(std::move(config), [this](const Bytes& bytes) { WriteWire(bytes); });
  thread_ = std::thread([this] { Run(); });
}

void PtyPeer::Inspect(const std::function<void(const Module&)>& look) const {
  std::lock_guard<std::mutex> lock(mutex_);
  look(*module_);
}

bool PtyPeer::WaitForSeen(const std::function<bool(const bcsp::Packet&)>& match, std::size_t count,
                          std::chrono::milliseconds limit) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return seen_changed_.wait_for(lock, limit, [&] {
    std::size_t matching = 0;
    for (const Seen& seen : module_->seen()) {
      if (match(seen.packet)) ++matching;
    }
    return matching >= count;
  });
}

void PtyPeer::Run() {
  for (;;) {
    int timeout;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      timeout = MillisecondsToNextEvent();
    }
    pollfd fds[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    const int ready = poll(fds, 2, timeout);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || fds[1].revents != 0) return;
    if (fds[0].revents & POLLIN) {
      std::uint8_t buffer[512];
      const ssize_t got = read(master_, buffer, sizeof(buffer));
      if (got > 0) {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          module_->Receive(Bytes(buffer, buffer + got), Clock::now());
        }
        seen_changed_.notify_all();
      }
    } else if (fds[0].revents != 0) {
      return;  // the pair is broken; nothing more will come
    }
    std::lock_guard<std::mutex> lock(mutex_);
    module_->Tick(Clock::now());
  }
}

int PtyPeer::MillisecondsToNextEvent() const {
  const std::optional<TimePoint> next = module_->NextEvent();
  if (!next) return -1;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Called by the module, on the thread, with the lock held.
void PtyPeer::WriteWire(const Bytes& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = write(master_, bytes.data() + sent, bytes.size() - sent);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return;
    // The host is not reading: wait a while for room, but never so long that
    // the peer cannot be stopped.
    pollfd fds[2] = {{master_, POLLOUT, 0}, {wake_[0], POLLIN, 0}};
    if (poll(fds, 2, 1000) <= 0 || fds[1].revents != 0) return;
  }
}

}  // namespace peer
