// Line settings: GetCommState and SetCommState over the device's termios.
#include <sys/ioctl.h>
#include <termios.h>
#include <cerrno>

#include "platform/posix/baud_rate.h"
#include "platform/posix/handle.h"
#include "platform/posix/last_error.h"
#include "platform/posix/modem_lines.h"

namespace {

using corvane_posix::fail;

int get_settings(int fd, termios* settings) {
  int result;
  do {
    result = tcgetattr(fd, settings);
  } while (result < 0 && errno == EINTR);
  return result < 0 ? errno : 0;
}

int put_settings(int fd, const termios& settings) {
  int result;
  do {
    result = tcsetattr(fd, TCSANOW, &settings);
  } while (result < 0 && errno == EINTR);
  return result < 0 ? errno : 0;
}

tcflag_t size_flag(BYTE byteSize) {
  switch (byteSize) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
  }
}

BYTE byte_size(tcflag_t cflag) {
  switch (cflag & CSIZE) {
    case CS5: return 5;
    case CS6: return 6;
    case CS7: return 7;
    default: return 8;
  }
}

// Windows refuses the same combinations: 1.5 stop bits exist only with five
// data bits, two only with more.
bool frame_is_valid(const DCB& dcb) {
  if (dcb.ByteSize < 5 || dcb.ByteSize > 8) return false;
  switch (dcb.StopBits) {
    case ONESTOPBIT: break;
    case ONE5STOPBITS:
      if (dcb.ByteSize != 5) return false;
      break;
    case TWOSTOPBITS:
      if (dcb.ByteSize == 5) return false;
      break;
    default: return false;
  }
  switch (dcb.Parity) {
    case NOPARITY:
    case ODDPARITY:
    case EVENPARITY: return true;
#ifdef CMSPAR
    case MARKPARITY:
    case SPACEPARITY: return true;
#endif
    default: return false;
  }
}

// RTS_CONTROL_TOGGLE (RTS raised only while sending) has no termios
// equivalent, so it is refused rather than silently turned into something else.
bool line_modes_are_valid(const DCB& dcb) {
  return dcb.fDtrControl <= DTR_CONTROL_HANDSHAKE && dcb.fRtsControl <= RTS_CONTROL_HANDSHAKE;
}

// The edits of cfmakeraw, done on the record the device reported so that
// every flag outside them survives (EXTPROC, which the other side of a
// pseudo-terminal sets, for one). CLOCAL keeps a missing carrier from
// hanging the line up; VMIN 1, VTIME 0 because all timing is ours.
void make_raw(termios* settings) {
  settings->c_iflag &=
      ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK);
  settings->c_oflag &= ~static_cast<tcflag_t>(OPOST);
  settings->c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  settings->c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
  settings->c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
  settings->c_cflag |= CLOCAL | CREAD;
  settings->c_cc[VMIN] = 1;
  settings->c_cc[VTIME] = 0;
}

void apply_frame(const DCB& dcb, termios* settings) {
  settings->c_cflag |= size_flag(dcb.ByteSize);
  if (dcb.StopBits != ONESTOPBIT) settings->c_cflag |= CSTOPB;
  switch (dcb.Parity) {
    case ODDPARITY: settings->c_cflag |= PARENB | PARODD; break;
    case EVENPARITY: settings->c_cflag |= PARENB; break;
#ifdef CMSPAR
    case MARKPARITY: settings->c_cflag |= PARENB | CMSPAR | PARODD; break;
    case SPACEPARITY: settings->c_cflag |= PARENB | CMSPAR; break;
#endif
    default: break;
  }
  if (dcb.fParity) settings->c_iflag |= INPCK;
}

void apply_flow_control(const DCB& dcb, termios* settings) {
  if (dcb.fOutxCtsFlow) settings->c_cflag |= CRTSCTS;
  if (dcb.fOutX) settings->c_iflag |= IXON;
  if (dcb.fInX) settings->c_iflag |= IXOFF;
  settings->c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
  settings->c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
}

// DISABLE lowers the line; ENABLE and HANDSHAKE raise it (with hardware flow
// control the driver takes RTS over through CRTSCTS). RTS first, then DTR:
// Windows' SetCommState, as port monitors show it, sets the rate, then RTS,
// then DTR, and a device that watches the lines sees them change in that
// order. A device without modem lines is no failure. Returns 0 or the errno
// of the failed ioctl.
int apply_line_modes(int fd, const DCB& dcb) {
  int rts = corvane_posix::set_modem_line(fd, TIOCM_RTS, dcb.fRtsControl != RTS_CONTROL_DISABLE);
  if (rts != 0 && !corvane_posix::lacks_modem_lines(rts)) return rts;
  int dtr = corvane_posix::set_modem_line(fd, TIOCM_DTR, dcb.fDtrControl != DTR_CONTROL_DISABLE);
  if (dtr != 0 && !corvane_posix::lacks_modem_lines(dtr)) return dtr;
  return 0;
}

}  // namespace

