#include "tests/platform/pty_pair.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

PtyPair::PtyPair() {
  int fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    ADD_FAILURE() << "posix_openpt: " << std::strerror(errno);
    return;
  }
  const char* name = (grantpt(fd) == 0 && unlockpt(fd) == 0) ? ptsname(fd) : nullptr;
  if (name == nullptr) {
    ADD_FAILURE() << "grantpt/unlockpt/ptsname: " << std::strerror(errno);
    close(fd);
    return;
  }
  master_ = fd;
  slave_path_ = name;
}

PtyPair::~PtyPair() { close_master(); }

termios PtyPair::settings() const {
  termios settings{};
  EXPECT_EQ(tcgetattr(master_, &settings), 0) << std::strerror(errno);
  return settings;
}

void PtyPair::set_settings(const termios& settings) {
  EXPECT_EQ(tcsetattr(master_, TCSANOW, &settings), 0) << std::strerror(errno);
}

void PtyPair::make_raw() {
  termios raw = settings();
  cfmakeraw(&raw);
  set_settings(raw);
}

bool PtyPair::write_all(const std::vector<unsigned char>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::vector<unsigned char> PtyPair::read_up_to(std::size_t count, int timeout_ms) {
  std::vector<unsigned char> got;
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (got.size() < count) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd watched{master_, POLLIN, 0};
    int ready = poll(&watched, 1, static_cast<int>(left.count()) + 1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    unsigned char chunk[4096];
    std::size_t want = std::min(sizeof chunk, count - got.size());
    ssize_t n = read(master_, chunk, want);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got.insert(got.end(), chunk, chunk + n);
  }
  return got;
}

void PtyPair::close_master() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}
