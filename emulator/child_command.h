// The command that plays the host: started with COM1 naming the port (and
// whatever else the emulator puts in its environment), its signal mask and
// dispositions as the emulator found them, and reaped when it ends.
#ifndef CORVANE_EMULATOR_CHILD_COMMAND_H
#define CORVANE_EMULATOR_CHILD_COMMAND_H

#include <signal.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "emulator/modem_line_preload.h"

namespace emulator {

class ChildCommand {
 public:
  // False, with *error set, when the command could not be started at all.
  bool Start(const std::vector<std::string>& command, const std::string& port_path, const Environment& environment,
             const sigset_t& child_mask, std::string* error);
  // The exit status once the command has ended (128 + signal when killed);
  // nothing while it still runs. Never blocks.
  std::optional<int> Reap();
  void Forward(int signal_number) const;
  bool running() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
};

}  // namespace emulator

#endif
