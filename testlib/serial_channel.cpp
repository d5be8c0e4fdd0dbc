#include "testlib/serial_channel.h"

#include <string>

#include "platform/serial_api.h"

namespace prodtest {

namespace {

// Frames of this link are a few dozen bytes; a write that cannot get them out
// in this time is a dead port, not a slow one.
constexpr DWORD kWriteTimeoutMs = 500;

COMMTIMEOUTS TimeoutsForRead(DWORD wait_ms) {
  // MAXDWORD interval and multiplier with a constant in (0, MAXDWORD): return
  // at once with what is queued, else wait up to the constant for the first
  // byte and return as soon as it arrives.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
  timeouts.ReadTotalTimeoutConstant = wait_ms;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = kWriteTimeoutMs;
  return timeouts;
}

// Whole milliseconds left, rounded up so that a wait never ends early; 0 once
// the deadline has passed.
DWORD MillisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  if (left.count() <= 0) return 0;
  if (left.count() >= static_cast<long long>(MAXDWORD - 1)) return MAXDWORD - 1;
  return static_cast<DWORD>(left.count());
}

}  // namespace

SerialChannel::~SerialChannel() { Close(); }

bool SerialChannel::Open(const char* name, std::uint32_t rate) {
  Close();
  const std::string path = std::string("\\\\.\\") + name;
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  handle_ = handle;
  if (!Configure(rate)) {
    Close();
    return false;
  }
  return true;
}

bool SerialChannel::Configure(std::uint32_t rate) {
  DCB dcb{};
  dcb.DCBlength = sizeof(dcb);
  if (!GetCommState(handle_, &dcb)) return false;
  dcb.DCBlength = sizeof(dcb);
  dcb.BaudRate = rate;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = 1;
  dcb.fParity = 0;
  dcb.fOutxCtsFlow = 0;
  dcb.fOutxDsrFlow = 0;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fOutX = 0;
  dcb.fInX = 0;
  // Every byte of a frame matters: none may be discarded, replaced or held
  // back by the driver on account of the modem lines or a line error.
  dcb.fDsrSensitivity = 0;
  dcb.fErrorChar = 0;
  dcb.fNull = 0;
  dcb.fAbortOnError = 0;
  if (!SetCommState(handle_, &dcb)) return false;

  COMMTIMEOUTS timeouts = TimeoutsForRead(1);
  if (!SetCommTimeouts(handle_, &timeouts)) return false;
  // Whatever the line held before this connection belongs to nobody.
  return PurgeComm(handle_, PURGE_RXABORT | PURGE_TXABORT | PURGE_RXCLEAR | PURGE_TXCLEAR) != 0;
}

void SerialChannel::Close() {
  if (handle_ == nullptr) return;
  CloseHandle(handle_);
  handle_ = nullptr;
}

bool SerialChannel::Write(const std::vector<std::uint8_t>& bytes) {
  if (handle_ == nullptr) return false;
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    DWORD written = 0;
    if (!WriteFile(handle_, bytes.data() + sent, static_cast<DWORD>(bytes.size() - sent), &written, nullptr) ||
        written == 0) {
      return false;
    }
    sent += written;
  }
  return true;
}

int SerialChannel::Read(std::uint8_t* buffer, std::size_t capacity, Clock::time_point deadline) {
  if (handle_ == nullptr) return -1;
  const DWORD wait_ms = MillisecondsUntil(deadline);
  if (wait_ms == 0) return 0;
  COMMTIMEOUTS timeouts = TimeoutsForRead(wait_ms);
  if (!SetCommTimeouts(handle_, &timeouts)) return -1;
  DWORD got = 0;
  if (!ReadFile(handle_, buffer, static_cast<DWORD>(capacity), &got, nullptr)) return -1;
  return static_cast<int>(got);
}

}  // namespace prodtest
