#include "emulator/emulated_device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace emulator {
namespace {

// The rate the line starts at: neither of the adapter's, so that the host's
// switch to 1200 baud is a change like on a real port.
constexpr unsigned kInitialBaud = 9600;

timespec Timeout(TimePoint deadline, TimePoint now) {
  const auto left = deadline > now ? std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now)
                                   : std::chrono::nanoseconds(0);
  timespec timeout;
  timeout.tv_sec = static_cast<time_t>(left.count() / 1000000000);
  timeout.tv_nsec = static_cast<long>(left.count() % 1000000000);
  return timeout;
}

void Earliest(std::optional<TimePoint>* nearest, std::optional<TimePoint> candidate) {
  if (candidate && (!*nearest || *candidate < **nearest)) *nearest = candidate;
}

const char* SignalName(int signal_number) {
  switch (signal_number) {
    case SIGINT: return "SIGINT";
    case SIGHUP: return "SIGHUP";
    case SIGTERM: return "SIGTERM";
    case SIGKILL: return "SIGKILL";
  }
  return "a signal";
}

// The slave's exclusive flag, read through an open of our own: root may open
// an exclusive terminal and ask; anyone else is refused with EBUSY, which
// says the same. Unknown when neither answers.
std::optional<bool> SlaveExclusive(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == EBUSY ? std::optional<bool>(true) : std::nullopt;
  int exclusive = 0;
  const bool read = ioctl(fd, TIOCGEXCL, &exclusive) == 0;
  close(fd);
  if (!read) return std::nullopt;
  return exclusive != 0;
}

}  // namespace

EmulatedDevice::EmulatedDevice(const Options& options, DialogueLog& log, RunFacts& facts)
    : options_(options),
      log_(log),
      facts_(facts),
      tracer_(facts.line_traces),
      store_(options.module),
      adapter_(options.adapter, *this, log, facts.adapter),
      module_output_(*this),
      module_(options.module, store_, module_output_, log, facts.module),
      vanish_(options.vanish),
      signal_plan_(options.signal_at) {
  module_.WatchForVanish(&vanish_);
  module_.WatchForVanish(&signal_plan_);
}

bool EmulatedDevice::Start(std::string* error) {
  if (options_.vanish != VanishStep::kNever) line_.PrepareToVanish();
  if (!line_.Create(kInitialBaud, options_.busy, error)) return false;
  if (options_.adapter.pulse_check != PulseCheck::kTimer && !modem_lines_.Open(line_.slave_path(), error)) {
    return false;
  }
  facts_.line_traces.watched = modem_lines_.is_open();
  baud_ = line_.ReadBaud();
  facts_.port.path = line_.slave_path();
  log_.Note("port %s ready at %u baud%s", line_.slave_path().c_str(), baud_, options_.busy ? ", held and locked" : "");
  return true;
}

bool EmulatedDevice::Serve(int signal_fd, const SignalHandler& on_signal, std::string* error) {
  for (;;) {
    TimePoint now = Clock::now();
    RunDueWork(now);
    if (!FlushToHost(error)) return false;

    pollfd fds[4];
    nfds_t count = 0;
    fds[count++] = pollfd{signal_fd, POLLIN, 0};
    fds[count++] = pollfd{line_.watch_fd(), POLLIN, 0};
    // While nobody holds the port the master reports a hang-up without pause;
    // it is left out until the watch reports an open.
    const bool watch_master = MasterWatched();
    if (watch_master) {
      fds[count++] = pollfd{line_.master_fd(), static_cast<short>(POLLIN | (unwritten_.empty() ? 0 : POLLOUT)), 0};
    }
    const nfds_t lines_at = count;
    if (modem_lines_.is_open()) fds[count++] = pollfd{modem_lines_.fd(), POLLIN, 0};
    const std::optional<TimePoint> deadline = NextDeadline();
    timespec timeout{};
    if (deadline) timeout = Timeout(*deadline, now);
    const int ready = ppoll(fds, count, deadline ? &timeout : nullptr, nullptr);
    if (ready < 0) {
      if (errno == EINTR) continue;
      *error = std::string("ppoll: ") + std::strerror(errno);
      return false;
    }
    now = Clock::now();
    // What a holder wrote before it closed is taken in before its close.
    if (watch_master && fds[2].revents != 0 && !HandleMaster(fds[2].revents, now, error)) return false;
    // Line reports are taken in with the port events, which come first.
    const bool lines_ready = modem_lines_.is_open() && fds[lines_at].revents != 0;
    if ((fds[1].revents != 0 || lines_ready) && !HandlePortEvents(now, error)) return false;
    if (fds[0].revents & POLLIN) {
      signalfd_siginfo info;
      const ssize_t got = read(signal_fd, &info, sizeof info);
      if (got == static_cast<ssize_t>(sizeof info) && !on_signal(info)) return true;
    }
  }
}

