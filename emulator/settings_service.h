// Channel 2 of the module link from the module's side: a request payload in,
// the answer payload out. Every request gets an answer, also one whose op the
// module does not know.
#ifndef CORVANE_EMULATOR_SETTINGS_SERVICE_H
#define CORVANE_EMULATOR_SETTINGS_SERVICE_H

#include "emulator/byte_text.h"
#include "emulator/run_facts.h"
#include "emulator/settings_store.h"

namespace emulator {

Bytes AnswerSettingsRequest(const Bytes& request, SettingsStore& store, SettingWrite* record);

}  // namespace emulator

#endif
