// Opening and closing a serial device: CreateFileA and CloseHandle.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <string>

#include "platform/posix/device_name.h"
#include "platform/posix/handle.h"
#include "platform/posix/last_error.h"

namespace {

using corvane_posix::fail;
using corvane_posix::fail_to_open;
using corvane_posix::PortRecord;

int open_flags_for(DWORD desiredAccess) {
  // O_NOCTTY: without it a process that leads its session would take the
  // port as its controlling terminal and die of SIGHUP or a stray 0x03.
  // O_NONBLOCK: every wait is our own poll against a deadline.
  int flags = O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
  bool reads = (desiredAccess & GENERIC_READ) != 0;
  bool writes = (desiredAccess & GENERIC_WRITE) != 0;
  if (reads && !writes) return flags | O_RDONLY;
  if (writes && !reads) return flags | O_WRONLY;
  return flags | O_RDWR;
}

int open_retrying(const std::string& path, int flags) {
  int fd;
  do {
    fd = open(path.c_str(), flags);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Takes the device for this handle alone. Returns 0 or the errno to fail
// the open with (EWOULDBLOCK: another handle holds the lock).
int take_exclusively(PortRecord* record) {
  // flock holds against root too, and against a second open in this process.
  int result;
  do {
    result = flock(record->fd, LOCK_EX | LOCK_NB);
  } while (result < 0 && errno == EINTR);
  if (result < 0) return errno;
  record->locked = true;
  // TIOCEXCL also keeps out programs that never ask for the lock (root
  // ignores it). Not every device honours it, and the lock above is what the
  // exclusivity rests on, so a refusal is no failure.
  record->exclusive_flag_set = ioctl(record->fd, TIOCEXCL) == 0;
  return 0;
}

// Undoes what take_exclusively did and closes the descriptor. Returns 0 or
// the errno of a failed close.
int release_and_close(PortRecord* record) {
  // The flag belongs to the device, not to the descriptor: on a
  // pseudo-terminal it would outlive this close and make every later open by
  // a non-root user fail with EBUSY.
  if (record->exclusive_flag_set) ioctl(record->fd, TIOCNXCL);
  if (record->locked) flock(record->fd, LOCK_UN);
  // The descriptor is gone after close() whatever it returns; EINTR is no
  // failure of ours.
  int result = close(record->fd);
  record->fd = -1;
  return result < 0 && errno != EINTR ? errno : 0;
}

// The defaults a freshly opened port reports for the fields that termios
// does not hold: both modem lines raised, as Windows reports for a port
// nobody has configured yet.
DCB fresh_port_fields() {
  DCB fields{};
  fields.DCBlength = sizeof(DCB);
  fields.fBinary = 1;
  fields.fDtrControl = DTR_CONTROL_ENABLE;
  fields.fRtsControl = RTS_CONTROL_ENABLE;
  return fields;
}

}  // namespace

// CreateFileA: opens the serial device `fileName` names.
//
// Names: "\\.\COMn" and "COMn" open the path in the environment variable COMn
// when it is set and not empty, else /dev/ttyS<n-1>; any other name is opened
// as a path. Only existing devices are opened (`creationDisposition` must be
// OPEN_EXISTING); GENERIC_READ and GENERIC_WRITE choose the access, both or
// neither meaning read and write. `shareMode` 0 asks for the device alone:
// a second open of it, by this or any other process, fails while this handle
// holds it. The security attributes, flags and template are not used.
//
// Returns the handle of the open device; it starts with all time-outs 0 and
// the DTR and RTS control modes reported as enabled.
// Returns INVALID_HANDLE_VALUE on failure, with the last error set to:
//   ERROR_INVALID_PARAMETER  no name, or a disposition other than
//                            OPEN_EXISTING;
//   ERROR_FILE_NOT_FOUND     no such device (ENOENT), or a device node with
//                            no device behind it (EIO, ENXIO, ENODEV);
//   ERROR_ACCESS_DENIED      share mode 0 and the device is held by another
//                            handle (the EWOULDBLOCK of the lock, or the EBUSY
//                            of the device's own exclusive flag); or no
//                            permission for the device (EACCES, EPERM);
//   ERROR_INVALID_NAME       a name too long for a path (ENAMETOOLONG);
//   ERROR_INVALID_FUNCTION   the file opened but is not a terminal device
//                            (tcgetattr fails with ENOTTY);
//   the code last_error.cpp gives any other errno of open().
HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES /*securityAttributes*/,
                   DWORD creationDisposition, DWORD /*flagsAndAttributes*/, HANDLE /*templateFile*/) {
  if (fileName == nullptr || creationDisposition != OPEN_EXISTING) {
    fail_to_open(EINVAL);
    return INVALID_HANDLE_VALUE;
  }
  std::string path = corvane_posix::device_path(fileName);
  int fd = open_retrying(path, open_flags_for(desiredAccess));
  if (fd < 0) {
    fail_to_open(errno);
    return INVALID_HANDLE_VALUE;
  }

  termios settings{};
  if (tcgetattr(fd, &settings) != 0) {
    close(fd);
    fail_to_open(ENOTTY);
    return INVALID_HANDLE_VALUE;
  }

  PortRecord* record = new PortRecord;
  record->fd = fd;
  record->remembered = fresh_port_fields();
  if (shareMode == 0) {
    int error = take_exclusively(record);
    if (error != 0) {
      release_and_close(record);
      delete record;
      fail_to_open(error);
      return INVALID_HANDLE_VALUE;
    }
  }
  return corvane_posix::register_record(record);
}

// CloseHandle: closes a handle from CreateFileA. The device's exclusive flag
// is cleared and the lock released before the descriptor is closed, so the
// next open, by any user, finds the device free.
//
// Returns TRUE once the handle is closed.
// Returns FALSE with the last error set to ERROR_INVALID_HANDLE for
// INVALID_HANDLE_VALUE, nullptr, or a handle that is already closed; FALSE
// with the code for the errno of close() when the device reported an error on
// closing (ERROR_BAD_COMMAND for EIO; the handle is closed all the same).
BOOL CloseHandle(HANDLE object) {
  PortRecord* record = corvane_posix::unregister_record(object);
  if (record == nullptr) return FALSE;
  int error = release_and_close(record);
  delete record;
  if (error != 0) return fail(error);
  return TRUE;
}
