// Raising and lowering the RTS and DTR modem lines.
#ifndef CORVANE_PLATFORM_POSIX_MODEM_LINES_H
#define CORVANE_PLATFORM_POSIX_MODEM_LINES_H

namespace corvane_posix {

// Raises (`raised`) or lowers the modem line `line` (TIOCM_RTS or TIOCM_DTR)
// of the device open on `fd`. Returns 0 on success, else the errno of the
// modem-control ioctl: ENOTTY or EINVAL where the device has no modem lines
// (a pseudo-terminal), anything else when the device failed.
int set_modem_line(int fd, int line, bool raised);

// True for the errors by which a device says it has no modem lines: ENOTTY
// (a pseudo-terminal) or EINVAL (some serial drivers).
bool lacks_modem_lines(int error);

}  // namespace corvane_posix

#endif
