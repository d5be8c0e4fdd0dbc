// PurgeComm: discarding what the driver queues hold.
#include <termios.h>
#include <cerrno>

#include "platform/posix/handle.h"
#include "platform/posix/last_error.h"

// PurgeComm: discards the bytes received and not yet read (PURGE_RXCLEAR or
// PURGE_RXABORT) and/or the bytes written and not yet sent (PURGE_TXCLEAR or
// PURGE_TXABORT). Every read and write of this layer is synchronous, so there
// is never an operation in progress for the ABORT flags to cancel; they
// discard like the CLEAR ones.
//
// Returns TRUE when the queues asked for are empty (also for flags 0, which
// asks for nothing).
// Returns FALSE with the last error set to ERROR_INVALID_HANDLE (not a live
// handle), ERROR_INVALID_PARAMETER (a bit outside the four flags) or the code
// for the errno of tcflush (ERROR_BAD_COMMAND for a device that vanished).
BOOL PurgeComm(HANDLE file, DWORD flags) {
  corvane_posix::PortRecord* record = corvane_posix::record_of(file);
  if (record == nullptr) return FALSE;
  constexpr DWORD receive = PURGE_RXCLEAR | PURGE_RXABORT;
  constexpr DWORD transmit = PURGE_TXCLEAR | PURGE_TXABORT;
  if ((flags & ~(receive | transmit)) != 0) return corvane_posix::fail(EINVAL);

  bool clear_receive = (flags & receive) != 0;
  bool clear_transmit = (flags & transmit) != 0;
  if (!clear_receive && !clear_transmit) return TRUE;
  int queues = clear_receive && clear_transmit ? TCIOFLUSH : clear_receive ? TCIFLUSH : TCOFLUSH;
  if (tcflush(record->fd, queues) != 0) return corvane_posix::fail(errno);
  return TRUE;
}