// GetCommState: reports the line settings of the open device in `dcb`.
//
// From the device's termios: BaudRate (0 for a rate outside the standard
// table), ByteSize, Parity, fParity (input parity checking), StopBits,
// fOutxCtsFlow (CRTSCTS), fOutX and fInX (IXON, IXOFF), XonChar and XoffChar
// (VSTART, VSTOP). fBinary is always 1 and DCBlength is set to sizeof(DCB).
// Every other field (the DTR and RTS control modes, the XON/XOFF limits, the
// error, end-of-file and event characters, the DSR fields, ...) is what the
// last successful SetCommState on this handle was given, or the fresh-port
// default (both control modes ENABLE, the rest 0), so a read-modify-write
// round trip keeps it.
//
// Returns TRUE with `dcb` filled.
// Returns FALSE with the last error set to ERROR_INVALID_HANDLE (not a live
// handle), ERROR_INVALID_PARAMETER (`dcb` is nullptr) or the code for the
// errno of tcgetattr (ERROR_BAD_COMMAND for a device that vanished).
BOOL GetCommState(HANDLE file, LPDCB dcb) {
  corvane_posix::PortRecord* record = corvane_posix::record_of(file);
  if (record == nullptr) return FALSE;
  if (dcb == nullptr) return fail(EINVAL);
  termios settings{};
  int error = get_settings(record->fd, &settings);
  if (error != 0) return fail(error);

  DCB state = record->remembered;
  state.DCBlength = sizeof(DCB);
  state.BaudRate = corvane_posix::rate_for_speed(cfgetospeed(&settings));
  state.fBinary = 1;
  state.fParity = (settings.c_iflag & INPCK) ? 1 : 0;
  state.ByteSize = byte_size(settings.c_cflag);
  state.Parity = NOPARITY;
  if (settings.c_cflag & PARENB) {
    bool odd = (settings.c_cflag & PARODD) != 0;
    state.Parity = odd ? ODDPARITY : EVENPARITY;
#ifdef CMSPAR
    if (settings.c_cflag & CMSPAR) state.Parity = odd ? MARKPARITY : SPACEPARITY;
#endif
  }
  state.StopBits = ONESTOPBIT;
  if (settings.c_cflag & CSTOPB) state.StopBits = state.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
  state.fOutxCtsFlow = (settings.c_cflag & CRTSCTS) ? 1 : 0;
  state.fOutX = (settings.c_iflag & IXON) ? 1 : 0;
  state.fInX = (settings.c_iflag & IXOFF) ? 1 : 0;
  state.XonChar = static_cast<char>(settings.c_cc[VSTART]);
  state.XoffChar = static_cast<char>(settings.c_cc[VSTOP]);
  *dcb = state;
  return TRUE;
}

// SetCommState: applies the line settings in `dcb` to the open device.
//
// The device's own termios is read, edited and written back: raw bytes (no
// translation, no echo, no signals), CLOCAL and CREAD, reads of at least one
// byte without VTIME, the rate, data bits, parity, stop bits, CRTSCTS from
// fOutxCtsFlow, IXON and IXOFF from fOutX and fInX, VSTART and VSTOP from
// XonChar and XoffChar; flags outside these edits keep the device's values.
// Both line speeds, input and output, are read back after the write; a
// device that did not take both fails the call and gets its previous
// settings back. Then RTS and DTR, in that order as on Windows, follow their
// control modes: DISABLE lowers the line, ENABLE and HANDSHAKE raise it; a
// device without modem lines (a pseudo-terminal, or a driver that answers
// the modem-control requests with ENOTTY or EINVAL) does not fail the call.
// The whole record is remembered for GetCommState. Fields that termios has
// no place for (fOutxDsrFlow, fDsrSensitivity, fTXContinueOnXoff,
// fErrorChar, fNull, fAbortOnError, the limits and the error, end-of-file
// and event characters) are remembered but have no effect here.
//
// Returns TRUE when the settings are in force.
// Returns FALSE with the last error set to:
//   ERROR_INVALID_HANDLE     not a live handle;
//   ERROR_INVALID_PARAMETER  `dcb` is nullptr; a rate outside the standard
//                            termios rates; ByteSize outside 5..8, an unknown
//                            Parity or StopBits or a stop bit count the data
//                            bits do not allow; RTS_CONTROL_TOGGLE or an
//                            unknown control mode; or the device did not take
//                            the rate in both directions (the previous
//                            settings are then put back);
//   the code for the errno of tcgetattr, tcsetattr or a failed modem-line
//   ioctl otherwise (ERROR_BAD_COMMAND for a device that vanished).
BOOL SetCommState(HANDLE file, LPDCB dcb) {
  corvane_posix::PortRecord* record = corvane_posix::record_of(file);
  if (record == nullptr) return FALSE;
  if (dcb == nullptr) return fail(EINVAL);
  speed_t speed;
  if (!corvane_posix::speed_for_rate(dcb->BaudRate, &speed)) return fail(EINVAL);
  if (!frame_is_valid(*dcb) || !line_modes_are_valid(*dcb)) return fail(EINVAL);

  termios before{};
  int error = get_settings(record->fd, &before);
  if (error != 0) return fail(error);
  termios wanted = before;
  make_raw(&wanted);
  apply_frame(*dcb, &wanted);
  apply_flow_control(*dcb, &wanted);
  cfsetispeed(&wanted, speed);
  cfsetospeed(&wanted, speed);
  error = put_settings(record->fd, wanted);
  if (error != 0) return fail(error);

  // tcsetattr succeeds when any part of the change was taken.
  termios taken{};
  error = get_settings(record->fd, &taken);
  if (error != 0) return fail(error);
  if (cfgetospeed(&taken) != speed || cfgetispeed(&taken) != speed) {
    put_settings(record->fd, before);
    return fail(EINVAL);
  }

  error = apply_line_modes(record->fd, *dcb);
  if (error != 0) return fail(error);
  record->remembered = *dcb;
  record->remembered.DCBlength = sizeof(DCB);
  return TRUE;
}
