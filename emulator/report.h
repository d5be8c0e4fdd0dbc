// The end-of-run report: a stable, readable text for people and a JSON
// document for scripts and tests.
#ifndef CORVANE_EMULATOR_REPORT_H
#define CORVANE_EMULATOR_REPORT_H

#include <string>

#include "emulator/run_facts.h"

namespace emulator {

std::string TextReport(const RunFacts& facts);
std::string JsonReport(const RunFacts& facts);

// The setting's name as the tool prints it ("UART configuration", ...).
std::string SettingName(std::uint16_t setting);

}  // namespace emulator

#endif
