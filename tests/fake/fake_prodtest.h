// A stand-in for prodtest, put in by linking: records each call with its
// arguments and answers as the test sets, and can raise a signal while a
// chosen call runs.
#ifndef CORVANE_TESTS_FAKE_FAKE_PRODTEST_H
#define CORVANE_TESTS_FAKE_FAKE_PRODTEST_H

#include <cstdint>
#include <string>
#include <vector>

namespace fake {

struct Prodtest {
  std::uint32_t connection = 0x5A5A;  // what init_prodtest returns; 0 fails
  // Which write fails: "write_uart_config", "write_host_interface",
  // "write_vm_disable", or empty for none.
  std::string failingWrite;
  // The call ("init_prodtest", "write_host_interface", ...) during which
  // `signalNumber` is raised; it then fails as one whose wait was cut
  // short (0; an init has closed its port again). During "close_prodtest"
  // the signal comes after the connection is closed.
  std::string signalDuring;
  int signalNumber = 0;
  // The call still succeeds: the signal came as it completed.
  bool signalCallCompletes = false;
  std::vector<std::string> calls;  // e.g. "write_uart_config(23130,168)"
  int portHandlesOpenAtInit = -1;  // open platform handles when init ran
};

void ResetProdtest();
Prodtest& ProdtestState();

}  // namespace fake

#endif
