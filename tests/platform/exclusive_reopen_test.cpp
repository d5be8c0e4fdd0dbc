// After CloseHandle the device must be free for everybody, not just for
// root. A pty keeps TIOCEXCL after the descriptor that set it is closed, and
// root ignores the flag, so only an unprivileged user sees a flag left
// behind: its reopen fails with EBUSY. The test runs the open, close and
// reopen as `nobody` in a child process.
#include <cerrno>
#include <cstring>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/serial_api.h"
#include "tests/platform/open_port.h"
#include "tests/platform/pty_pair.h"

namespace {

constexpr uid_t nobody = 65534;

// Child exit codes, one per step that can go wrong.
enum ChildExit {
  reopened = 0,
  could_not_drop_root = 10,
  first_open_failed = 11,
  close_failed = 12,
  reopen_busy = 13,
  reopen_failed_otherwise = 14,
};

[[noreturn]] void run_as_nobody(const char* path) {
  if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0) {
    _exit(could_not_drop_root);
  }
  HANDLE first = open_exclusive(path);
  if (first == INVALID_HANDLE_VALUE) _exit(first_open_failed);
  if (!CloseHandle(first)) _exit(close_failed);
  HANDLE again = open_exclusive(path);
  if (again == INVALID_HANDLE_VALUE) {
    _exit(GetLastError() == static_cast<DWORD>(EBUSY) ? reopen_busy : reopen_failed_otherwise);
  }
  CloseHandle(again);
  _exit(reopened);
}

TEST(ExclusiveOpen, UnprivilegedUserCanReopenAfterClose) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the child as uid 65534";
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  ASSERT_EQ(chmod(pty.slave_path().c_str(), 0666), 0) << std::strerror(errno);

  pid_t child = fork();
  ASSERT_GE(child, 0) << std::strerror(errno);
  if (child == 0) run_as_nobody(pty.slave_path().c_str());

  int status = 0;
  pid_t waited;
  do {
    waited = waitpid(child, &status, 0);
  } while (waited < 0 && errno == EINTR);
  ASSERT_EQ(waited, child);
  ASSERT_TRUE(WIFEXITED(status)) << "child died, status " << status;
  switch (WEXITSTATUS(status)) {
    case reopened: break;
    case could_not_drop_root: GTEST_SKIP() << "could not switch to uid 65534 here";
    case first_open_failed: FAIL() << "first open as nobody failed";
    case close_failed: FAIL() << "CloseHandle failed";
    case reopen_busy: FAIL() << "reopen as nobody failed with EBUSY: TIOCEXCL left set";
    default: FAIL() << "reopen as nobody failed, child exit " << WEXITSTATUS(status);
  }
}

}  // namespace
