// The command that plays the host: spawned (no code of ours runs between
// fork and exec) with COM1 naming the port and whatever else the emulator
// puts in its environment, its signal mask and dispositions as the emulator
// found them, and reaped when it ends.
#ifndef CORVANE_EMULATOR_CHILD_COMMAND_H
#define CORVANE_EMULATOR_CHILD_COMMAND_H

#include <signal.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "emulator/modem_line_preload.h"

namespace emulator {

// The inherited environment (NAME=value entries up to a null) with each of
// changes set in it: an inherited entry of a changed name is left out, and a
// name changed twice takes its last value.
std::vector<std::string> ChildEnvironment(char** inherited, const Environment& changes);

class ChildCommand {
 public:
  // command[0] is looked up in PATH. child_mask: the signal mask the command
  // starts with; child_defaults: the signals whose dispositions it starts
  // with at their defaults. False, with *error set, when the command could
  // not be started at all (also when there is no such command).
  bool Start(const std::vector<std::string>& command, const std::string& port_path, const Environment& environment,
             const sigset_t& child_mask, const sigset_t& child_defaults, std::string* error);
  // The exit status once the command has ended (128 + signal when killed);
  // nothing while it still runs or when none was started. Never blocks.
  std::optional<int> Reap();
  // Sends the command the signal, while it runs.
  void Forward(int signal_number) const;
  bool running() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
};

}  // namespace emulator

#endif
