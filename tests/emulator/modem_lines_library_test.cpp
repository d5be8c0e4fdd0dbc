// The modem-line library, loaded into this test with dlopen and its ioctl
// and close called on a pseudo-terminal pair: modem requests on the slave
// succeed and are reported on the channel with the rate in force, the close
// of the slave's last descriptor ends the open and is reported too;
// everything else is the C library's answer.
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string>

#include "emulator/preload/modem_line_report.h"

namespace {

using IoctlFunction = int (*)(int, unsigned long, ...);
using CloseFunction = int (*)(int);

constexpr int kFixedInputs = TIOCM_CTS | TIOCM_DSR;

long long MonotonicNs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// A pseudo-terminal pair, a channel named in the environment, and the
// library's ioctl. Each test gets a fresh pair, so its slave starts with
// the lines as the driver leaves them at open.
class ModemLinesLibrary : public testing::Test {
 protected:
  void SetUp() override {
    library_ = dlopen(CORVANE_MODEM_LINES_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library_, nullptr) << dlerror();
    ioctl_ = reinterpret_cast<IoctlFunction>(dlsym(library_, "ioctl"));
    ASSERT_NE(ioctl_, nullptr);
    close_ = reinterpret_cast<CloseFunction>(dlsym(library_, "close"));
    ASSERT_NE(close_, nullptr);

    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(slave_, 0);
    struct stat status;
    ASSERT_EQ(fstat(slave_, &status), 0);
    device_ = status.st_rdev;

    channel_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    ASSERT_GE(channel_, 0);
    const std::string name = "corvane-modem-lines-test-" + std::to_string(getpid());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    ASSERT_EQ(bind(channel_, reinterpret_cast<const sockaddr*>(&address),
                   static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size())),
              0)
        << std::strerror(errno);
    setenv(CORVANE_MODEM_LINES_ENV, name.c_str(), 1);
  }

  void TearDown() override {
    unsetenv(CORVANE_MODEM_LINES_ENV);
    if (channel_ >= 0) close(channel_);
    // Through the library, so that a library left loaded forgets this slave.
    if (slave_ >= 0 && close_ != nullptr) close_(slave_);
    if (master_ >= 0) close(master_);
    if (library_ != nullptr) dlclose(library_);
  }

  int Lines() {
    int bits = -1;
    EXPECT_EQ(ioctl_(slave_, TIOCMGET, &bits), 0) << std::strerror(errno);
    return bits;
  }

  int Set(unsigned long request, int bits) { return ioctl_(slave_, request, &bits); }

  int OpenSlave() { return open(ptsname(master_), O_RDWR | O_NOCTTY | O_CLOEXEC); }

  // The next report, waiting a generous while: the library sends it before
  // its ioctl returns, so it is there already or never comes.
  std::optional<corvane_modem_line_report> NextReport(int wait_ms = 1000) {
    pollfd ready{channel_, POLLIN, 0};
    int got;
    do {
      got = poll(&ready, 1, wait_ms);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) return std::nullopt;
    corvane_modem_line_report report;
    if (recv(channel_, &report, sizeof report, 0) != static_cast<ssize_t>(sizeof report)) return std::nullopt;
    return report;
  }

  void* library_ = nullptr;
  IoctlFunction ioctl_ = nullptr;
  CloseFunction close_ = nullptr;
  int master_ = -1;
  int slave_ = -1;
  int channel_ = -1;
  dev_t device_ = 0;
};

TEST_F(ModemLinesLibrary, SlaveStartsWithBothLinesRaised) {
  EXPECT_EQ(Lines(), TIOCM_RTS | TIOCM_DTR | kFixedInputs);
  EXPECT_FALSE(NextReport(0)) << "a TIOCMGET is answered, not reported";
}

struct SetCase {
  const char* name;
  unsigned long request;
  int bits;
  int lines_after;    // TIOCMGET's RTS and DTR after the call, from both raised
  unsigned reported;  // the report's lines
};

