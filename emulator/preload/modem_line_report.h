/* The channel between the modem-line library (loaded into the program under
 * test with LD_PRELOAD) and corvane-emulator. This is the one place that
 * describes it.
 *
 * - The emulator binds a unix datagram socket in the abstract namespace and
 *   puts its name (without the leading zero byte) in the environment variable
 *   CORVANE_MODEM_LINES of the command it runs. Abstract names need no file
 *   and no clean-up, and the variable passes through fork, exec and Wine's
 *   loaders like LD_PRELOAD itself.
 * - For every modem-control ioctl that the library answers in place of a
 *   pseudo-terminal slave that has no modem lines (TIOCMBIS, TIOCMBIC,
 *   TIOCMSET), it sends one datagram: a struct corvane_modem_line_report
 *   with the state of RTS and DTR after the call, the CLOCK_MONOTONIC time
 *   of the call and the slave's output speed then (the line rate in force).
 *   Calls that leave the state as it was are sent too; the emulator keeps
 *   only the changes. TIOCMGET is answered, not reported.
 * - Sending never fails the ioctl: with no emulator listening the report is
 *   dropped at once; with the emulator's queue full, the report waits up to
 *   100 ms for room before it is dropped.
 * - CORVANE_MODEM_LINES_ABSENT, when it holds "EINVAL" or "ENOTTY" at the
 *   time of a call, makes the library answer as a port WITHOUT modem lines
 *   instead: every modem-control request on a pseudo-terminal slave fails
 *   with that errno (the two answers that serial drivers give for lines they
 *   do not have), nothing is kept and nothing is reported. Any other value
 *   is ignored. It lets a test show how a program fares on such a port.
 * - Each open of a slave starts with DTR and RTS raised, as a serial driver
 *   (Linux's, and Windows') leaves a line it opens, whatever an earlier open
 *   left. The library sees the ioctls and the closes of the process it is
 *   loaded into, not its opens: when the process closes its last descriptor
 *   of a slave on which it has made a modem-line request, the kept state
 *   goes back to the open state for the next open, and the library sends a
 *   close report (request CORVANE_MODEM_LINES_CLOSED, the state and speed
 *   at the close) before the descriptor is closed. So every report of an
 *   open's calls reaches the emulator ahead of that open's close report,
 *   and the close report ahead of the close itself, and the emulator can
 *   tell an open's calls from the next open's. A process whose first open of
 *   a slave makes no modem-line request sends no close report for it.
 *   Descriptors closed by other means than close() (exit, dup2, close_range)
 *   leave the state as it was. TIOCMGET adds CTS and DSR, raised, as a
 *   powered adapter holds them.
 * Both ends run on the same machine: the record is sent in native byte order.
 */
#ifndef CORVANE_EMULATOR_PRELOAD_MODEM_LINE_REPORT_H
#define CORVANE_EMULATOR_PRELOAD_MODEM_LINE_REPORT_H

#include <stdint.h>

#define CORVANE_MODEM_LINES_ENV "CORVANE_MODEM_LINES"
#define CORVANE_MODEM_LINES_ABSENT_ENV "CORVANE_MODEM_LINES_ABSENT"
#define CORVANE_MODEM_LINE_MAGIC 0x4C4D5643u /* "CVML" in memory on little-endian machines */

/* Bits of corvane_modem_line_report.lines. */
#define CORVANE_LINE_RTS 1u
#define CORVANE_LINE_DTR 2u

/* corvane_modem_line_report.request of a close report; no ioctl request is 0. */
#define CORVANE_MODEM_LINES_CLOSED 0u

/* corvane_modem_line_report.speed when the slave's settings could not be read. */
#define CORVANE_SPEED_UNKNOWN 0xFFFFFFFFu

struct corvane_modem_line_report {
  uint32_t magic;
  uint32_t lines;       /* CORVANE_LINE_RTS | CORVANE_LINE_DTR, after the call */
  int64_t monotonic_ns; /* CLOCK_MONOTONIC at the call */
  uint64_t device;      /* st_rdev of the slave */
  uint32_t pid;         /* the process that made the call */
  uint32_t request;     /* TIOCMBIS, TIOCMBIC, TIOCMSET or CORVANE_MODEM_LINES_CLOSED */
  uint32_t speed;       /* cfgetospeed of the slave at the call (a speed_t), or CORVANE_SPEED_UNKNOWN */
  uint32_t reserved;    /* 0 */
};

#endif
