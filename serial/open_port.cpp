#include <cstdio>
#include <cstring>

#include "serial/diagnostics.h"
#include "serial/port.h"

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
int FormatDevicePath(char* path, int portNumber)
{
    std::memset(path, 0, kDevicePathSize);
    int length = std::snprintf(path, kDevicePathSize, "\\\\.\\COM%d", portNumber);
    return length > 0 && length < kDevicePathSize;
}

void EditLineSettings(DCB* dcb)
{
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

void ApplyTimeouts(void)
{
    COMMTIMEOUTS timeouts;
    timeouts.ReadIntervalTimeout = 1000;
    timeouts.ReadTotalTimeoutMultiplier = 500;
    timeouts.ReadTotalTimeoutConstant = 1000;
    timeouts.WriteTotalTimeoutMultiplier = 500;
    timeouts.WriteTotalTimeoutConstant = 1000;
    SetCommTimeouts(PortHandle, &timeouts);
}

}  // namespace

int OpenPort(int portNumber)
{
    char path[kDevicePathSize];
    if (!FormatDevicePath(path, portNumber)) {
        // A number too long for the path buffer names no port we can open.
        // The message shows the whole name, not the cut one in the buffer.
        SetLastError(ERROR_INVALID_NAME);
        Diagnostic("CreateFile for \\\\.\\COM%d failed %d\n", portNumber, (int)GetLastError());
        return 0;
    }

    PortHandle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, NULL);
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

    ApplyTimeouts();
    PurgeComm(PortHandle, kPurgeBothDirections);
    return 1;
}
