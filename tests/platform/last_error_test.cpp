// GetLastError speaks Win32: every errno the layer can meet comes out as the
// code Windows gives for the same condition on a serial port. The expected
// codes are written here as numbers, the ones a technician reads in the
// tool's messages, so that a wrong constant fails as surely as a wrong row.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <ostream>
#include <string>
#include <thread>

#include "platform/posix/last_error.h"
#include "platform/serial_api.h"
#include "tests/platform/open_port.h"

namespace {

using corvane_posix::FailedCall;

struct CodeCase {
  const char* name;
  int error;
  DWORD opening;  // from CreateFileA
  DWORD on_port;  // from a call on the open port
};

void PrintTo(const CodeCase& c, std::ostream* os) { *os << c.name; }

class ErrorTable : public ::testing::TestWithParam<CodeCase> {};

TEST_P(ErrorTable, GivesTheWindowsCode) {
  const CodeCase& c = GetParam();
  EXPECT_EQ(corvane_posix::win32_error_for(c.error, FailedCall::open_device), c.opening);
  EXPECT_EQ(corvane_posix::win32_error_for(c.error, FailedCall::open_port), c.on_port);

  EXPECT_EQ(corvane_posix::fail(c.error), FALSE);
  EXPECT_EQ(GetLastError(), c.on_port);
  EXPECT_EQ(corvane_posix::last_errno(), c.error);

  corvane_posix::fail_to_open(c.error);
  EXPECT_EQ(GetLastError(), c.opening);
  EXPECT_EQ(corvane_posix::last_errno(), c.error);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ErrorTable,
    ::testing::Values(
        // A missing device, and a node with no device behind it.
        CodeCase{"ENOENT_file_not_found", ENOENT, 2, 2}, CodeCase{"ENOTDIR_path_not_found", ENOTDIR, 3, 3},
        // At the open a port that is not there; later a port that vanished.
        CodeCase{"EIO_not_found_then_bad_command", EIO, 2, 22},
        CodeCase{"ENXIO_not_found_then_bad_command", ENXIO, 2, 22},
        CodeCase{"ENODEV_not_found_then_bad_command", ENODEV, 2, 22},
        // No permission, and a port held by another program.
        CodeCase{"EACCES_access_denied", EACCES, 5, 5}, CodeCase{"EPERM_access_denied", EPERM, 5, 5},
        CodeCase{"EROFS_access_denied", EROFS, 5, 5}, CodeCase{"EISDIR_access_denied", EISDIR, 5, 5},
        CodeCase{"EBUSY_access_denied", EBUSY, 5, 5}, CodeCase{"EWOULDBLOCK_access_denied", EWOULDBLOCK, 5, 5},
        CodeCase{"ENAMETOOLONG_invalid_name", ENAMETOOLONG, 123, 123},
        CodeCase{"ELOOP_cant_resolve_filename", ELOOP, 1921, 1921},
        CodeCase{"EMFILE_too_many_open_files", EMFILE, 4, 4}, CodeCase{"ENFILE_too_many_open_files", ENFILE, 4, 4},
        CodeCase{"ENOMEM_not_enough_memory", ENOMEM, 8, 8},
        // Not a serial port, or a request it does not support.
        CodeCase{"ENOTTY_invalid_function", ENOTTY, 1, 1}, CodeCase{"EOPNOTSUPP_not_supported", EOPNOTSUPP, 50, 50},
        CodeCase{"EBADF_invalid_handle", EBADF, 6, 6}, CodeCase{"EINVAL_invalid_parameter", EINVAL, 87, 87},
        CodeCase{"EFAULT_noaccess", EFAULT, 998, 998}, CodeCase{"ETIMEDOUT_sem_timeout", ETIMEDOUT, 121, 121},
        CodeCase{"ETIME_sem_timeout", ETIME, 121, 121},
        // A wait cut short by an interruption.
        CodeCase{"ECANCELED_operation_aborted", ECANCELED, 995, 995},
        CodeCase{"EINTR_operation_aborted", EINTR, 995, 995},
        // Whatever no row names: a device that is not functioning.
        CodeCase{"ENOLCK_gen_failure", ENOLCK, 31, 31}, CodeCase{"EXDEV_gen_failure", EXDEV, 31, 31},
        CodeCase{"unknown_number_gen_failure", 99999, 31, 31}),
    [](const ::testing::TestParamInfo<CodeCase>& info) { return info.param.name; });

TEST(SetLastError, SetsTheCodeAsGiven) {
  corvane_posix::fail(EIO);
  for (DWORD code : {DWORD{123}, DWORD{0}, DWORD{5}, DWORD{0xE0000001u}}) {
    SetLastError(code);
    EXPECT_EQ(GetLastError(), code);
    EXPECT_EQ(corvane_posix::last_errno(), 0) << "a code set by hand has no errno behind it";
  }
}

TEST(GetLastError, BelongsToTheCallingThread) {
  SetLastError(0);
  corvane_posix::fail(EBADF);
  std::thread other([] {
    EXPECT_EQ(GetLastError(), 0u) << "a fresh thread starts without a failure";
    corvane_posix::fail(EIO);
    EXPECT_EQ(GetLastError(), 22u);
  });
  other.join();
  EXPECT_EQ(GetLastError(), 6u);
}

// The open's failures as CreateFileA reports them, from devices that fail
// that way here.
struct OpenCase {
  const char* name;
  std::string path;
  DWORD code;
  int error;
};

void PrintTo(const OpenCase& c, std::ostream* os) { *os << c.name; }

class OpenFailure : public ::testing::TestWithParam<OpenCase> {};

TEST_P(OpenFailure, GivesTheWindowsCode) {
  const OpenCase& c = GetParam();
  SetLastError(0);
  HANDLE handle = open_exclusive(c.path.c_str());
  EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), c.code);
  EXPECT_EQ(corvane_posix::last_errno(), c.error);
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, OpenFailure,
    ::testing::Values(OpenCase{"missing_device", "/dev/corvane-no-such-device", 2, ENOENT},
                      OpenCase{"path_through_a_device", "/dev/null/corvane", 3, ENOTDIR},
                      OpenCase{"name_too_long", "/tmp/" + std::string(300, 'c'), 123, ENAMETOOLONG},
                      OpenCase{"directory", "/tmp", 5, EISDIR}, OpenCase{"not_a_terminal", "/dev/null", 1, ENOTTY}),
    [](const ::testing::TestParamInfo<OpenCase>& info) { return info.param.name; });

// A device node with nothing usable behind it fails its open with EIO: here
// the slave of a pseudo-terminal that is still locked. On Windows such a
// port does not exist at all.
TEST(CreateFile, NodeWithoutADeviceIsNotFound) {
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  const char* slave = ptsname(master);
  ASSERT_NE(slave, nullptr);
  SetLastError(0);
  HANDLE handle = open_exclusive(slave);
  EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 2u);
  EXPECT_EQ(corvane_posix::last_errno(), EIO);
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  close(master);
}

TEST(CreateFile, BadArgumentsAreAnInvalidParameter) {
  SetLastError(0);
  EXPECT_EQ(CreateFileA(nullptr, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 87u);
  SetLastError(0);
  EXPECT_EQ(CreateFileA("/dev/null", GENERIC_READ, 0, nullptr, 2 /* CREATE_ALWAYS */, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 87u);
}

}  // namespace
