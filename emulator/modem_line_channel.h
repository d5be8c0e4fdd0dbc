// The emulator's end of the modem-line library's channel (described in
// emulator/preload/modem_line_report.h): a datagram socket in the abstract
// namespace whose name the command finds in its environment, and the reports
// about our port's slave that arrive on it: the modem-line calls and the
// closes that end an open.
#ifndef CORVANE_EMULATOR_MODEM_LINE_CHANNEL_H
#define CORVANE_EMULATOR_MODEM_LINE_CHANNEL_H

#include <string>
#include <vector>

#include "emulator/line_time.h"
#include "emulator/modem_line_state.h"

namespace emulator {

struct ModemLineReport {
  TimePoint at;  // when the host made the call (or the close), on our clock
  LineState state;
  unsigned baud = 0;    // the line rate in force then; 0 when unknown
  bool closed = false;  // a close report: the process closed its last descriptor of the port
};

class ModemLineChannel {
 public:
  ModemLineChannel() = default;
  ModemLineChannel(const ModemLineChannel&) = delete;
  ModemLineChannel& operator=(const ModemLineChannel&) = delete;
  ~ModemLineChannel();

  // Listens for reports about the slave at slave_path; others are dropped.
  bool Open(const std::string& slave_path, std::string* error);
  bool is_open() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // The name for CORVANE_MODEM_LINES.
  const std::string& name() const { return name_; }

  // Every report that has arrived since the last call, in order. Never blocks.
  std::vector<ModemLineReport> Read();

 private:
  int fd_ = -1;
  unsigned long long device_ = 0;
  std::string name_;
};

}  // namespace emulator

#endif