std::ostream& operator<<(std::ostream& out, const SetCase& c) { return out << c.name; }

class ModemLinesSet : public ModemLinesLibrary, public testing::WithParamInterface<SetCase> {};

TEST_P(ModemLinesSet, SucceedsKeepsTheStateAndReportsIt) {
  const SetCase& c = GetParam();
  errno = 1234;  // a success leaves errno alone, as on a port
  const long long before = MonotonicNs();
  ASSERT_EQ(Set(c.request, c.bits), 0) << std::strerror(errno);
  const long long after = MonotonicNs();
  EXPECT_EQ(errno, 1234);
  EXPECT_EQ(Lines(), c.lines_after | kFixedInputs);

  const std::optional<corvane_modem_line_report> report = NextReport();
  ASSERT_TRUE(report);
  EXPECT_EQ(report->magic, CORVANE_MODEM_LINE_MAGIC);
  EXPECT_EQ(report->lines, c.reported);
  EXPECT_EQ(report->device, static_cast<uint64_t>(device_));
  EXPECT_EQ(report->pid, static_cast<uint32_t>(getpid()));
  EXPECT_EQ(report->request, static_cast<uint32_t>(c.request));
  EXPECT_GE(report->monotonic_ns, before);
  EXPECT_LE(report->monotonic_ns, after);
  EXPECT_FALSE(NextReport(0)) << "one call, one report";
}

INSTANTIATE_TEST_SUITE_P(Requests, ModemLinesSet,
                         testing::Values(SetCase{"clear_rts", TIOCMBIC, TIOCM_RTS, TIOCM_DTR, CORVANE_LINE_DTR},
                                         SetCase{"clear_dtr", TIOCMBIC, TIOCM_DTR, TIOCM_RTS, CORVANE_LINE_RTS},
                                         SetCase{"clear_both", TIOCMBIC, TIOCM_RTS | TIOCM_DTR, 0, 0},
                                         // Raising what is raised changes nothing, and is still reported.
                                         SetCase{"raise_raised_rts", TIOCMBIS, TIOCM_RTS, TIOCM_RTS | TIOCM_DTR,
                                                 CORVANE_LINE_RTS | CORVANE_LINE_DTR},
                                         SetCase{"set_dtr_only", TIOCMSET, TIOCM_DTR, TIOCM_DTR, CORVANE_LINE_DTR},
                                         // Bits other than RTS and DTR are no lines of ours.
                                         SetCase{"set_with_input_bits", TIOCMSET, TIOCM_RTS | TIOCM_CTS | TIOCM_RI,
                                                 TIOCM_RTS, CORVANE_LINE_RTS}),
                         [](const testing::TestParamInfo<SetCase>& info) { return info.param.name; });

TEST_F(ModemLinesLibrary, FollowsTheToolsPulses) {
  // The open's settings, then the pulses: the lines end with both raised.
  const struct {
    unsigned long request;
    int bits;
    unsigned lines;
  } calls[] = {
      {TIOCMBIC, TIOCM_DTR, CORVANE_LINE_RTS},
      {TIOCMBIC, TIOCM_RTS, 0},
      {TIOCMBIC, TIOCM_RTS, 0},
      {TIOCMBIS, TIOCM_DTR, CORVANE_LINE_DTR},
      {TIOCMBIC, TIOCM_DTR, 0},
      {TIOCMBIS, TIOCM_DTR, CORVANE_LINE_DTR},
      {TIOCMBIS, TIOCM_RTS, CORVANE_LINE_RTS | CORVANE_LINE_DTR},
  };
  long long last = 0;
  for (const auto& call : calls) {
    ASSERT_EQ(Set(call.request, call.bits), 0);
    const std::optional<corvane_modem_line_report> report = NextReport();
    ASSERT_TRUE(report);
    EXPECT_EQ(report->lines, call.lines);
    EXPECT_GE(report->monotonic_ns, last) << "reports in the order of the calls";
    last = report->monotonic_ns;
  }
  EXPECT_EQ(Lines(), TIOCM_RTS | TIOCM_DTR | kFixedInputs);
}

