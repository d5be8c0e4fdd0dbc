// Opening and closing: which devices open, which fail and with what error,
// and that share mode 0 keeps a device to one handle at a time.
#include <gtest/gtest.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/posix/last_error.h"
#include "platform/serial_api.h"
#include "tests/platform/open_port.h"
#include "tests/platform/pty_pair.h"

namespace {

// Sets or clears an environment variable for one test and puts the old
// value back afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value != nullptr)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (had_)
      setenv(name_.c_str(), old_.c_str(), 1);
    else
      unsetenv(name_.c_str());
  }

 private:
  std::string name_;
  bool had_ = false;
  std::string old_;
};

// The outcome of one open: the error when it failed, 0 when it worked (the
// handle is closed again).
DWORD open_outcome(const char* name) {
  HANDLE handle = open_exclusive(name);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError();
  EXPECT_TRUE(CloseHandle(handle));
  return 0;
}

}  // namespace

TEST(CreateFile, NonTerminalsFailAsNoSerialPort) {
  char regular[] = "/tmp/corvane-platform-regular-XXXXXX";
  int fd = mkstemp(regular);
  ASSERT_GE(fd, 0);
  close(fd);
  for (const char* path : {"/dev/null", static_cast<const char*>(regular)}) {
    HANDLE handle = open_exclusive(path);
    EXPECT_EQ(handle, INVALID_HANDLE_VALUE) << path;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION) << path;
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  unlink(regular);
}

TEST(CreateFile, ComNameOpensThePathInItsVariable) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  pty.make_raw();
  ScopedEnv com7("COM7", pty.slave_path().c_str());
  for (const char* name : {"\\\\.\\COM7", "COM7"}) {
    HANDLE handle = open_exclusive(name);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE) << name << ": error " << GetLastError();
    // Proof that it is this pty: a byte from the master arrives.
    COMMTIMEOUTS wait_for_first{MAXDWORD, MAXDWORD, 2000, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(handle, &wait_for_first));
    ASSERT_TRUE(pty.write_all({'x'}));
    char byte = 0;
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(handle, &byte, 1, &got, nullptr));
    EXPECT_EQ(got, 1u) << name;
    EXPECT_EQ(byte, 'x') << name;
    EXPECT_TRUE(CloseHandle(handle));
  }
}

TEST(CreateFile, EmptyComVariableFallsBackToTtyS) {
  // Whatever /dev/ttyS6 is on this machine (missing, no hardware behind it,
  // a real port), COM7 must fare exactly as it does.
  ScopedEnv com7("COM7", "");
  EXPECT_EQ(open_outcome("\\\\.\\COM7"), open_outcome("/dev/ttyS6"));
  ScopedEnv com7_set("COM7", "/dev/corvane-no-such-device");
  EXPECT_EQ(open_outcome("\\\\.\\COM7"), ERROR_FILE_NOT_FOUND);
}

TEST(CreateFile, HeldDeviceIsBusyUntilClosed) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  HANDLE first = open_exclusive(pty.slave_path().c_str());
  ASSERT_NE(first, INVALID_HANDLE_VALUE) << "error " << GetLastError();

  // Refused by the lock (root passes the device's exclusive flag), with the
  // code Windows gives for a port in use.
  HANDLE second = open_exclusive(pty.slave_path().c_str());
  EXPECT_EQ(second, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(corvane_posix::last_errno(), EWOULDBLOCK);
  if (second != INVALID_HANDLE_VALUE) CloseHandle(second);

  // The refused open must not have disturbed the holder.
  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  EXPECT_TRUE(GetCommState(first, &dcb));

  EXPECT_TRUE(CloseHandle(first));
  HANDLE again = open_exclusive(pty.slave_path().c_str());
  EXPECT_NE(again, INVALID_HANDLE_VALUE) << "error " << GetLastError();
  if (again != INVALID_HANDLE_VALUE) {
    EXPECT_TRUE(CloseHandle(again));
  }
}

TEST(CloseHandle, RefusesHandlesItDidNotHandOut) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  HANDLE closed = open_exclusive(pty.slave_path().c_str());
  ASSERT_NE(closed, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(CloseHandle(closed));
  for (HANDLE bad : {INVALID_HANDLE_VALUE, static_cast<HANDLE>(nullptr), closed}) {
    EXPECT_FALSE(CloseHandle(bad));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
}
