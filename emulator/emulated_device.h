// The Corvane device on the pseudo-terminal: the adapter and the radio module
// behind it, the line between them and the host with its pacing in both
// directions, and the one-thread loop that drives it all. Every wait is a
// ppoll on the signal descriptor, the port's watch and (while someone holds
// the port) the master, bounded by the nearest deadline.
#ifndef CORVANE_EMULATOR_EMULATED_DEVICE_H
#define CORVANE_EMULATOR_EMULATED_DEVICE_H

#include <sys/signalfd.h>

#include <deque>
#include <functional>
#include <string>

#include "emulator/adapter.h"
#include "emulator/dialogue_log.h"
#include "emulator/line_output.h"
#include "emulator/line_trace.h"
#include "emulator/modem_line_channel.h"
#include "emulator/module_link.h"
#include "emulator/options.h"
#include "emulator/paced_queue.h"
#include "emulator/pty_line.h"
#include "emulator/run_facts.h"
#include "emulator/settings_store.h"
#include "emulator/vanish_plan.h"

namespace emulator {

class EmulatedDevice : private LineOutput {
 public:
  // Called for each signal that arrives; false ends Serve.
  using SignalHandler = std::function<bool(const signalfd_siginfo&)>;
  // Sends the command a signal; false when there was none to send it to.
  using CommandSignaller = std::function<bool(int signal_number)>;

  EmulatedDevice(const Options& options, DialogueLog& log, RunFacts& facts);

  bool Start(std::string* error);
  const std::string& port_path() const { return line_.slave_path(); }
  // The name for CORVANE_MODEM_LINES; empty when the adapter does not watch
  // the modem lines.
  const std::string& modem_lines_channel() const { return modem_lines_.name(); }

  // Runs the device until the handler says stop; false on a failure of the
  // line itself (with *error set).
  bool Serve(int signal_fd, const SignalHandler& on_signal, std::string* error);

  // How the signal of --signal-at reaches the command; without one it is
  // not sent.
  void SignalCommandWith(CommandSignaller send) { signal_command_ = std::move(send); }

  // Takes in the last port events and writes the final state into the facts,
  // the slave's exclusive flag among them.
  void Finish();

 private:
  // The module reaches the host only while the adapter has handed it the
  // line; until then (and after an open takes the line back) what it sends
  // goes nowhere.
  class ModuleOutput : public LineOutput {
   public:
    explicit ModuleOutput(EmulatedDevice& device) : device_(device) {}
    void Send(const Bytes& bytes, TimePoint now) override {
      if (device_.adapter_.handed_over()) device_.Send(bytes, now);
    }
    std::size_t Queued() const override { return device_.Queued(); }
    unsigned Baud() const override { return device_.Baud(); }

   private:
    EmulatedDevice& device_;
  };

  // LineOutput, for the adapter.
  void Send(const Bytes& bytes, TimePoint now) override;
  std::size_t Queued() const override { return to_host_.size(); }
  unsigned Baud() const override { return baud_; }

  bool HandlePortEvents(TimePoint now, std::string* error);
  bool HandleMaster(short revents, TimePoint now, std::string* error);
  void HandleLineSettings(TimePoint now);
  // Hands the holder the modem-line reports of its open: those that came
  // before the close report of its open when it has closed, and otherwise
  // those before any close report (what follows one belongs to the next
  // open, which the port's watch has not shown yet).
  void TakeModemLineReports(bool holder_closed);
  void RunDueWork(TimePoint now);
  void DeliverFromHost(const std::vector<PacedByte>& bytes);
  bool FlushToHost(std::string* error);
  std::optional<TimePoint> NextDeadline() const;
  bool SomeoneHoldsPort() const { return holders_ > 0; }
  // The holder's bytes and its hang-up come through the master, while the
  // line has not vanished.
  bool MasterWatched() const { return SomeoneHoldsPort() && !master_hung_up_ && !line_.vanished(); }
  void VanishNow();
  void SignalCommandNow();

  const Options& options_;
  DialogueLog& log_;
  RunFacts& facts_;
  PtyLine line_;
  ModemLineChannel modem_lines_;
  std::deque<ModemLineReport> reports_;  // read from the channel, not yet handed on
  LineTracer tracer_;
  PacedQueue from_host_;
  PacedQueue to_host_;
  Bytes unwritten_;  // due for the host but not yet taken by the slave
  SettingsStore store_;
  Adapter adapter_;
  ModuleOutput module_output_;
  ModuleLink module_;
  VanishPlan vanish_;
  VanishPlan signal_plan_;  // --signal-at: the same steps and timing
  CommandSignaller signal_command_;
  unsigned baud_ = 0;
  unsigned holders_ = 0;
  bool master_hung_up_ = false;
};

}  // namespace emulator

#endif
