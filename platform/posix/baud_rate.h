// Line rates in bits per second and the termios speed codes that stand for them.
#ifndef CORVANE_PLATFORM_POSIX_BAUD_RATE_H
#define CORVANE_PLATFORM_POSIX_BAUD_RATE_H

#include <termios.h>

#include "platform/posix/win32_subset.h"

namespace corvane_posix {

// The speed code for `rate`. Returns true and sets *speed for the standard
// rates termios knows; false for any other rate (including 0, which would
// hang the line up rather than set a rate).
bool speed_for_rate(DWORD rate, speed_t* speed);

// The rate in bits per second that `speed` stands for; 0 for a code outside
// the table (B0, or a rate set by means other than termios).
DWORD rate_for_speed(speed_t speed);

}  // namespace corvane_posix

#endif
