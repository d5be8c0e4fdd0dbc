#include "platform/posix/last_error.h"

#include <cerrno>

namespace {

using corvane_posix::FailedCall;

// One row per errno that a call of this layer can fail with: the Win32 code
// that Windows gives a program for the same condition on a serial port, once
// while the port is being opened and once for a call on the open port.
//
// The reference is what Windows programs are seen to get from Windows' own
// serial drivers (serial.sys for a built-in port, usbser.sys and the
// adapter makers' drivers for USB adapters). Where a row names Wine, that is
// what the same condition gave a Windows program under Wine 8.0 here.
struct ErrorRow {
  int error;
  DWORD open_device;
  DWORD open_port;
};

const ErrorRow error_rows[] = {
    // No device node by that name: Windows answers a CreateFile for a COM
    // name it does not know with ERROR_FILE_NOT_FOUND. Wine: the same.
    {ENOENT, ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND},
    // A file where a directory should be on the way: Windows'
    // ERROR_PATH_NOT_FOUND for a path whose folder does not exist.
    {ENOTDIR, ERROR_PATH_NOT_FOUND, ERROR_PATH_NOT_FOUND},

    // A device node with no device behind it (a /dev/ttyS node without a
    // UART fails its open with EIO; a USB adapter's node that outlived its
    // adapter with ENXIO or ENODEV): on Windows the COM name goes with its
    // device, so the open fails as for a missing port. Wine gives
    // ERROR_NOACCESS (998) for an open that fails with EIO.
    //
    // The same errnos from a call on an open port mean the device went away
    // under the handle (an unplugged adapter; a pseudo-terminal whose other
    // side closed). Windows' in-box USB serial driver (usbser.sys) and the
    // FTDI driver fail every later call on a pulled adapter with
    // ERROR_BAD_COMMAND: the "The device does not recognize the command"
    // (22) that programs report when an adapter is pulled mid-transfer
    // (pySerial's "WriteFile failed ... 22" and "ClearCommError failed ...
    // 22"). Some other drivers give ERROR_GEN_FAILURE (31) or
    // ERROR_ACCESS_DENIED (5); 22 is the one most seen, and 5 would read as
    // a port held by another program. Wine gives ERROR_NOT_READY (21) for a
    // write, a SetCommState or an EscapeCommFunction on a pseudo-terminal
    // whose other side closed, and lets a read time out as on a silent line.
    {EIO, ERROR_FILE_NOT_FOUND, ERROR_BAD_COMMAND},
    {ENXIO, ERROR_FILE_NOT_FOUND, ERROR_BAD_COMMAND},
    {ENODEV, ERROR_FILE_NOT_FOUND, ERROR_BAD_COMMAND},

    // No permission for the device: ERROR_ACCESS_DENIED on Windows.
    {EACCES, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
    {EPERM, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
    {EROFS, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
    // A directory opened as a device: Windows refuses a CreateFile of a
    // directory without backup semantics with ERROR_ACCESS_DENIED.
    {EISDIR, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},

    // The port is held by another program: our flock refusing
    // (EWOULDBLOCK) or the device's exclusive flag refusing the open
    // (EBUSY). Windows' serial drivers admit one open at a time and fail a
    // second CreateFile with ERROR_ACCESS_DENIED, the code every terminal
    // program shows for a port in use. Wine opens nothing exclusively: a
    // second open succeeds.
    {EBUSY, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
    {EWOULDBLOCK, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},

    // A name longer than a path component may be: Windows rejects it as
    // ERROR_INVALID_NAME, the code the tool itself sets for a port number
    // whose name does not fit.
    {ENAMETOOLONG, ERROR_INVALID_NAME, ERROR_INVALID_NAME},
    // Links that lead in a circle: Windows' ERROR_CANT_RESOLVE_FILENAME for
    // a name whose reparse points it cannot resolve.
    {ELOOP, ERROR_CANT_RESOLVE_FILENAME, ERROR_CANT_RESOLVE_FILENAME},
    // Out of descriptors or memory: Windows' ERROR_TOO_MANY_OPEN_FILES and
    // ERROR_NOT_ENOUGH_MEMORY.
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES, ERROR_TOO_MANY_OPEN_FILES},
    {ENFILE, ERROR_TOO_MANY_OPEN_FILES, ERROR_TOO_MANY_OPEN_FILES},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY, ERROR_NOT_ENOUGH_MEMORY},

    // A device that is not a serial port (a regular file, /dev/null), or a
    // request the device does not support (the modem-control requests on a
    // port without modem lines). Windows drivers answer an I/O control they
    // do not support with STATUS_INVALID_DEVICE_REQUEST, which programs see
    // as ERROR_INVALID_FUNCTION: the serial calls (GetCommState,
    // EscapeCommFunction, ...) on a handle that is no serial port fail with
    // 1. Wine gives ERROR_NOT_SUPPORTED (50) for EscapeCommFunction on a
    // pseudo-terminal, and ERROR_INVALID_HANDLE (6) for GetCommState on
    // /dev/null.
    {ENOTTY, ERROR_INVALID_FUNCTION, ERROR_INVALID_FUNCTION},
    {EOPNOTSUPP, ERROR_NOT_SUPPORTED, ERROR_NOT_SUPPORTED},

    // A handle that is not open: ERROR_INVALID_HANDLE.
    {EBADF, ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE},
    // Bad arguments, a setting the device does not take (a rate, a frame):
    // serial.sys refuses them with STATUS_INVALID_PARAMETER, which
    // SetCommState reports as ERROR_INVALID_PARAMETER.
    {EINVAL, ERROR_INVALID_PARAMETER, ERROR_INVALID_PARAMETER},
    // A buffer the kernel could not touch: Windows' ERROR_NOACCESS (from
    // STATUS_ACCESS_VIOLATION).
    {EFAULT, ERROR_NOACCESS, ERROR_NOACCESS},

    // A device that did not finish a transfer in time (a USB adapter that
    // stalls): ERROR_SEM_TIMEOUT, which Windows' USB serial drivers report
    // for it (from STATUS_IO_TIMEOUT). A time-out of the port's own
    // COMMTIMEOUTS is no failure at all.
    {ETIMEDOUT, ERROR_SEM_TIMEOUT, ERROR_SEM_TIMEOUT},
#ifdef ETIME
    {ETIME, ERROR_SEM_TIMEOUT, ERROR_SEM_TIMEOUT},
#endif

    // A wait cut short by an interruption: Windows completes a cancelled
    // read or write with ERROR_OPERATION_ABORTED.
    {ECANCELED, ERROR_OPERATION_ABORTED, ERROR_OPERATION_ABORTED},
    {EINTR, ERROR_OPERATION_ABORTED, ERROR_OPERATION_ABORTED},
};

// Any other errno: a device that failed in a way no row names. Windows'
// "A device attached to the system is not functioning", the code that
// STATUS_UNSUCCESSFUL, a driver's failure without a reason, comes out as.
constexpr DWORD unknown_failure = ERROR_GEN_FAILURE;

// Per thread, as on Windows: a writer thread's failure must not overwrite the
// code that the reading thread is about to print.
thread_local DWORD last_code = ERROR_SUCCESS;
thread_local int last_error_number = 0;

void record(int error, FailedCall call) {
  last_error_number = error;
  last_code = corvane_posix::win32_error_for(error, call);
}

}  // namespace

namespace corvane_posix {

DWORD win32_error_for(int error, FailedCall call) {
  for (const ErrorRow& row : error_rows) {
    if (row.error == error) return call == FailedCall::open_device ? row.open_device : row.open_port;
  }
  return unknown_failure;
}

BOOL fail(int error) {
  record(error, FailedCall::open_port);
  return FALSE;
}

void fail_to_open(int error) { record(error, FailedCall::open_device); }

int last_errno() { return last_error_number; }

}  // namespace corvane_posix

// GetLastError: the Win32 error code of the last call of this layer that
// failed on the calling thread.
//
// Returns the code that Windows gives for the condition the failing call met
// (ERROR_FILE_NOT_FOUND for a missing device, ERROR_ACCESS_DENIED for a
// device held by another program or one without permission,
// ERROR_BAD_COMMAND for a device that vanished, ...; last_error.cpp's table
// has them all), or the code last given to SetLastError, whichever came
// later; ERROR_SUCCESS (0) when neither has happened on this thread yet.
// Successful calls leave it as it is.
DWORD GetLastError() { return last_code; }

// SetLastError: sets the code that GetLastError returns next on this thread,
// as given, for callers that report a failure of their own in the platform's
// terms.
void SetLastError(DWORD errorCode) {
  last_code = errorCode;
  last_error_number = 0;
}
