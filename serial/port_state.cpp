#include "serial/port.h"

HANDLE PortHandle = INVALID_HANDLE_VALUE;
DCB LineSettings;
