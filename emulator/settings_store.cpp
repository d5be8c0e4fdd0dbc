#include "emulator/settings_store.h"

#include "bcsp/settings_message.h"

namespace emulator {

SettingsStore::SettingsStore(const ModuleOptions& options)
    : uart_config_(options.uart_config),
      host_interface_(options.host_interface),
      vm_disable_(options.vm_disable),
      refused_(options.refused) {}

std::uint8_t SettingsStore::Write(std::uint16_t setting, std::uint32_t value) {
  std::uint32_t* slot = Slot(setting);
  if (slot == nullptr) return bcsp::kStatusUnknownSetting;
  if (refused_.count(setting) > 0) return bcsp::kStatusValueRefused;
  *slot = value;
  return bcsp::kStatusAccepted;
}

std::uint32_t* SettingsStore::Slot(std::uint16_t setting) {
  switch (setting) {
    case bcsp::kSettingUartConfig: return &uart_config_;
    case bcsp::kSettingHostInterface: return &host_interface_;
    case bcsp::kSettingVmDisable: return &vm_disable_;
    default: return nullptr;
  }
}

}  // namespace emulator
