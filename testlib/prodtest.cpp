// The five operations over one connection at a time. A connection value is
// handed out per successful init and forgotten at close, so a stale or made-up
// value can never reach the port.
#include "testlib/prodtest.h"

#include <memory>

#include "bcsp/settings_message.h"
#include "testlib/host_link.h"
#include "testlib/serial_channel.h"
#include "testlib/settings_client.h"

namespace {

constexpr std::int32_t kTransportModuleLink = 1;

struct Connection {
  explicit Connection(bool crc) : link(&channel, crc), settings(&link) {}
  prodtest::SerialChannel channel;
  prodtest::HostLink link;
  prodtest::SettingsClient settings;
};

std::unique_ptr<Connection> open_connection;
std::uint32_t open_value = 0;
std::uint32_t last_value = 0;

std::uint32_t NextConnectionValue() {
  ++last_value;
  if (last_value == 0) ++last_value;
  return last_value;
}

Connection* Find(std::uint32_t connection) {
  if (connection == 0 || connection != open_value) return nullptr;
  return open_connection.get();
}

std::int32_t WriteSetting(std::uint32_t connection, std::uint16_t setting, std::uint32_t value) {
  Connection* open = Find(connection);
  if (open == nullptr) return 0;
  return open->settings.Write(setting, value) ? 1 : 0;
}

}  // namespace

extern "C" {

std::uint32_t init_prodtest(std::int32_t transport, const char* port, std::int32_t rate, std::int32_t crc) {
  if (transport != kTransportModuleLink || port == nullptr || rate <= 0) return 0;
  if (open_connection) return 0;
  auto connection = std::make_unique<Connection>(crc != 0);
  if (!connection->channel.Open(port, static_cast<std::uint32_t>(rate))) return 0;
  if (!connection->link.Establish()) return 0;  // the channel closes with it
  open_connection = std::move(connection);
  open_value = NextConnectionValue();
  return open_value;
}

std::int32_t write_uart_config(std::uint32_t connection, std::uint32_t value) {
  return WriteSetting(connection, bcsp::kSettingUartConfig, value);
}

std::int32_t write_host_interface(std::uint32_t connection, std::uint32_t value) {
  return WriteSetting(connection, bcsp::kSettingHostInterface, value);
}

std::int32_t write_vm_disable(std::uint32_t connection, std::uint32_t value) {
  return WriteSetting(connection, bcsp::kSettingVmDisable, value);
}

void close_prodtest(std::uint32_t connection) {
  if (Find(connection) == nullptr) return;
  open_connection.reset();
  open_value = 0;
}

}  // extern "C"
