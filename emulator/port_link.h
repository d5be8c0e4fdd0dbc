// --link PATH: a symbolic link to the port under a name of the user's
// choice, for a host in another terminal; removed again when the emulator
// ends. An old link of that name is replaced; any other file is left alone.
#ifndef CORVANE_EMULATOR_PORT_LINK_H
#define CORVANE_EMULATOR_PORT_LINK_H

#include <string>

namespace emulator {

class PortLink {
 public:
  PortLink() = default;
  PortLink(const PortLink&) = delete;
  PortLink& operator=(const PortLink&) = delete;
  ~PortLink();

  bool Create(const std::string& link_path, const std::string& port_path, std::string* error);

 private:
  std::string path_;
};

}  // namespace emulator

#endif