// Each report carries the rate the slave is set to when the call is made.
TEST_F(ModemLinesLibrary, ReportsTheRateInForce) {
  for (const speed_t speed : {B1200, B115200, B9600}) {
    termios settings;
    ASSERT_EQ(tcgetattr(slave_, &settings), 0);
    cfsetospeed(&settings, speed);
    cfsetispeed(&settings, speed);
    ASSERT_EQ(tcsetattr(slave_, TCSANOW, &settings), 0);
    ASSERT_EQ(Set(TIOCMBIC, TIOCM_RTS), 0);
    const std::optional<corvane_modem_line_report> report = NextReport();
    ASSERT_TRUE(report);
    EXPECT_EQ(report->speed, static_cast<uint32_t>(speed));
  }
}

// The close of the slave's last descriptor ends the open: it is reported,
// with the lines and the rate as they were, and the next open starts with
// both lines raised, as a serial driver starts each open, whatever the last
// one left.
TEST_F(ModemLinesLibrary, CloseEndsTheOpen) {
  termios settings;
  ASSERT_EQ(tcgetattr(slave_, &settings), 0);
  cfsetospeed(&settings, B115200);
  ASSERT_EQ(tcsetattr(slave_, TCSANOW, &settings), 0);
  ASSERT_EQ(Set(TIOCMBIC, TIOCM_DTR), 0);
  ASSERT_TRUE(NextReport());
  const long long before = MonotonicNs();
  errno = 1234;
  ASSERT_EQ(close_(slave_), 0);
  EXPECT_EQ(errno, 1234);
  slave_ = -1;
  const std::optional<corvane_modem_line_report> closed = NextReport();
  ASSERT_TRUE(closed);
  EXPECT_EQ(closed->request, CORVANE_MODEM_LINES_CLOSED);
  EXPECT_EQ(closed->lines, CORVANE_LINE_RTS);
  EXPECT_EQ(closed->speed, static_cast<uint32_t>(B115200));
  EXPECT_EQ(closed->device, static_cast<uint64_t>(device_));
  EXPECT_EQ(closed->pid, static_cast<uint32_t>(getpid()));
  EXPECT_GE(closed->monotonic_ns, before);
  EXPECT_FALSE(NextReport(0)) << "one close, one report";

  slave_ = OpenSlave();
  ASSERT_GE(slave_, 0);
  EXPECT_EQ(Lines(), TIOCM_RTS | TIOCM_DTR | kFixedInputs);
  ASSERT_EQ(Set(TIOCMBIC, TIOCM_RTS), 0);
  const std::optional<corvane_modem_line_report> next = NextReport();
  ASSERT_TRUE(next);
  EXPECT_EQ(next->lines, CORVANE_LINE_DTR) << "from both raised, not from what the last open left";
  // And the reopened slave's close is reported as well.
  ASSERT_EQ(close_(slave_), 0);
  slave_ = -1;
  const std::optional<corvane_modem_line_report> closed_again = NextReport();
  ASSERT_TRUE(closed_again);
  EXPECT_EQ(closed_again->request, CORVANE_MODEM_LINES_CLOSED);
}

// While another descriptor of the slave is open in the process, the open
// goes on.
TEST_F(ModemLinesLibrary, AnotherDescriptorKeepsTheOpen) {
  ASSERT_EQ(Set(TIOCMBIC, TIOCM_DTR), 0);
  ASSERT_TRUE(NextReport());
  const int second = OpenSlave();
  ASSERT_GE(second, 0);
  ASSERT_EQ(close_(slave_), 0);
  slave_ = second;
  EXPECT_FALSE(NextReport(0));
  EXPECT_EQ(Lines(), TIOCM_RTS | kFixedInputs);
  ASSERT_EQ(close_(slave_), 0);
  slave_ = -1;
  const std::optional<corvane_modem_line_report> closed = NextReport();
  ASSERT_TRUE(closed);
  EXPECT_EQ(closed->request, CORVANE_MODEM_LINES_CLOSED);
}

