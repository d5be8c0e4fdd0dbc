// The one serial port the tool has open (see port.h for the operations).
#include "serial/port.h"

#include <cstdio>
#include <cstring>

#include "serial/diagnostics.h"
#include "serial/interruption.h"

HANDLE PortHandle = INVALID_HANDLE_VALUE;
DCB LineSettings;

namespace {

const DWORD kQueueSize = 4096;
const DWORD kSlowBaudRate = 1200;
const WORD kXonLimit = 500;
// 80 per cent of the input queue.
const WORD kXoffLimit = kQueueSize * 80 / 100;

// "\\.\COM" (7 characters), up to four characters of port number (a minus sign
// counts as one) and the terminating zero.
const int kDevicePathSize = 12;

// 1 when the device path for the port fits the buffer.
int FormatDevicePath(char* path, int portNumber) {
  std::memset(path, 0, kDevicePathSize);
  int length = std::snprintf(path, kDevicePathSize, "\\\\.\\COM%d", portNumber);
  return length > 0 && length < kDevicePathSize;
}

void EditLineSettings(DCB* dcb) {
  dcb->DCBlength = sizeof(DCB);
  dcb->BaudRate = kSlowBaudRate;
  dcb->fBinary = 1;
  dcb->fParity = 0;
  dcb->fOutxCtsFlow = 0;
  dcb->fOutxDsrFlow = 0;
  dcb->fDtrControl = DTR_CONTROL_DISABLE;
  dcb->fOutX = 0;
  dcb->fInX = 0;
  dcb->fErrorChar = 0;
  dcb->fNull = 0;
  dcb->fRtsControl = RTS_CONTROL_DISABLE;
  dcb->fAbortOnError = 0;
  dcb->XonLim = kXonLimit;
  dcb->XoffLim = kXoffLimit;
  dcb->ByteSize = 8;
  dcb->Parity = NOPARITY;
  dcb->StopBits = ONESTOPBIT;
  dcb->XonChar = 0x11;
  dcb->XoffChar = 0x13;
}

// 1 when the port took them. Refused, every read would keep a fresh
// handle's time-outs and wait for ever on a silent adapter.
int ApplyTimeouts(void) {
  COMMTIMEOUTS timeouts;
  timeouts.ReadIntervalTimeout = 1000;
  timeouts.ReadTotalTimeoutMultiplier = 500;
  timeouts.ReadTotalTimeoutConstant = 1000;
  timeouts.WriteTotalTimeoutMultiplier = 500;
  timeouts.WriteTotalTimeoutConstant = 1000;
  return SetCommTimeouts(PortHandle, &timeouts) ? 1 : 0;
}

}  // namespace

int OpenPort(int portNumber) {
  char path[kDevicePathSize];
  if (!FormatDevicePath(path, portNumber)) {
    // A number too long for the path buffer names no port we can open.
    // The message shows the whole name, not the cut one in the buffer.
    SetLastError(ERROR_INVALID_NAME);
    Diagnostic("CreateFile for \\\\.\\COM%d failed %d\n", portNumber, (int)GetLastError());
    return 0;
  }

  PortHandle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (PortHandle == INVALID_HANDLE_VALUE) {
    Diagnostic("CreateFile for %s failed %d\n", path, (int)GetLastError());
    return 0;
  }

  if (!SetupComm(PortHandle, kQueueSize, kQueueSize)) {
    Diagnostic("SetupComm failed %d\n", (int)GetLastError());
    DropPort();
    return 0;
  }

  std::memset(&LineSettings, 0, sizeof(LineSettings));
  LineSettings.DCBlength = sizeof(DCB);
  if (!GetCommState(PortHandle, &LineSettings)) {
    Diagnostic("GetCommState failed %d\n", (int)GetLastError());
    DropPort();
    return 0;
  }

  EditLineSettings(&LineSettings);
  if (!SetCommState(PortHandle, &LineSettings)) {
    Diagnostic("SetCommState failed %d\n", (int)GetLastError());
    DropPort();
    return 0;
  }

  if (!ApplyTimeouts()) {
    Diagnostic("SetCommTimeouts failed %d\n", (int)GetLastError());
    DropPort();
    return 0;
  }
  PurgeComm(PortHandle, kPurgeBothDirections);
  return 1;
}

int SetFastLine(void) {
  LineSettings.fRtsControl = RTS_CONTROL_ENABLE;
  LineSettings.BaudRate = 115200;
  if (!SetCommState(PortHandle, &LineSettings)) {
    Diagnostic("SetCommState failed %d\n", (int)GetLastError());
    DropPort();
    return 0;
  }
  return 1;
}

char ReadChar(void) {
  char byte = 0x00;
  DWORD bytesRead = 0;
  // An interrupted run reads no more: where the platform cannot cut a wait
  // short, the next one would otherwise run its full time-out.
  if (RunInterrupted()) return byte;
  // A time-out is success with nothing read: the caller sees 0x00.
  if (!ReadFile(PortHandle, &byte, 1, &bytesRead, NULL)) Diagnostic("ReadChar failed\n");
  return byte;
}

int WritePort(const char* bytes, int count) {
  DWORD written = 0;
  if (RunInterrupted()) return 0;
  if (!WriteFile(PortHandle, bytes, (DWORD)count, &written, NULL))
    Diagnostic("Write Failed: %d\n", (int)GetLastError());
  return (int)written;
}

// A port without modem lines (a pseudo-terminal) refuses these; the dialogue
// goes on regardless, so the result is not looked at.
void SetRts(int on) { EscapeCommFunction(PortHandle, on ? SETRTS : CLRRTS); }

void SetDtr(int on) { EscapeCommFunction(PortHandle, on ? SETDTR : CLRDTR); }

void ClosePort(void) {
  if (PortHandle == INVALID_HANDLE_VALUE) return;
  PurgeComm(PortHandle, kPurgeBothDirections);
  CloseHandle(PortHandle);
  PortHandle = INVALID_HANDLE_VALUE;
}

void DropPort(void) {
  CloseHandle(PortHandle);
  PortHandle = INVALID_HANDLE_VALUE;
}
