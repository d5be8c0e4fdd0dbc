#include "app/run_sequence.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "adapter/adapter.h"
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
int ParseHandshakeWord(const char* word)
{
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

const char* HandshakeWord(void)
{
    return HandshakeMode == HandshakeOn ? "on" : "off";
}

void HandOverPort(void)
{
    // A failed write has printed its diagnostic; the module may still be
    // reachable, which the link itself will tell.
    WritePort(kHandOverCommand, (int)sizeof(kHandOverCommand));
    Sleep(kHandOverSettleMs);
    ClosePort();
}

// Writes the three settings in order and stops at the first that fails:
// a later one is no use without the earlier ones. 1 when all were written.
int WriteModuleSettings(std::uint32_t connection)
{
    std::uint32_t uartConfig =
        HandshakeMode == HandshakeOn ? kUartConfigHandshakeOn : kUartConfigHandshakeOff;
    if (!write_uart_config(connection, uartConfig)) {
        std::printf("failed to write %s\n", "UART configuration");
        return 0;
    }
    if (!write_host_interface(connection, kHostInterface)) {
        std::printf("failed to write %s\n", "host interface");
        return 0;
    }
    if (!write_vm_disable(connection, kVmDisable)) {
        std::printf("failed to write %s\n", "VM disable");
        return 0;
    }
    return 1;
}

}  // namespace

int RunHandshake(int argc, char** argv)
{
    if (argc < 2) {
        // A program started with an empty argument list has no name to show.
        const char* programName = argc > 0 && argv[0] != NULL ? argv[0] : "corvane-handshake";
        std::printf("Usage: \n");
        std::printf("%s [on] | [off]\n", programName);
        return ExitUsage;
    }
    if (!ParseHandshakeWord(argv[1])) {
        std::printf("Invalid Argument: %s\n", argv[1]);
        return ExitUsage;
    }

    std::printf("Contacting Corvane\n");
    if (!ContactAdapter(kPortNumber)) {
        std::printf("Corvane not found on COM1\n");
        return ExitRunFailed;
    }
    std::printf("Success\n");

    HandOverPort();

    std::uint32_t connection = init_prodtest(kTransportBcsp, kModulePort, kModuleBaudRate, kModuleCrc);
    if (connection == 0) {
        std::printf("failed to open BCSP\n");
        return ExitRunFailed;
    }
    int written = WriteModuleSettings(connection);
    close_prodtest(connection);
    if (!written)
        return ExitRunFailed;

    std::printf("Handshake set %s\n", HandshakeWord());
    std::printf("Please power off and on Corvane Device\n");
    return ExitSettingsWritten;
}
