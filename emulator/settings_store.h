// The radio module's three settings. They start from the options, survive
// every link restart and close of the port, and change only by an accepted
// write request.
#ifndef CORVANE_EMULATOR_SETTINGS_STORE_H
#define CORVANE_EMULATOR_SETTINGS_STORE_H

#include <cstdint>
#include <set>

#include "emulator/options.h"

namespace emulator {

class SettingsStore {
 public:
  explicit SettingsStore(const ModuleOptions& options);
  // Stores the value and says how the write went, as a settings status.
  std::uint8_t Write(std::uint16_t setting, std::uint32_t value);

  std::uint32_t uart_config() const { return uart_config_; }
  std::uint32_t host_interface() const { return host_interface_; }
  std::uint32_t vm_disable() const { return vm_disable_; }

 private:
  std::uint32_t* Slot(std::uint16_t setting);

  std::uint32_t uart_config_;
  std::uint32_t host_interface_;
  std::uint32_t vm_disable_;
  std::set<std::uint16_t> refused_;
};

}  // namespace emulator

#endif
