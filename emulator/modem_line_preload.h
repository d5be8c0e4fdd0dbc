// What puts the modem-line library (emulator/preload) into the command the
// emulator runs: LD_PRELOAD, added to any the emulator was given, and the
// channel's name in CORVANE_MODEM_LINES. Both pass through exec and through
// Wine's loaders to the process that issues the port's ioctls. A command
// built with AddressSanitizer also gets verify_asan_link_order=0.
#ifndef CORVANE_EMULATOR_MODEM_LINE_PRELOAD_H
#define CORVANE_EMULATOR_MODEM_LINE_PRELOAD_H

#include <string>
#include <utility>
#include <vector>

namespace emulator {

using Environment = std::vector<std::pair<std::string, std::string>>;  // name, value

// library: the path given by --modem-lines-library, or empty for the one
// built beside the emulator or, failing that, the one installed with it.
// False, with *error set, when there is no library at any of those paths.
bool ModemLinePreload(const std::string& library, const std::string& channel, Environment* environment,
                      std::string* error);

// The settings as a shell would take them: NAME='value' NAME='value'.
std::string ShellAssignments(const Environment& environment);

}  // namespace emulator

#endif
