#include "emulator/port_link.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace emulator {

PortLink::~PortLink() {
  if (!path_.empty()) unlink(path_.c_str());
}

bool PortLink::Create(const std::string& link_path, const std::string& port_path, std::string* error) {
  struct stat existing;
  if (lstat(link_path.c_str(), &existing) == 0) {
    if (!S_ISLNK(existing.st_mode)) {
      *error = link_path + " exists and is not a link";
      return false;
    }
    unlink(link_path.c_str());
  }
  if (symlink(port_path.c_str(), link_path.c_str()) != 0) {
    *error = "cannot link " + link_path + ": " + std::strerror(errno);
    return false;
  }
  path_ = link_path;
  return true;
}

}  // namespace emulator
