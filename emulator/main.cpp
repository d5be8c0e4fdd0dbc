// corvane-emulator: a Corvane adapter and its radio module on a
// pseudo-terminal, for running corvane-handshake without hardware.
#include <cstdio>
#include <fstream>
#include <string>

#include "emulator/child_command.h"
#include "emulator/dialogue_log.h"
#include "emulator/emulated_device.h"
#include "emulator/modem_line_preload.h"
#include "emulator/options.h"
#include "emulator/port_link.h"
#include "emulator/report.h"
#include "emulator/run_facts.h"
#include "emulator/signal_watch.h"

namespace {

constexpr int kRanCleanly = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

int Fail(const std::string& error) {
  std::fprintf(stderr, "corvane-emulator: %s\n", error.c_str());
  return kFailed;
}

bool ServeLink(const emulator::Options& options, emulator::EmulatedDevice& device, int signal_fd,
               emulator::RunFacts& facts, std::string* error) {
  emulator::PortLink link;
  if (!link.Create(options.link_path, device.port_path(), error)) return false;
  facts.port.link = options.link_path;
  std::fprintf(stderr, "corvane-emulator: serving %s as %s until SIGINT or SIGTERM\n", device.port_path().c_str(),
               options.link_path.c_str());
  if (!device.modem_lines_channel().empty()) {
    emulator::Environment preload;
    if (!emulator::ModemLinePreload(options.modem_lines_library, device.modem_lines_channel(), &preload, error)) {
      return false;
    }
    std::fprintf(stderr, "corvane-emulator: the modem lines are watched; run programs with %s\n",
                 emulator::ShellAssignments(preload).c_str());
  }
  return device.Serve(
      signal_fd, [](const signalfd_siginfo& info) { return info.ssi_signo == SIGCHLD; }, error);
}

bool RunCommand(const emulator::Options& options, emulator::EmulatedDevice& device,
                const emulator::SignalWatch& signals, emulator::RunFacts& facts, std::string* error) {
  emulator::ChildCommand child;
  emulator::Environment environment;
  if (!device.modem_lines_channel().empty() &&
      !emulator::ModemLinePreload(options.modem_lines_library, device.modem_lines_channel(), &environment, error)) {
    return false;
  }
  if (!child.Start(options.command, device.port_path(), environment, signals.previous_mask(),
                   signals.changed_defaults(), error)) {
    return false;
  }
  // --signal-at: the device sends it at its step, while the command runs.
  device.SignalCommandWith([&child](int signal_number) {
    if (!child.running()) return false;
    child.Forward(signal_number);
    return true;
  });
  const bool served = device.Serve(
      signals.fd(),
      [&](const signalfd_siginfo& info) {
        if (info.ssi_signo != SIGCHLD) {
          // The command decides how to end; the report follows its end.
          child.Forward(static_cast<int>(info.ssi_signo));
          return true;
        }
        facts.command_exit = child.Reap();
        return !facts.command_exit.has_value();
      },
      error);
  device.SignalCommandWith(nullptr);
  return served;
}

bool WriteJson(const std::string& path, const emulator::RunFacts& facts, std::string* error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << emulator::JsonReport(facts);
  out.close();
  if (!out) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  emulator::Options options;
  std::string error;
  switch (emulator::ParseOptions(argc, argv, &options, &error)) {
    case emulator::ParseResult::kHelp:
      std::fputs(emulator::HelpText("corvane-emulator").c_str(), stdout);
      return kRanCleanly;
    case emulator::ParseResult::kVersion:
      std::printf("corvane-emulator %s\n", CORVANE_VERSION[0] != '\0' ? CORVANE_VERSION : "(no version set)");
      return kRanCleanly;
    case emulator::ParseResult::kError:
      std::fprintf(stderr, "corvane-emulator: %s (--help lists the options)\n", error.c_str());
      return kUsage;
    case emulator::ParseResult::kRun: break;
  }

  emulator::SignalWatch signals;
  if (!signals.Start(&error)) return Fail(error);
  emulator::DialogueLog log(options.verbose, emulator::Clock::now());
  emulator::RunFacts facts;
  facts.command = options.command;
  emulator::EmulatedDevice device(options, log, facts);
  if (!device.Start(&error)) return Fail(error);

  const bool served = options.mode == emulator::RunMode::kLink ? ServeLink(options, device, signals.fd(), facts, &error)
                                                               : RunCommand(options, device, signals, facts, &error);
  if (!served) return Fail(error);
  device.Finish();

  if (!options.quiet) {
    std::fputs(emulator::TextReport(facts).c_str(), stdout);
    std::fflush(stdout);
  }
  if (!options.json_path.empty() && !WriteJson(options.json_path, facts, &error)) return Fail(error);
  return kRanCleanly;
}
