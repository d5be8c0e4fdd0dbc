#include "serial/diagnostics.h"
#include "serial/port.h"

char ReadChar(void)
{
    char byte = 0x00;
    DWORD bytesRead = 0;
    // A time-out is success with nothing read: the caller sees 0x00.
    if (!ReadFile(PortHandle, &byte, 1, &bytesRead, NULL))
        Diagnostic("ReadChar failed\n");
    return byte;
}

int WritePort(const char* bytes, int count)
{
    DWORD written = 0;
    if (!WriteFile(PortHandle, bytes, (DWORD)count, &written, NULL))
        Diagnostic("Write Failed: %d\n", (int)GetLastError());
    return (int)written;
}
