// The Win32 serial subset that the tool and prodtest are written against:
// handles, the device control block, time-outs, CreateFileA, SetupComm,
// GetCommState, SetCommState, SetCommTimeouts, PurgeComm, EscapeCommFunction,
// ReadFile, WriteFile, CloseHandle, GetLastError and Sleep.
//
// On Windows this is <windows.h> itself. Elsewhere it is our own layer, which
// gives the same calls the same meaning over POSIX termios (posix/win32_subset.h
// declares it, posix/*.cpp implement it). Nothing else in the tree chooses
// between the two.
#ifndef CORVANE_PLATFORM_SERIAL_API_H
#define CORVANE_PLATFORM_SERIAL_API_H

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include "platform/posix/win32_subset.h"
#endif

#endif