void EmulatedDevice::Finish() {
  // Whatever the host put on the line before it went still arrives: take it
  // in, then let the bytes in flight land without waiting out their time.
  std::string ignored;
  const TimePoint now = Clock::now();
  if (MasterWatched()) HandleMaster(POLLIN, now, &ignored);
  HandlePortEvents(now, &ignored);
  DeliverFromHost(from_host_.TakeAll());
  facts_.port.open_at_end = SomeoneHoldsPort();
  facts_.module.uart_config = store_.uart_config();
  facts_.module.host_interface = store_.host_interface();
  facts_.module.vm_disable = store_.vm_disable();
  // Last: our own open of the slave is no open of the host's.
  if (!line_.vanished()) facts_.port.exclusive_at_end = SlaveExclusive(line_.slave_path());
}

void EmulatedDevice::Send(const Bytes& bytes, TimePoint now) {
  // A line nobody listens on carries nothing anywhere.
  if (!SomeoneHoldsPort()) return;
  const bool from_adapter = !adapter_.handed_over();
  const Bytes passed = signal_plan_.Pass(vanish_.Pass(bytes, from_adapter, baud_, now), from_adapter, baud_, now);
  to_host_.Push(passed.data(), passed.size(), baud_, now);
}

bool EmulatedDevice::HandlePortEvents(TimePoint now, std::string* error) {
  std::vector<PortEvent> events;
  const bool ok = line_.ReadPortEvents(&events, error);
  for (const PortEvent event : events) {
    // What the holder did to the lines before its close belongs to it.
    if (event == PortEvent::kClosed) TakeModemLineReports(holders_ == 1);
    if (event == PortEvent::kOpened) {
      ++facts_.port.opens;
      ++holders_;
      master_hung_up_ = false;
      log_.Note("port opened (open %u)", facts_.port.opens);
      // A second open while the port is held (another program's, refused
      // by the holder's lock) and its close never reach a real adapter: the
      // lines and the line rate stay the holder's.
      if (holders_ == 1) {
        adapter_.OnPortOpened();
        if (modem_lines_.is_open()) tracer_.OnOpened(facts_.port.opens, now, baud_);
      }
    } else {
      ++facts_.port.closes;
      if (holders_ > 0) --holders_;
      log_.Note("port closed (close %u)", facts_.port.closes);
      if (!SomeoneHoldsPort()) {
        adapter_.OnPortClosed();
        tracer_.OnClosed(now);
        to_host_.Clear();
        unwritten_.clear();
      }
    }
  }
  if (!events.empty()) HandleLineSettings(now);
  TakeModemLineReports(false);
  return ok;
}

bool EmulatedDevice::HandleMaster(short revents, TimePoint now, std::string* error) {
  if (revents & POLLOUT) {
    if (!FlushToHost(error)) return false;
  }
  if (revents & (POLLIN | POLLHUP | POLLERR)) {
    MasterRead read = line_.ReadMaster();
    if (read.failed) {
      *error = std::string("reading the port: ") + std::strerror(errno);
      return false;
    }
    // The bytes travelled at the rate the slave is set to now; a settings
    // change is announced ahead of any data written before it, so reading
    // the settings first is right either way.
    HandleLineSettings(now);
    if (!read.data.empty()) {
      log_.Note("host -> line at %u baud: \"%s\"", baud_, EscapeBytes(read.data).c_str());
      from_host_.Push(read.data.data(), read.data.size(), baud_, now);
    }
    if (read.hung_up || ((revents & POLLHUP) && read.data.empty() && !read.settings_hint)) {
      master_hung_up_ = true;
    }
  }
  return true;
}

