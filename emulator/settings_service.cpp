#include "emulator/settings_service.h"

#include "bcsp/settings_message.h"

namespace emulator {

Bytes AnswerSettingsRequest(const Bytes& request, SettingsStore& store, SettingWrite* record) {
  bcsp::WriteRequest write;
  bcsp::WriteAnswer answer;
  if (bcsp::DecodeWriteRequest(request.data(), request.size(), &write)) {
    answer.tag = write.tag;
    answer.setting = write.setting;
    answer.status = store.Write(write.setting, write.value);
    *record = SettingWrite{write.tag, write.setting, write.value, answer.status};
  } else {
    // An op the module does not know (or a malformed write): same tag,
    // setting id 0, "unknown".
    answer.tag = request.size() > 1 ? request[1] : 0;
    answer.setting = 0;
    answer.status = bcsp::kStatusUnknownSetting;
    *record = SettingWrite{answer.tag, 0, 0, answer.status};
  }
  return bcsp::EncodeWriteAnswer(answer);
}

}  // namespace emulator
