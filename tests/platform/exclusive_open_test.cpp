// Share mode 0 holds the device for one handle: the device's exclusive flag
// (TIOCEXCL) is set while the handle lives and cleared by CloseHandle, and a
// program that finds the device held, or may not open it at all, gets the
// code Windows gives for both: ERROR_ACCESS_DENIED.
//
// Root passes the exclusive flag and every permission, so the opens that
// must meet them run as `nobody` in a child process.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <functional>

#include "platform/posix/last_error.h"
#include "platform/serial_api.h"
#include "tests/platform/open_port.h"
#include "tests/platform/pty_pair.h"

namespace {

constexpr uid_t nobody = 65534;

// Child exit codes beyond the ones a step returns.
constexpr int could_not_drop_root = 100;

// Runs `step` as `nobody` in a child and returns its result (0..99), or
// could_not_drop_root; fails the test when the child dies otherwise.
int as_nobody(const std::function<int()>& step) {
  pid_t child = fork();
  if (child < 0) {
    ADD_FAILURE() << "fork: " << std::strerror(errno);
    return -1;
  }
  if (child == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0) {
      _exit(could_not_drop_root);
    }
    _exit(step());
  }
  int status = 0;
  pid_t waited;
  do {
    waited = waitpid(child, &status, 0);
  } while (waited < 0 && errno == EINTR);
  EXPECT_EQ(waited, child);
  EXPECT_TRUE(WIFEXITED(status)) << "child died, status " << status;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The device's exclusive flag, read through a descriptor of our own.
int exclusive_flag(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  EXPECT_GE(fd, 0) << std::strerror(errno);
  int flag = -1;
  EXPECT_EQ(ioctl(fd, TIOCGEXCL, &flag), 0) << std::strerror(errno);
  close(fd);
  return flag;
}

// The outcome of one open in the child: the last error when it failed,
// as a small number for the exit status.
enum OpenOutcome {
  opened = 0,
  refused_access_denied = 1,
  refused_otherwise = 2,
};

int open_and_close(const char* path) {
  HANDLE handle = open_exclusive(path);
  if (handle == INVALID_HANDLE_VALUE) {
    return GetLastError() == ERROR_ACCESS_DENIED ? refused_access_denied : refused_otherwise;
  }
  return CloseHandle(handle) ? opened : refused_otherwise;
}

TEST(ExclusiveOpen, FlagIsSetWhileTheHandleHoldsTheDevice) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  struct Case {
    DWORD share_mode;
    int flag_while_held;
  };
  for (Case c : {Case{0, 1}, Case{1 /* FILE_SHARE_READ */, 0}}) {
    ASSERT_EQ(exclusive_flag(pty.slave_path()), 0);
    HANDLE handle = CreateFileA(pty.slave_path().c_str(), GENERIC_READ | GENERIC_WRITE, c.share_mode, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    EXPECT_EQ(exclusive_flag(pty.slave_path()), c.flag_while_held) << "share mode " << c.share_mode;
    EXPECT_TRUE(CloseHandle(handle));
    EXPECT_EQ(exclusive_flag(pty.slave_path()), 0) << "the flag outlived the handle";
  }
}

// A pty keeps TIOCEXCL after the descriptor that set it is closed, so only
// an unprivileged user sees a flag left behind: its reopen fails.
TEST(ExclusiveOpen, UnprivilegedUserCanReopenAfterClose) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the child as uid 65534";
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  ASSERT_EQ(chmod(pty.slave_path().c_str(), 0666), 0) << std::strerror(errno);
  const char* path = pty.slave_path().c_str();
  int outcome = as_nobody([path] {
    int first = open_and_close(path);
    return first != opened ? 10 + first : open_and_close(path);
  });
  if (outcome == could_not_drop_root) GTEST_SKIP() << "could not switch to uid 65534 here";
  EXPECT_EQ(outcome, opened) << "1: reopen refused (TIOCEXCL left set); 1x: first open failed";
}

// What a second program meets: the device held by our handle (its exclusive
// flag refuses the open with EBUSY), or a device it has no permission for
// (EACCES). Both read as on Windows: ERROR_ACCESS_DENIED.
TEST(ExclusiveOpen, HeldOrForbiddenDeviceIsAccessDenied) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the child as uid 65534";
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  const char* path = pty.slave_path().c_str();
  auto second_open = [path] {
    HANDLE handle = open_exclusive(path);
    if (handle != INVALID_HANDLE_VALUE) {
      CloseHandle(handle);
      return 50;
    }
    if (GetLastError() != ERROR_ACCESS_DENIED) return 51;
    return corvane_posix::last_errno() == EBUSY ? 1 : corvane_posix::last_errno() == EACCES ? 2 : 52;
  };

  ASSERT_EQ(chmod(path, 0666), 0) << std::strerror(errno);
  HANDLE holder = open_exclusive(path);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE) << "error " << GetLastError();
  int held = as_nobody(second_open);
  EXPECT_TRUE(CloseHandle(holder));
  if (held == could_not_drop_root) GTEST_SKIP() << "could not switch to uid 65534 here";
  EXPECT_EQ(held, 1) << "50: opened; 51: another code; 52: another errno";

  ASSERT_EQ(chmod(path, 0600), 0) << std::strerror(errno);
  EXPECT_EQ(as_nobody(second_open), 2) << "50: opened; 51: another code; 52: another errno";
}

}  // namespace
