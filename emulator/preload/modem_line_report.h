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
 *   with the state of RTS and DTR after the call and the CLOCK_MONOTONIC time
 *   of the call. Calls that leave the state as it was are sent too; the
 *   emulator keeps only the changes. TIOCMGET is answered, not reported.
 * - Sending never fails the ioctl: with no emulator listening the report is
 *   dropped at once; with the emulator's queue full, the report waits up to
 *   100 ms for room before it is dropped.
 * - CORVANE_MODEM_LINES_ABSENT, when it holds "EINVAL" or "ENOTTY" at the
 *   time of a call, makes the library answer as a port WITHOUT modem lines
 *   instead: every modem-control request on a pseudo-terminal slave fails
 *   with that errno (the two answers that serial drivers give for lines they
 *   do not have), nothing is kept and nothing is reported. Any other value
 *   is ignored. It lets a test show how a program fares on such a port.
 * - Each slave starts, when the library first sees it in a process, with
 *   DTR and RTS raised, as the Linux tty driver leaves a line it opens. The
 *   library sees ioctls only, not opens and closes: a slave that the same
 *   process reopens keeps the state its last ioctl left. TIOCMGET adds CTS
 *   and DSR, raised, as a powered adapter holds them.
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

struct corvane_modem_line_report {
  uint32_t magic;
  uint32_t lines;           /* CORVANE_LINE_RTS | CORVANE_LINE_DTR, after the call */
  int64_t monotonic_ns;     /* CLOCK_MONOTONIC at the call */
  uint64_t device;          /* st_rdev of the slave */
  uint32_t pid;             /* the process that made the call */
  uint32_t request;         /* TIOCMBIS, TIOCMBIC or TIOCMSET */
};

#endif
