// The modem lines: EscapeCommFunction and the helper that SetCommState shares.
#include "platform/posix/modem_lines.h"

#include <sys/ioctl.h>
#include <cerrno>

#include "platform/posix/handle.h"
#include "platform/posix/last_error.h"

namespace corvane_posix {

int set_modem_line(int fd, int line, bool raised) {
  int bits = line;
  int result;
  do {
    result = ioctl(fd, raised ? TIOCMBIS : TIOCMBIC, &bits);
  } while (result < 0 && errno == EINTR);
  return result < 0 ? errno : 0;
}

bool lacks_modem_lines(int error) { return error == ENOTTY || error == EINVAL; }

}  // namespace corvane_posix

// EscapeCommFunction: raises or lowers one modem line at once: SETRTS,
// CLRRTS, SETDTR or CLRDTR.
//
// Returns TRUE when the line was changed.
// Returns FALSE with the last error set to:
//   ERROR_INVALID_HANDLE     not a live handle;
//   ERROR_INVALID_PARAMETER  any other function;
//   ERROR_INVALID_FUNCTION   the device has no modem lines (a pseudo-terminal;
//                            the modem-control ioctl failed with ENOTTY, or
//                            with the EINVAL by which some drivers say the
//                            same): what Windows' serial drivers answer a
//                            line request they do not support with; callers
//                            that merely pulse the lines carry on;
//   the code for the ioctl's errno when the device failed otherwise
//   (ERROR_BAD_COMMAND for a device that vanished).
BOOL EscapeCommFunction(HANDLE file, DWORD function) {
  corvane_posix::PortRecord* record = corvane_posix::record_of(file);
  if (record == nullptr) return FALSE;
  int line;
  bool raised;
  switch (function) {
    case SETRTS:
      line = TIOCM_RTS;
      raised = true;
      break;
    case CLRRTS:
      line = TIOCM_RTS;
      raised = false;
      break;
    case SETDTR:
      line = TIOCM_DTR;
      raised = true;
      break;
    case CLRDTR:
      line = TIOCM_DTR;
      raised = false;
      break;
    default: return corvane_posix::fail(EINVAL);
  }
  int error = corvane_posix::set_modem_line(record->fd, line, raised);
  // Both answers of a port without lines are one condition, reported alike.
  if (corvane_posix::lacks_modem_lines(error)) return corvane_posix::fail(ENOTTY);
  if (error != 0) return corvane_posix::fail(error);
  return TRUE;
}
