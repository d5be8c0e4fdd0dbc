/* Emulated modem lines for the slave side of a pseudo-terminal, loaded with
 * LD_PRELOAD into the program under test. A pseudo-terminal has no modem
 * lines, so the modem-control ioctls fail on it; here they succeed as on a
 * serial port, the library keeps RTS and DTR itself and reports each call to
 * corvane-emulator, and the close that ends an open. The channel, the
 * reports and the state each open of a line starts with are described in
 * emulator/preload/modem_line_report.h.
 *
 * Every ioctl goes to the C library first; only a modem-control request on a
 * pseudo-terminal slave that failed with ENOTTY or EINVAL is taken over, so
 * a real port, and every other request, is untouched. The wrapper allocates
 * nothing and keeps errno as the port would: unchanged by a success. With
 * CORVANE_MODEM_LINES_ABSENT set, the slave plays a port without lines. */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/time.h>
#include <sys/un.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "emulator/preload/modem_line_report.h"

typedef int (*ioctl_function)(int, unsigned long, ...);
typedef int (*close_function)(int);

/* UNIX98 pseudo-terminal slaves: majors 136 to 143. */
enum { kFirstPtySlaveMajor = 136, kLastPtySlaveMajor = 143 };

/* A process that pulses more pseudo-terminals than this gets the C library's
 * answer for the rest. */
enum { kSlots = 32 };

/* How long a report may wait for room in the emulator's queue. */
enum { kSendPatienceUs = 100000 };

/* The state each open of a slave starts with: the driver raises both lines. */
static const unsigned kOpenState = CORVANE_LINE_RTS | CORVANE_LINE_DTR;

/* A slot holds one slave's lines. A freshly claimed slot is all zero and
 * stands for the open state; once a request has set the lines, kSet marks
 * the stored bits as the state. The close that ends an open clears the slot
 * back to zero but keeps it claimed. */
static const unsigned kSet = 4u;

struct line_slot {
  _Atomic uint64_t device; /* 0: free; no pty slave has device number 0 */
  _Atomic unsigned stored;
};

static struct line_slot slots[kSlots];
static _Atomic(ioctl_function) next_ioctl;
static _Atomic(close_function) next_close;

static ioctl_function resolve_next_ioctl(void) {
  ioctl_function found = atomic_load(&next_ioctl);
  if (found == NULL) {
    found = (ioctl_function)dlsym(RTLD_NEXT, "ioctl");
    atomic_store(&next_ioctl, found);
  }
  return found;
}

static close_function resolve_next_close(void) {
  close_function found = atomic_load(&next_close);
  if (found == NULL) {
    found = (close_function)dlsym(RTLD_NEXT, "close");
    atomic_store(&next_close, found);
  }
  return found;
}

/* The library's own descriptors are closed past its close(), which would
 * otherwise look at each of them. */
static void close_own(int fd) {
  const close_function next = resolve_next_close();
  if (next != NULL) next(fd);
}

static int is_modem_request(unsigned long request) {
  return request == TIOCMGET || request == TIOCMBIS || request == TIOCMBIC || request == TIOCMSET;
}

static int pty_slave_device(int fd, uint64_t* device) {
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode)) return 0;
  const unsigned major_number = major(status.st_rdev);
  if (major_number < kFirstPtySlaveMajor || major_number > kLastPtySlaveMajor) return 0;
  *device = (uint64_t)status.st_rdev;
  return 1;
}

/* The slot of a slave this process has made a modem request on, or NULL. */
static struct line_slot* claimed_slot(uint64_t device) {
  for (int i = 0; i < kSlots; ++i) {
    const uint64_t held = atomic_load(&slots[i].device);
    if (held == 0) return NULL; /* slots are claimed in order and never freed */
    if (held == device) return &slots[i];
  }
  return NULL;
}

static struct line_slot* slot_for(uint64_t device) {
  for (int i = 0; i < kSlots; ++i) {
    uint64_t held = atomic_load(&slots[i].device);
    if (held == 0) {
      uint64_t expected = 0;
      if (atomic_compare_exchange_strong(&slots[i].device, &expected, device)) return &slots[i];
      held = expected;
    }
    if (held == device) return &slots[i];
  }
  return NULL;
}

static unsigned line_bits(int tiocm) {
  return ((tiocm & TIOCM_RTS) ? CORVANE_LINE_RTS : 0u) | ((tiocm & TIOCM_DTR) ? CORVANE_LINE_DTR : 0u);
}

static int tiocm_bits(unsigned lines) {
  return ((lines & CORVANE_LINE_RTS) ? TIOCM_RTS : 0) | ((lines & CORVANE_LINE_DTR) ? TIOCM_DTR : 0) | TIOCM_CTS |
         TIOCM_DSR;
}

static unsigned lines_of(unsigned stored) {
  return (stored & kSet) ? stored & (CORVANE_LINE_RTS | CORVANE_LINE_DTR) : kOpenState;
}

/* The state after a set request, written into the slot. */
static unsigned apply_request(struct line_slot* slot, unsigned long request, unsigned bits) {
  unsigned stored = atomic_load(&slot->stored);
  unsigned lines;
  do {
    const unsigned now = lines_of(stored);
    lines = request == TIOCMSET ? bits : request == TIOCMBIS ? now | bits : now & ~bits;
  } while (!atomic_compare_exchange_weak(&slot->stored, &stored, lines | kSet));
  return lines;
}

static uint32_t output_speed(int fd) {
  struct termios settings;
  if (tcgetattr(fd, &settings) != 0) return CORVANE_SPEED_UNKNOWN;
  return (uint32_t)cfgetospeed(&settings);
}

