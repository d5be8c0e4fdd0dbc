#include "serial/diagnostics.h"
#include "serial/port.h"

int SetFastLine(void)
{
    LineSettings.fRtsControl = RTS_CONTROL_ENABLE;
    LineSettings.BaudRate = 115200;
    if (!SetCommState(PortHandle, &LineSettings)) {
        Diagnostic("SetCommState failed %d\n", (int)GetLastError());
        DropPort();
        return 0;
    }
    return 1;
}
