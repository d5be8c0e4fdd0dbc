#include "app/run_sequence.h"

#include <cstdint>
#include <cstring>

#include "adapter/adapter.h"
#include "app/interrupt.h"
#include "serial/diagnostics.h"
#include "serial/interruption.h"
#include "serial/port.h"
#include "testlib/prodtest.h"

HandshakeModeValue HandshakeMode = HandshakeOn;

namespace {

const int kPortNumber = 1;
const char kHandOverCommand[] = {0x01, (char)0xF8, 0x00, 0x00};
// Long enough for the adapter to pass the hand-over on before the port closes.
const DWORD kHandOverSettleMs = 500;

const std::int32_t kTransportBcsp = 1;
const char kModulePort[] = "COM1";
const std::int32_t kModuleBaudRate = 115200;
const std::int32_t kModuleCrc = 1;

const std::uint32_t kUartConfigHandshakeOn = 0xA8;
const std::uint32_t kUartConfigHandshakeOff = 0xA0;
const std::uint32_t kHostInterface = 4;
const std::uint32_t kVmDisable = 0;

// 1 when the word names a mode; HandshakeMode is then set.
int ParseHandshakeWord(const char* word) {
  if (std::strcmp(word, "on") == 0) {
    HandshakeMode = HandshakeOn;
    return 1;
  }
  if (std::strcmp(word, "off") == 0) {
    HandshakeMode = HandshakeOff;
    return 1;
  }
  return 0;
}

const char* HandshakeWord(void) { return HandshakeMode == HandshakeOn ? "on" : "off"; }

void HandOverPort(void) {
  // A failed write has printed its diagnostic; the module may still be
  // reachable, which the link itself will tell.
  WritePort(kHandOverCommand, (int)sizeof(kHandOverCommand));
  Sleep(kHandOverSettleMs);
  ClosePort();
}

// 0 after "failed to write %s\n", unless an interruption made it fail.
int SettingNotWritten(const char* setting) {
  if (!RunInterrupted()) Message("failed to write %s\n", setting);
  return 0;
}

// Writes the three settings in order and stops at the first that fails, or
// at an interruption: a later one is no use without the earlier ones. 1 when
// all were written.
int WriteModuleSettings(std::uint32_t connection) {
  std::uint32_t uartConfig = HandshakeMode == HandshakeOn ? kUartConfigHandshakeOn : kUartConfigHandshakeOff;
  if (RunInterrupted()) return 0;
  if (!write_uart_config(connection, uartConfig)) return SettingNotWritten("UART configuration");
  if (RunInterrupted()) return 0;
  if (!write_host_interface(connection, kHostInterface)) return SettingNotWritten("host interface");
  if (RunInterrupted()) return 0;
  if (!write_vm_disable(connection, kVmDisable)) return SettingNotWritten("VM disable");
  return 1;
}

// The last line of an interrupted run, on a line of its own even when an echo
// was cut; returns the run's exit status.
int ReportInterruption(int moduleLinkOpened) {
  EndInterruptibleWaits();
  if (OutputLineOpen()) Message("\n");
  if (moduleLinkOpened)
    Message("Interrupted: the module may hold only part of the settings; repeat the run\n");
  else
    Message("Interrupted: no module setting was written\n");
  return InterruptionStatus();
}

}  // namespace

int RunHandshake(int argc, char** argv) {
  if (argc < 2) {
    // A program started with an empty argument list has no name to show.
    const char* programName = argc > 0 && argv[0] != NULL ? argv[0] : "corvane-handshake";
    Message("Usage: \n");
    Message("%s [on] | [off]\n", programName);
    return ExitUsage;
  }
  if (!ParseHandshakeWord(argv[1])) {
    Message("Invalid Argument: %s\n", argv[1]);
    return ExitUsage;
  }

  // A signal ends the run at the next step; the steps it cut short have
  // closed what they opened, as on any failure.
  Message("Contacting Corvane\n");
  if (!ContactAdapter(kPortNumber)) {
    if (RunInterrupted()) return ReportInterruption(0);
    Message("Corvane not found on COM1\n");
    return ExitRunFailed;
  }
  if (RunInterrupted()) {
    ClosePort();
    return ReportInterruption(0);
  }
  Message("Success\n");

  HandOverPort();
  if (RunInterrupted()) return ReportInterruption(0);

  std::uint32_t connection = init_prodtest(kTransportBcsp, kModulePort, kModuleBaudRate, kModuleCrc);
  if (connection == 0) {
    if (RunInterrupted()) return ReportInterruption(0);
    Message("failed to open BCSP\n");
    return ExitRunFailed;
  }
  int written = WriteModuleSettings(connection);
  close_prodtest(connection);
  if (!written) return RunInterrupted() ? ReportInterruption(1) : ExitRunFailed;
  EndInterruptibleWaits();

  Message("Handshake set %s\n", HandshakeWord());
  Message("Please power off and on Corvane Device\n");
  return ExitSettingsWritten;
}
