#include "tests/platform/open_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <cerrno>

HANDLE open_exclusive(const char* path) {
  return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

COMMTIMEOUTS tool_timeouts() {
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = 1000;
  timeouts.ReadTotalTimeoutMultiplier = 500;
  timeouts.ReadTotalTimeoutConstant = 1000;
  timeouts.WriteTotalTimeoutMultiplier = 500;
  timeouts.WriteTotalTimeoutConstant = 1000;
  return timeouts;
}

void OpenPort::SetUp() {
  ASSERT_TRUE(pty.ok());
  watch = open(pty.slave_path().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(watch, 0);
  port = open_exclusive(pty.slave_path().c_str());
  ASSERT_NE(port, INVALID_HANDLE_VALUE) << "error " << GetLastError();
  DCB dcb = reported_state();
  dcb.BaudRate = 1200;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fOutxCtsFlow = 0;
  dcb.fOutX = 0;
  dcb.fInX = 0;
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  ASSERT_TRUE(SetCommState(port, &dcb)) << "error " << GetLastError();
  use_timeouts(tool_timeouts());
}

void OpenPort::TearDown() {
  if (port != INVALID_HANDLE_VALUE) {
    EXPECT_TRUE(CloseHandle(port)) << "error " << GetLastError();
  }
  if (watch >= 0) close(watch);
}

int OpenPort::wait_for_input(int timeout_ms) {
  pollfd watched{watch, POLLIN, 0};
  int ready;
  do {
    ready = poll(&watched, 1, timeout_ms);
  } while (ready < 0 && errno == EINTR);
  int queued = 0;
  if (ready > 0) ioctl(watch, FIONREAD, &queued);
  return queued;
}

void OpenPort::use_timeouts(COMMTIMEOUTS timeouts) {
  ASSERT_TRUE(SetCommTimeouts(port, &timeouts)) << "error " << GetLastError();
}

DCB OpenPort::reported_state() {
  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  EXPECT_TRUE(GetCommState(port, &dcb)) << "error " << GetLastError();
  return dcb;
}
