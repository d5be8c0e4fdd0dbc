// Which file a CreateFileA name opens.
#ifndef CORVANE_PLATFORM_POSIX_DEVICE_NAME_H
#define CORVANE_PLATFORM_POSIX_DEVICE_NAME_H

#include <string>

namespace corvane_posix {

// The path that CreateFileA opens for `name`.
//
// "\\.\COMn" and "COMn" (n a positive decimal number without leading zeros,
// "COM" in any letter case) name serial port n: the value of the environment
// variable COMn when it is set and not empty, else /dev/ttyS<n-1>. Any other
// name is returned unchanged and opened as a path.
std::string device_path(const char* name);

}  // namespace corvane_posix

#endif
