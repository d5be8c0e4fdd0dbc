#include "emulator/vanish_step.h"

namespace emulator {
namespace {

struct StepEntry {
  VanishStep step;
  const char* name;
  const char* help;
};

constexpr StepEntry kSteps[] = {
    {VanishStep::kPulses, "pulses", "400 ms after an open reached 1200 baud, before any reply"},
    {VanishStep::kPnpWait, "pnp-wait", "400 ms after the Plug-and-Play reply was due, the reply withheld"},
    {VanishStep::kPnpReply, "pnp-reply", "500 ms after the first 6 bytes of the Plug-and-Play reply"},
    {VanishStep::kSetupRequest, "setup-request", "on the setup request, in place of the ready reply"},
    {VanishStep::kReadyReply, "ready-reply", "200 ms after the first 9 bytes of the ready reply"},
    {VanishStep::kFastLine, "fast-line", "100 ms after the line reached 115200, before the setup request"},
    {VanishStep::kHandOver, "handover", "on the hand-over command"},
    {VanishStep::kSync, "sync", "on the first SYNC, unanswered"},
    {VanishStep::kConf, "conf", "on the first CONF, unanswered"},
    {VanishStep::kWrite1, "write-1", "on the first setting write request, before the module takes it"},
    {VanishStep::kWrite2, "write-2", "on the second setting write request"},
    {VanishStep::kWrite3, "write-3", "on the third setting write request"},
};

}  // namespace

const char* VanishStepName(VanishStep step) {
  for (const StepEntry& entry : kSteps) {
    if (entry.step == step) return entry.name;
  }
  return "never";
}

bool ParseVanishStep(const std::string& word, VanishStep* step) {
  for (const StepEntry& entry : kSteps) {
    if (word == entry.name) {
      *step = entry.step;
      return true;
    }
  }
  return false;
}

std::string VanishStepHelp(const std::string& indent) {
  std::string text;
  for (const StepEntry& entry : kSteps) {
    std::string name = entry.name;
    name.resize(15, ' ');
    if (!text.empty()) text += "\n";
    text += indent + name + entry.help;
  }
  return text;
}

}  // namespace emulator
