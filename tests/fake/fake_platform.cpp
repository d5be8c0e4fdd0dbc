#include "tests/fake/fake_platform.h"

#include <csignal>
#include <cstdio>
#include <cstring>

#include "platform/posix/wait_cancel.h"

namespace fake {
namespace {

Platform platform;
// A handle value the fake hands out; never dereferenced.
int handleToken;
HANDLE const kHandle = &handleToken;

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02X", (unsigned)value);
  return text;
}

// Records the call and raises the signal the test put on it, if any.
void Record(const std::string& line) {
  platform.calls.push_back(line);
  if (platform.signalNumber == 0 || line != platform.signalDuring) return;
  if (platform.signalSkips > 0) {
    --platform.signalSkips;
    return;
  }
  int signalNumber = platform.signalNumber;
  platform.signalNumber = 0;
  std::raise(signalNumber);
}

// 1 when the waits are cancelled: the call then fails as a cut wait does.
int Cancelled(void) {
  if (!platform.waitsCancelled) return 0;
  platform.lastError = kOperationAborted;
  return 1;
}

// Records the call; 1 when the test asked for it to fail (the error is set).
int RecordAndCheckFailure(const std::string& name, const std::string& args) {
  Record(name + "(" + args + ")");
  auto failure = platform.failures.find(name);
  if (failure == platform.failures.end()) return 0;
  auto spared = platform.failuresAfter.find(name);
  if (spared != platform.failuresAfter.end() && spared->second > 0) {
    --spared->second;
    return 0;
  }
  platform.lastError = failure->second;
  return 1;
}

int ValidHandle(HANDLE h) {
  if (h == kHandle && platform.openHandles > 0) return 1;
  platform.lastError = 6;  // an invalid handle
  return 0;
}

const char* EscapeName(DWORD function) {
  switch (function) {
    case SETRTS: return "SETRTS";
    case CLRRTS: return "CLRRTS";
    case SETDTR: return "SETDTR";
    case CLRDTR: return "CLRDTR";
    default: return "?";
  }
}

}  // namespace

ReadStep Byte(std::uint8_t b) { return ReadStep{ReadStep::kByte, b, 0, 0}; }
ReadStep LateByte(std::uint8_t b, DWORD ms) { return ReadStep{ReadStep::kByte, b, 0, ms}; }
ReadStep Timeout(DWORD ms) { return ReadStep{ReadStep::kTimeout, 0, 0, ms}; }
ReadStep ReadFailure(DWORD error) { return ReadStep{ReadStep::kFailure, 0, error, 0}; }

void Reset() {
  platform = Platform{};
  DCB& dcb = platform.reported;
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = 9600;
  dcb.fBinary = 1;
  dcb.fParity = 1;
  dcb.fOutxCtsFlow = 1;
  dcb.fOutxDsrFlow = 1;
  dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
  dcb.fDsrSensitivity = 1;
  dcb.fTXContinueOnXoff = 1;
  dcb.fOutX = 1;
  dcb.fInX = 1;
  dcb.fErrorChar = 1;
  dcb.fNull = 1;
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  dcb.fAbortOnError = 1;
  dcb.XonLim = 2048;
  dcb.XoffLim = 512;
  dcb.ByteSize = 7;
  dcb.Parity = EVENPARITY;
  dcb.StopBits = TWOSTOPBITS;
  dcb.XonChar = 0x21;
  dcb.XoffChar = 0x23;
  dcb.ErrorChar = 0x3F;
  dcb.EofChar = 0x1A;
  dcb.EvtChar = 0x7E;
}

Platform& State() { return platform; }

void QueueText(const std::string& text) {
  for (char c : text) platform.reads.push_back(Byte((std::uint8_t)c));
}

std::vector<std::string> CallsStartingWith(const std::string& prefix) {
  std::vector<std::string> found;
  for (const std::string& call : platform.calls)
    if (call.compare(0, prefix.size(), prefix) == 0) found.push_back(call);
  return found;
}

}  // namespace fake

using fake::platform;

HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE) {
  platform.openedPaths.push_back(fileName);
  platform.createAccess = desiredAccess;
  platform.createShare = shareMode;
  platform.createDisposition = creationDisposition;
  platform.createFlags = flagsAndAttributes;
  if (fake::RecordAndCheckFailure("CreateFileA", fileName)) return INVALID_HANDLE_VALUE;
  ++platform.openHandles;
  return fake::kHandle;
}

BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue) {
  if (fake::RecordAndCheckFailure("SetupComm", std::to_string(inQueue) + "," + std::to_string(outQueue)) ||
      !fake::ValidHandle(file))
    return FALSE;
  platform.inQueue = inQueue;
  platform.outQueue = outQueue;
  return TRUE;
}

BOOL GetCommState(HANDLE file, LPDCB dcb) {
  if (fake::RecordAndCheckFailure("GetCommState", std::to_string(dcb->DCBlength)) || !fake::ValidHandle(file))
    return FALSE;
  *dcb = platform.reported;
  return TRUE;
}

BOOL SetCommState(HANDLE file, LPDCB dcb) {
  if (fake::RecordAndCheckFailure("SetCommState", std::to_string(dcb->BaudRate)) || !fake::ValidHandle(file))
    return FALSE;
  platform.statesSet.push_back(*dcb);
  return TRUE;
}

BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
  if (fake::RecordAndCheckFailure("SetCommTimeouts", "") || !fake::ValidHandle(file)) return FALSE;
  platform.timeoutsSet.push_back(*timeouts);
  return TRUE;
}

BOOL PurgeComm(HANDLE file, DWORD flags) {
  if (fake::RecordAndCheckFailure("PurgeComm", fake::Hex(flags)) || !fake::ValidHandle(file)) return FALSE;
  return TRUE;
}

BOOL EscapeCommFunction(HANDLE file, DWORD function) {
  if (fake::RecordAndCheckFailure("EscapeCommFunction", fake::EscapeName(function)) || !fake::ValidHandle(file))
    return FALSE;
  return TRUE;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPOVERLAPPED) {
  *bytesRead = 0;
  if (fake::RecordAndCheckFailure("ReadFile", std::to_string(bytesToRead)) || !fake::ValidHandle(file) ||
      fake::Cancelled())
    return FALSE;
  if (platform.beforeRead) platform.beforeRead(bytesToRead);
  std::uint8_t* out = static_cast<std::uint8_t*>(buffer);
  while (*bytesRead < bytesToRead && platform.nextRead < platform.reads.size()) {
    const fake::ReadStep& step = platform.reads[platform.nextRead++];
    platform.tickMs += step.ms;
    if (step.kind == fake::ReadStep::kTimeout) break;
    if (step.kind == fake::ReadStep::kFailure) {
      platform.lastError = step.error;
      return FALSE;
    }
    out[(*bytesRead)++] = step.byte;
  }
  if (platform.afterRead) platform.afterRead(*bytesRead);
  return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten, LPOVERLAPPED) {
  *bytesWritten = 0;
  if (fake::RecordAndCheckFailure("WriteFile", std::to_string(bytesToWrite)) || !fake::ValidHandle(file) ||
      fake::Cancelled())
    return FALSE;
  DWORD count = bytesToWrite;
  if (platform.writeLimit >= 0 && (DWORD)platform.writeLimit < count) count = (DWORD)platform.writeLimit;
  const std::uint8_t* in = static_cast<const std::uint8_t*>(buffer);
  platform.written.insert(platform.written.end(), in, in + count);
  *bytesWritten = count;
  return TRUE;
}

BOOL CloseHandle(HANDLE object) {
  if (fake::RecordAndCheckFailure("CloseHandle", "") || !fake::ValidHandle(object)) return FALSE;
  --platform.openHandles;
  return TRUE;
}

DWORD GetLastError() { return platform.lastError; }

void SetLastError(DWORD errorCode) { platform.lastError = errorCode; }

void Sleep(DWORD milliseconds) {
  fake::Record("Sleep(" + std::to_string(milliseconds) + ")");
  if (!platform.waitsCancelled) platform.tickMs += milliseconds;
}

ULONGLONG GetTickCount64() { return platform.tickMs; }

BOOL PrepareWaitCancel() { return TRUE; }

// Called from the tool's signal handler: a flag, nothing more.
void CancelWaits() { platform.waitsCancelled = 1; }

BOOL WaitsCancelled() { return platform.waitsCancelled ? TRUE : FALSE; }

void ReleaseWaitCancel() {}