// A process that has made no modem request on a slave has no open of its
// lines to end; other descriptors close as the C library closes them.
TEST_F(ModemLinesLibrary, OtherClosesAreTheCLibrarys) {
  const int pipe_end = [] {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return -1;
    close(ends[1]);
    return ends[0];
  }();
  ASSERT_GE(pipe_end, 0);
  ASSERT_EQ(Set(TIOCMBIC, TIOCM_DTR), 0);  // on the slave: the master and the pipe are no lines
  ASSERT_TRUE(NextReport());
  EXPECT_EQ(close_(pipe_end), 0);
  const int master = master_;
  master_ = -1;
  EXPECT_EQ(close_(master), 0);
  errno = 0;
  EXPECT_EQ(close_(pipe_end), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_FALSE(NextReport(0));
}

TEST_F(ModemLinesLibrary, ASlaveWithoutRequestsClosesUnreported) {
  ASSERT_EQ(close_(slave_), 0);
  slave_ = -1;
  EXPECT_FALSE(NextReport(0));
}

TEST_F(ModemLinesLibrary, WorksWithNobodyListening) {
  unsetenv(CORVANE_MODEM_LINES_ENV);
  EXPECT_EQ(Set(TIOCMBIC, TIOCM_RTS), 0);
  EXPECT_EQ(Lines(), TIOCM_DTR | kFixedInputs);
  setenv(CORVANE_MODEM_LINES_ENV, "corvane-modem-lines-test-nobody-binds-this", 1);
  EXPECT_EQ(Set(TIOCMBIS, TIOCM_RTS), 0);
  EXPECT_EQ(Lines(), TIOCM_RTS | TIOCM_DTR | kFixedInputs);
  EXPECT_FALSE(NextReport(0));
}

TEST_F(ModemLinesLibrary, MissingArgumentFailsAsOnAPort) {
  EXPECT_EQ(ioctl_(slave_, TIOCMGET, nullptr), -1);
  EXPECT_EQ(errno, EFAULT);
  EXPECT_EQ(ioctl_(slave_, TIOCMBIS, nullptr), -1);
  EXPECT_EQ(errno, EFAULT);
  EXPECT_FALSE(NextReport(0));
}

// CORVANE_MODEM_LINES_ABSENT makes the slave a port without modem lines that
// answers with the errno named; any other value leaves the lines emulated.
struct AbsentCase {
  const char* name;
  const char* value;
  int error;  // 0: the lines are emulated
};

std::ostream& operator<<(std::ostream& out, const AbsentCase& c) { return out << c.name; }

class ModemLinesAbsent : public ModemLinesLibrary, public testing::WithParamInterface<AbsentCase> {
 protected:
  void TearDown() override {
    unsetenv(CORVANE_MODEM_LINES_ABSENT_ENV);
    ModemLinesLibrary::TearDown();
  }
};

TEST_P(ModemLinesAbsent, AnswersAsAPortWithoutLines) {
  const AbsentCase& c = GetParam();
  ASSERT_EQ(Set(TIOCMBIC, TIOCM_DTR), 0);
  ASSERT_TRUE(NextReport());
  setenv(CORVANE_MODEM_LINES_ABSENT_ENV, c.value, 1);

  int bits = -1;
  errno = 0;
  const int got = ioctl_(slave_, TIOCMGET, &bits);
  const int got_errno = errno;
  errno = 0;
  const int set = Set(TIOCMBIS, TIOCM_DTR);
  const int set_errno = errno;
  if (c.error != 0) {
    EXPECT_EQ(got, -1);
    EXPECT_EQ(got_errno, c.error);
    EXPECT_EQ(set, -1);
    EXPECT_EQ(set_errno, c.error);
    EXPECT_FALSE(NextReport(0)) << "a port without lines reports nothing";
  } else {
    EXPECT_EQ(got, 0);
    EXPECT_EQ(bits, TIOCM_RTS | kFixedInputs);
    EXPECT_EQ(set, 0);
    EXPECT_TRUE(NextReport());
  }
  // The state kept before is the state after: a refused request changes none.
  unsetenv(CORVANE_MODEM_LINES_ABSENT_ENV);
  EXPECT_EQ(Lines(), (c.error != 0 ? TIOCM_RTS : TIOCM_RTS | TIOCM_DTR) | kFixedInputs);
}

INSTANTIATE_TEST_SUITE_P(Values, ModemLinesAbsent,
                         testing::Values(AbsentCase{"einval", "EINVAL", EINVAL}, AbsentCase{"enotty", "ENOTTY", ENOTTY},
                                         AbsentCase{"empty", "", 0}, AbsentCase{"lower_case", "einval", 0},
                                         AbsentCase{"other_errno", "EIO", 0}),
                         [](const testing::TestParamInfo<AbsentCase>& info) { return info.param.name; });

// Where the C library's answer is left as it is: the call's result and errno
// are those of the real ioctl, and nothing is reported.
struct PassCase {
  const char* name;
  int (*descriptor)(int master, int slave, int* opened);  // the fd to call on
  unsigned long request;
};

std::ostream& operator<<(std::ostream& out, const PassCase& c) { return out << c.name; }

int Master(int master, int, int*) { return master; }
int Slave(int, int slave, int*) { return slave; }
int DevNull(int, int, int* opened) { return *opened = open("/dev/null", O_RDWR | O_CLOEXEC); }
int Pipe(int, int, int* opened) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return -1;
  close(ends[1]);
  return *opened = ends[0];
}