void EmulatedDevice::HandleLineSettings(TimePoint now) {
  // A vanished line has no settings left to read.
  if (line_.vanished()) return;
  const unsigned baud = line_.ReadBaud();
  if (baud != baud_) {
    log_.Note("line set to %u baud", baud);
    baud_ = baud;
  }
  tracer_.OnLineRate(baud_);
  const bool module_had_line = adapter_.handed_over();
  adapter_.OnLineRate(baud_, now);
  vanish_.OnLineRate(baud_, adapter_.handed_over(), now);
  signal_plan_.OnLineRate(baud_, adapter_.handed_over(), now);
  if (module_had_line && !adapter_.handed_over()) {
    // The last holder's final bytes may still be on the wire: they were sent
    // to the module and reach it, not the adapter that has just taken over.
    for (const PacedByte& byte : from_host_.TakeAll()) module_.OnByte(byte, now);
  }
}

void EmulatedDevice::TakeModemLineReports(bool holder_closed) {
  for (const ModemLineReport& report : modem_lines_.Read()) reports_.push_back(report);
  while (!reports_.empty()) {
    const ModemLineReport report = reports_.front();
    if (report.closed && !holder_closed) return;
    reports_.pop_front();
    if (report.closed) return;
    adapter_.OnModemLines(report.state, report.at);
    tracer_.OnCall(report.at, report.state, report.baud);
  }
}

void EmulatedDevice::DeliverFromHost(const std::vector<PacedByte>& bytes) {
  const TimePoint now = Clock::now();
  for (const PacedByte& byte : bytes) {
    // Bytes still on the wire when the device vanished reach nobody.
    if (vanish_.gone()) return;
    if (adapter_.handed_over()) {
      module_.OnByte(byte, now);
    } else {
      adapter_.OnByte(byte, now);
      if (adapter_.handed_over()) {
        vanish_.OnHandOver();
        signal_plan_.OnHandOver();
      }
    }
  }
}

void EmulatedDevice::RunDueWork(TimePoint now) {
  DeliverFromHost(from_host_.TakeDue(now));
  adapter_.OnTime(now);
  module_.OnTime(now);
  vanish_.OnTime(now);
  if (vanish_.gone()) VanishNow();
  signal_plan_.OnTime(now);
  if (signal_plan_.gone()) SignalCommandNow();
  for (const PacedByte& byte : to_host_.TakeDue(now)) unwritten_.push_back(byte.byte);
}

bool EmulatedDevice::FlushToHost(std::string* error) {
  if (unwritten_.empty()) return true;
  if (!SomeoneHoldsPort() || line_.vanished()) {
    unwritten_.clear();
    return true;
  }
  const long put = line_.WriteMaster(unwritten_.data(), unwritten_.size());
  if (put < 0) {
    if (errno == EIO) {
      // The holder went away between its close and our seeing it.
      unwritten_.clear();
      return true;
    }
    *error = std::string("writing the port: ") + std::strerror(errno);
    return false;
  }
  unwritten_.erase(unwritten_.begin(), unwritten_.begin() + put);
  return true;
}

std::optional<TimePoint> EmulatedDevice::NextDeadline() const {
  std::optional<TimePoint> nearest;
  Earliest(&nearest, from_host_.NextDue());
  Earliest(&nearest, to_host_.NextDue());
  Earliest(&nearest, adapter_.NextDeadline());
  Earliest(&nearest, module_.NextDeadline());
  Earliest(&nearest, vanish_.NextDeadline());
  Earliest(&nearest, signal_plan_.NextDeadline());
  return nearest;
}

void EmulatedDevice::VanishNow() {
  if (line_.vanished()) return;
  line_.Vanish();
  from_host_.Clear();
  to_host_.Clear();
  unwritten_.clear();
  facts_.port.vanished_at = VanishStepName(vanish_.step());
  tracer_.OnVanished(Clock::now());
  log_.Note("the device vanishes (%s): the master is closed", VanishStepName(vanish_.step()));
}

void EmulatedDevice::SignalCommandNow() {
  signal_plan_.CarryOn();
  const char* step = VanishStepName(signal_plan_.step());
  if (!signal_command_ || !signal_command_(options_.signal_number)) {
    log_.Note("no command to send %s at %s", SignalName(options_.signal_number), step);
    return;
  }
  facts_.command_signal = CommandSignalFacts{step, SignalName(options_.signal_number)};
  log_.Note("%s sent to the command at %s", SignalName(options_.signal_number), step);
}

}  // namespace emulator
