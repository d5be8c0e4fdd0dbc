#include "emulator/port_link.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace emulator {
namespace {

// Where the link at path points; empty when path is no link.
std::string LinkTarget(const std::string& path) {
  char target[PATH_MAX];
  const ssize_t got = readlink(path.c_str(), target, sizeof target - 1);
  return got > 0 ? std::string(target, static_cast<std::size_t>(got)) : std::string();
}

}  // namespace

PortLink::~PortLink() {
  if (path_.empty()) return;
  // Someone may have put a link of their own in its place since.
  struct stat now;
  if (lstat(path_.c_str(), &now) != 0 || now.st_dev != device_ || now.st_ino != inode_) return;
  if (LinkTarget(path_) == port_) unlink(path_.c_str());
}

bool PortLink::Create(const std::string& link_path, const std::string& port_path, std::string* error) {
  struct stat existing;
  if (lstat(link_path.c_str(), &existing) == 0) {
    if (!S_ISLNK(existing.st_mode)) {
      *error = link_path + " exists and is not a link";
      return false;
    }
    // A pseudo-terminal's slave exists only while its master is open: a link
    // that still leads to a device leads to a live port.
    struct stat target;
    if (stat(link_path.c_str(), &target) == 0) {
      *error = link_path + " already links to " + LinkTarget(link_path) +
               (S_ISCHR(target.st_mode) ? ", a live port (another emulator's?)" : ", which is not a port") +
               "; give another path, or remove the link";
      return false;
    }
    if (errno != ENOENT && errno != ENOTDIR) {
      *error = "cannot follow " + link_path + ": " + std::strerror(errno);
      return false;
    }
    if (unlink(link_path.c_str()) != 0 && errno != ENOENT) {
      *error = "cannot replace " + link_path + ": " + std::strerror(errno);
      return false;
    }
  }
  // A link made by someone else meanwhile fails here rather than be replaced.
  if (symlink(port_path.c_str(), link_path.c_str()) != 0) {
    *error = "cannot link " + link_path + ": " + std::strerror(errno);
    return false;
  }
  struct stat made;
  if (lstat(link_path.c_str(), &made) != 0) {
    *error = "cannot read back " + link_path + ": " + std::strerror(errno);
    unlink(link_path.c_str());
    return false;
  }
  path_ = link_path;
  port_ = port_path;
  device_ = made.st_dev;
  inode_ = made.st_ino;
  return true;
}

}  // namespace emulator
