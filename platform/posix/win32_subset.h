// Our own declarations of the Win32 serial subset for POSIX systems.
//
// Written from what the calls must do, not taken from any platform header.
// The types keep the Win32 widths (DWORD is 32 bits, BOOL an int) so that code
// which compiles here compiles against <windows.h> unchanged.
//
// Meaning over termios, in short (each call is described in full where it is
// implemented):
//   CreateFileA    "\\.\COMn" or "COMn" opens the path in the environment
//                  variable COMn when it is set and not empty, else
//                  /dev/ttyS<n-1>; share mode 0 means exclusive (flock).
//   SetupComm      accepts the queue sizes; the kernel keeps its own queues.
//   Get/SetCommState  read-modify-write of the device's termios; raw 8N1-style
//                  frames, the rate read back after it is set, DTR and RTS
//                  control modes applied to the modem lines.
//   SetCommTimeouts  stored with the handle, honoured by ReadFile/WriteFile as
//                  Windows does; every wait is a poll against a monotonic
//                  deadline.
//   PurgeComm      tcflush of the directions asked for.
//   EscapeCommFunction  SETRTS/CLRRTS/SETDTR/CLRDTR through the modem-control
//                  ioctls; FALSE where the device has no modem lines.
//   GetLastError   the Win32 error code of the last failed call of this
//                  layer: the errno it met, turned into the code Windows
//                  gives for the same condition on a serial port
//                  (last_error.cpp holds the one table);
//   SetLastError   sets the code as given, as callers on Windows may.
//   Sleep          a wait on the monotonic clock.
//   GetTickCount64 milliseconds on the monotonic clock.
#ifndef CORVANE_PLATFORM_POSIX_WIN32_SUBSET_H
#define CORVANE_PLATFORM_POSIX_WIN32_SUBSET_H

#include <cstddef>
#include <cstdint>

typedef void* HANDLE;
typedef std::uint32_t DWORD;
typedef std::uint16_t WORD;
typedef std::uint8_t BYTE;
typedef std::uint64_t ULONGLONG;
typedef int BOOL;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;

struct OVERLAPPED;
typedef OVERLAPPED* LPOVERLAPPED;
struct SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// All bits set, as on Windows.
static HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t{0});

constexpr DWORD MAXDWORD = 0xFFFFFFFFu;

// The Win32 error codes that GetLastError returns here, under their Windows
// names, with the meaning Windows gives each; last_error.cpp says which
// condition of a POSIX device comes out as which.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_FUNCTION = 1;  // "Incorrect function."
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_BAD_COMMAND = 22;  // "The device does not recognize the command."
constexpr DWORD ERROR_GEN_FAILURE = 31;  // "A device attached to the system is not functioning."
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_SEM_TIMEOUT = 121;  // "The semaphore timeout period has expired."
constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr DWORD ERROR_OPERATION_ABORTED = 995;
constexpr DWORD ERROR_NOACCESS = 998;  // "Invalid access to memory location."
constexpr DWORD ERROR_CANT_RESOLVE_FILENAME = 1921;

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

constexpr DWORD PURGE_TXABORT = 0x01;
constexpr DWORD PURGE_RXABORT = 0x02;
constexpr DWORD PURGE_TXCLEAR = 0x04;
constexpr DWORD PURGE_RXCLEAR = 0x08;

constexpr DWORD SETRTS = 3;
constexpr DWORD CLRRTS = 4;
constexpr DWORD SETDTR = 5;
constexpr DWORD CLRDTR = 6;

constexpr DWORD DTR_CONTROL_DISABLE = 0;
constexpr DWORD DTR_CONTROL_ENABLE = 1;
constexpr DWORD DTR_CONTROL_HANDSHAKE = 2;
constexpr DWORD RTS_CONTROL_DISABLE = 0;
constexpr DWORD RTS_CONTROL_ENABLE = 1;
constexpr DWORD RTS_CONTROL_HANDSHAKE = 2;
constexpr DWORD RTS_CONTROL_TOGGLE = 3;

constexpr BYTE NOPARITY = 0;
constexpr BYTE ODDPARITY = 1;
constexpr BYTE EVENPARITY = 2;
constexpr BYTE MARKPARITY = 3;
constexpr BYTE SPACEPARITY = 4;
constexpr BYTE ONESTOPBIT = 0;
constexpr BYTE ONE5STOPBITS = 1;
constexpr BYTE TWOSTOPBITS = 2;

// The device control block: the line settings of one port.
struct DCB {
  DWORD DCBlength;
  DWORD BaudRate;
  DWORD fBinary : 1;
  DWORD fParity : 1;
  DWORD fOutxCtsFlow : 1;
  DWORD fOutxDsrFlow : 1;
  DWORD fDtrControl : 2;
  DWORD fDsrSensitivity : 1;
  DWORD fTXContinueOnXoff : 1;
  DWORD fOutX : 1;
  DWORD fInX : 1;
  DWORD fErrorChar : 1;
  DWORD fNull : 1;
  DWORD fRtsControl : 2;
  DWORD fAbortOnError : 1;
  DWORD fDummy2 : 17;
  WORD wReserved;
  WORD XonLim;
  WORD XoffLim;
  BYTE ByteSize;
  BYTE Parity;
  BYTE StopBits;
  char XonChar;
  char XoffChar;
  char ErrorChar;
  char EofChar;
  char EvtChar;
  WORD wReserved1;
};
typedef DCB* LPDCB;

// Read and write time-outs, in milliseconds.
struct COMMTIMEOUTS {
  DWORD ReadIntervalTimeout;
  DWORD ReadTotalTimeoutMultiplier;
  DWORD ReadTotalTimeoutConstant;
  DWORD WriteTotalTimeoutMultiplier;
  DWORD WriteTotalTimeoutConstant;
};
typedef COMMTIMEOUTS* LPCOMMTIMEOUTS;

HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue);
BOOL GetCommState(HANDLE file, LPDCB dcb);
BOOL SetCommState(HANDLE file, LPDCB dcb);
BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts);
BOOL PurgeComm(HANDLE file, DWORD flags);
BOOL EscapeCommFunction(HANDLE file, DWORD function);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten, LPOVERLAPPED overlapped);
BOOL CloseHandle(HANDLE object);
DWORD GetLastError();
void SetLastError(DWORD errorCode);
void Sleep(DWORD milliseconds);
ULONGLONG GetTickCount64();

#endif
