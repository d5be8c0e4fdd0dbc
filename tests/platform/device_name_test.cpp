// Which path each CreateFileA name stands for.
#include <gtest/gtest.h>
#include <cstdlib>
#include <ostream>
#include <string>

#include "platform/posix/device_name.h"

namespace {

struct NameCase {
  const char* label;
  const char* name;
  const char* com_variable;  // value for the variable COM<n>; nullptr: unset
  const char* expected;
};

// Names the case in test listings.
void PrintTo(const NameCase& c, std::ostream* os) { *os << c.label; }

class DevicePath : public ::testing::TestWithParam<NameCase> {
 protected:
  void TearDown() override {
    unsetenv("COM1");
    unsetenv("COM12");
  }
};

TEST_P(DevicePath, MapsTheName) {
  const NameCase& c = GetParam();
  unsetenv("COM1");
  unsetenv("COM12");
  if (c.com_variable != nullptr) {
    setenv("COM1", c.com_variable, 1);
    setenv("COM12", c.com_variable, 1);
  }
  EXPECT_EQ(corvane_posix::device_path(c.name), std::string(c.expected)) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Names, DevicePath,
    ::testing::Values(NameCase{"DeviceNamespaceCom1", "\\\\.\\COM1", nullptr, "/dev/ttyS0"},
                      NameCase{"BareCom1", "COM1", nullptr, "/dev/ttyS0"},
                      NameCase{"TwoDigitPort", "\\\\.\\COM12", nullptr, "/dev/ttyS11"},
                      NameCase{"LowerCase", "\\\\.\\com1", nullptr, "/dev/ttyS0"},
                      NameCase{"VariableSet", "\\\\.\\COM1", "/dev/ttyUSB0", "/dev/ttyUSB0"},
                      NameCase{"VariableSetTwoDigits", "COM12", "/dev/pts/3", "/dev/pts/3"},
                      NameCase{"VariableEmpty", "\\\\.\\COM1", "", "/dev/ttyS0"},
                      // Not port names: opened as given.
                      NameCase{"PortZero", "\\\\.\\COM0", nullptr, "\\\\.\\COM0"},
                      NameCase{"LeadingZero", "COM01", nullptr, "COM01"},
                      NameCase{"NegativePort", "COM-1", nullptr, "COM-1"}, NameCase{"NoNumber", "COM", nullptr, "COM"},
                      NameCase{"TrailingLetter", "COM1x", "/dev/ttyUSB0", "COM1x"},
                      NameCase{"NumberTooLong", "\\\\.\\COM1234567890", nullptr, "\\\\.\\COM1234567890"},
                      NameCase{"PlainPath", "/dev/ttyUSB0", "/dev/elsewhere", "/dev/ttyUSB0"}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return info.param.label; });

}  // namespace