static void send_report(uint64_t device, unsigned lines, unsigned long request, uint32_t speed,
                        const struct timespec* at) {
  const char* name = getenv(CORVANE_MODEM_LINES_ENV);
  if (name == NULL || name[0] == '\0') return;
  struct sockaddr_un address;
  const size_t length = strlen(name);
  if (length + 1 > sizeof address.sun_path) return;
  memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  memcpy(address.sun_path + 1, name, length); /* sun_path[0] stays 0: abstract */
  const socklen_t size = (socklen_t)(offsetof(struct sockaddr_un, sun_path) + 1 + length);

  const int channel = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (channel < 0) return;
  /* The emulator's queue holds only a few datagrams; should it be full, wait
   * a little for it to read rather than lose a change of the lines, but never
   * hold the program up for long. */
  const struct timeval patience = {0, kSendPatienceUs};
  setsockopt(channel, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
  struct corvane_modem_line_report report;
  memset(&report, 0, sizeof report);
  report.magic = CORVANE_MODEM_LINE_MAGIC;
  report.lines = lines;
  report.monotonic_ns = (int64_t)at->tv_sec * 1000000000 + at->tv_nsec;
  report.device = device;
  report.pid = (uint32_t)getpid();
  report.request = (uint32_t)request;
  report.speed = speed;
  ssize_t sent;
  do {
    sent = sendto(channel, &report, sizeof report, MSG_NOSIGNAL, (const struct sockaddr*)&address, size);
  } while (sent < 0 && errno == EINTR);
  close_own(channel);
}

/* The errno that CORVANE_MODEM_LINES_ABSENT asks the slave to fail modem
 * requests with, or 0 when the lines are to be emulated. */
static int absent_lines_error(void) {
  const char* absent = getenv(CORVANE_MODEM_LINES_ABSENT_ENV);
  if (absent == NULL) return 0;
  if (strcmp(absent, "EINVAL") == 0) return EINVAL;
  if (strcmp(absent, "ENOTTY") == 0) return ENOTTY;
  return 0;
}

/* Answers a modem request on a slave in place of the driver; -1 with errno
 * set when the request cannot be answered. */
static int emulate(int fd, uint64_t device, unsigned long request, int* argument) {
  struct line_slot* slot = slot_for(device);
  if (slot == NULL) return -1;
  if (argument == NULL) {
    errno = EFAULT;
    return -1;
  }
  if (request == TIOCMGET) {
    *argument = tiocm_bits(lines_of(atomic_load(&slot->stored)));
    return 0;
  }
  struct timespec at;
  clock_gettime(CLOCK_MONOTONIC, &at);
  const unsigned lines = apply_request(slot, request, line_bits(*argument));
  send_report(device, lines, request, output_speed(fd), &at);
  return 0;
}

int ioctl(int fd, unsigned long request, ...) {
  va_list arguments;
  va_start(arguments, request);
  void* argument = va_arg(arguments, void*);
  va_end(arguments);

  const int before = errno;
  const ioctl_function next = resolve_next_ioctl();
  if (next == NULL) {
    errno = ENOSYS;
    return -1;
  }
  const int result = next(fd, request, argument);
  if (result == 0 || !is_modem_request(request)) return result;
  const int failure = errno;
  uint64_t device = 0;
  if ((failure != ENOTTY && failure != EINVAL) || !pty_slave_device(fd, &device)) {
    errno = failure;
    return result;
  }
  const int absent = absent_lines_error();
  if (absent != 0) {
    errno = absent;
    return -1;
  }
  if (emulate(fd, device, request, (int*)argument) != 0) {
    if (errno != EFAULT) errno = failure;
    return -1;
  }
  errno = before;
  return 0;
}

/* True when the process holds a descriptor other than fd of the device.
 * Reads /proc/self/fd into a buffer on the stack: nothing is allocated. */
static int another_descriptor_of(int fd, uint64_t device) {
  const int folder = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return 0;
  int found = 0;
  char buffer[4096];
  ssize_t got;
  while (!found && (got = getdents64(folder, buffer, sizeof buffer)) > 0) {
    for (ssize_t at = 0; at < got && !found;) {
      const struct dirent64* entry = (const struct dirent64*)(buffer + at);
      at += entry->d_reclen;
      char* end = NULL;
      const long other = strtol(entry->d_name, &end, 10);
      if (end == entry->d_name || *end != '\0' || other == fd || other == folder) continue;
      struct stat status;
      found = fstat((int)other, &status) == 0 && S_ISCHR(status.st_mode) && (uint64_t)status.st_rdev == device;
    }
  }
  close_own(folder);
  return found;
}

/* The close of the last descriptor of a slave ends its open: the lines go
 * back to the open state and the emulator hears of it before the close. */
int close(int fd) {
  const close_function next = resolve_next_close();
  if (next == NULL) {
    errno = ENOSYS;
    return -1;
  }
  const int before = errno;
  uint64_t device = 0;
  struct line_slot* slot = pty_slave_device(fd, &device) ? claimed_slot(device) : NULL;
  if (slot != NULL && !another_descriptor_of(fd, device)) {
    struct timespec at;
    clock_gettime(CLOCK_MONOTONIC, &at);
    const unsigned lines = lines_of(atomic_exchange(&slot->stored, 0u));
    send_report(device, lines, CORVANE_MODEM_LINES_CLOSED, output_speed(fd), &at);
  }
  errno = before;
  return next(fd);
}
