// The modem lines: EscapeCommFunction and the helper that SetCommState shares.
#include "platform/posix/modem_lines.h"

#include <cerrno>
#include <sys/ioctl.h>

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

bool lacks_modem_lines(int error) {
  return error == ENOTTY || error == EINVAL;
}

}  // namespace corvane_posix

// EscapeCommFunction: raises or lowers one modem line at once: SETRTS,
// CLRRTS, SETDTR or CLRDTR.
//
// Returns TRUE when the line was changed.
// Returns FALSE with the last error set to:
//   EBADF   not a live handle;
//   EINVAL  any other function (and, from some drivers, no modem lines);
//   ENOTTY  the device has no modem lines (a pseudo-terminal); callers that
//           merely pulse the lines carry on;
//   the ioctl's errno when the device failed otherwise.
BOOL EscapeCommFunction(HANDLE file, DWORD function) {
  corvane_posix::PortRecord* record = corvane_posix::record_of(file);
  if (record == nullptr) return FALSE;
  int line;
  bool raised;
  switch (function) {
    case SETRTS: line = TIOCM_RTS; raised = true; break;
    case CLRRTS: line = TIOCM_RTS; raised = false; break;
    case SETDTR: line = TIOCM_DTR; raised = true; break;
    case CLRDTR: line = TIOCM_DTR; raised = false; break;
    default: return corvane_posix::fail(EINVAL);
  }
  int error = corvane_posix::set_modem_line(record->fd, line, raised);
  if (error != 0) return corvane_posix::fail(error);
  return TRUE;
}
