#include "serial/port.h"

void ClosePort(void)
{
    if (PortHandle == INVALID_HANDLE_VALUE)
        return;
    PurgeComm(PortHandle, kPurgeBothDirections);
    CloseHandle(PortHandle);
    PortHandle = INVALID_HANDLE_VALUE;
}

void DropPort(void)
{
    CloseHandle(PortHandle);
    PortHandle = INVALID_HANDLE_VALUE;
}
