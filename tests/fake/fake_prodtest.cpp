#include "tests/fake/fake_prodtest.h"

#include <csignal>

#include "testlib/prodtest.h"
#include "tests/fake/fake_platform.h"

namespace fake {
namespace {
Prodtest prodtest;

// 1 when the test put its signal on this call; it has been raised.
int Interrupted(const char* name) {
  if (prodtest.signalNumber == 0 || prodtest.signalDuring != name) return 0;
  int signalNumber = prodtest.signalNumber;
  prodtest.signalNumber = 0;
  std::raise(signalNumber);
  return 1;
}

std::int32_t RecordWrite(const char* name, std::uint32_t connection, std::uint32_t value) {
  prodtest.calls.push_back(std::string(name) + "(" + std::to_string(connection) + "," + std::to_string(value) + ")");
  if (Interrupted(name) && !prodtest.signalCallCompletes) return 0;
  return prodtest.failingWrite == name ? 0 : 1;
}
}  // namespace

void ResetProdtest() { prodtest = Prodtest{}; }
Prodtest& ProdtestState() { return prodtest; }

}  // namespace fake

std::uint32_t init_prodtest(std::int32_t transport, const char* port, std::int32_t rate, std::int32_t crc) {
  fake::prodtest.calls.push_back("init_prodtest(" + std::to_string(transport) + "," + port + "," +
                                 std::to_string(rate) + "," + std::to_string(crc) + ")");
  fake::prodtest.portHandlesOpenAtInit = fake::State().openHandles;
  if (fake::Interrupted("init_prodtest") && !fake::prodtest.signalCallCompletes) return 0;
  return fake::prodtest.connection;
}

std::int32_t write_uart_config(std::uint32_t connection, std::uint32_t value) {
  return fake::RecordWrite("write_uart_config", connection, value);
}

std::int32_t write_host_interface(std::uint32_t connection, std::uint32_t value) {
  return fake::RecordWrite("write_host_interface", connection, value);
}

std::int32_t write_vm_disable(std::uint32_t connection, std::uint32_t value) {
  return fake::RecordWrite("write_vm_disable", connection, value);
}

void close_prodtest(std::uint32_t connection) {
  fake::prodtest.calls.push_back("close_prodtest(" + std::to_string(connection) + ")");
  fake::Interrupted("close_prodtest");
}
