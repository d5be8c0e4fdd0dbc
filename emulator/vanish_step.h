// The points in the dialogue at which the device can be made to vanish, as
// an unplugged adapter does: the master of the pseudo-terminal closes, so the
// host's handle on the port is hung up and the port's path is gone.
#ifndef CORVANE_EMULATOR_VANISH_STEP_H
#define CORVANE_EMULATOR_VANISH_STEP_H

#include <string>

namespace emulator {

enum class VanishStep {
  kNever,
  kPulses,        // while the host pulses the modem lines, before any reply
  kPnpWait,       // the Plug-and-Play reply withheld while the host waits for it
  kPnpReply,      // part of the way through the Plug-and-Play reply
  kSetupRequest,  // on hearing the setup request, in place of the ready reply
  kReadyReply,    // part of the way through the ready reply
  kFastLine,      // in the pause after the line reached 115200
  kHandOver,      // on the hand-over command
  kSync,          // on the first SYNC, unanswered
  kConf,          // on the first CONF, unanswered
  kWrite1,        // on the first setting write request, before the module takes it
  kWrite2,
  kWrite3,
};

// The word for the step on the command line and in the report.
const char* VanishStepName(VanishStep step);

// False when the word names no step.
bool ParseVanishStep(const std::string& word, VanishStep* step);

// One indented line per step, for --help.
std::string VanishStepHelp(const std::string& indent);

}  // namespace emulator

#endif