class ModemLinesPassThrough : public ModemLinesLibrary, public testing::WithParamInterface<PassCase> {};

TEST_P(ModemLinesPassThrough, LeavesTheCLibrarysAnswer) {
  const PassCase& c = GetParam();
  int opened = -1;
  const int fd = c.descriptor(master_, slave_, &opened);
  ASSERT_GE(fd, 0);
  // Room for the largest answer among the requests (a window size).
  int bits[4] = {TIOCM_RTS, 0, 0, 0};
  int bits_direct[4] = {TIOCM_RTS, 0, 0, 0};
  errno = 0;
  const int direct = ioctl(fd, c.request, bits_direct);  // this test's own ioctl: the C library's
  const int direct_errno = errno;
  errno = 0;
  const int through = ioctl_(fd, c.request, bits);
  EXPECT_EQ(through, direct);
  EXPECT_EQ(errno, direct_errno);
  EXPECT_EQ(std::memcmp(bits, bits_direct, sizeof bits), 0);
  EXPECT_FALSE(NextReport(0));
  if (opened >= 0) close(opened);
}

INSTANTIATE_TEST_SUITE_P(Calls, ModemLinesPassThrough,
                         testing::Values(PassCase{"modem_request_on_the_master", Master, TIOCMBIS},
                                         PassCase{"modem_request_on_dev_null", DevNull, TIOCMGET},
                                         PassCase{"modem_request_on_a_pipe", Pipe, TIOCMSET},
                                         PassCase{"input_count_on_the_slave", Slave, FIONREAD},
                                         PassCase{"window_size_on_the_slave", Slave, TIOCGWINSZ},
                                         PassCase{"unknown_request_on_the_slave", Slave, 0x54FFul}),
                         [](const testing::TestParamInfo<PassCase>& info) { return info.param.name; });

}  // namespace
