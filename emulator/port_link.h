// --link PATH: a symbolic link to the port under a name of the user's
// choice, for a host in another terminal. A link of that name left dangling
// (its port gone with the emulator that made it) is replaced; a link that
// names something that exists, above all another emulator's live port, and
// any other file are left alone and refused. At the end the link is removed
// only while it is still the one made here, naming this port.
#ifndef CORVANE_EMULATOR_PORT_LINK_H
#define CORVANE_EMULATOR_PORT_LINK_H

#include <sys/types.h>

#include <string>

namespace emulator {

class PortLink {
 public:
  PortLink() = default;
  PortLink(const PortLink&) = delete;
  PortLink& operator=(const PortLink&) = delete;
  // Removes the link if it is still ours.
  ~PortLink();

  // False, with *error set, when link_path exists and may not be replaced,
  // or the link cannot be made.
  bool Create(const std::string& link_path, const std::string& port_path, std::string* error);

 private:
  std::string path_;  // empty: no link made
  std::string port_;
  dev_t device_ = 0;  // of the link itself, to know it again
  ino_t inode_ = 0;
};

}  // namespace emulator

#endif
