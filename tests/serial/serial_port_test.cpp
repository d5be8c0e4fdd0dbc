// The serial port over the scripted platform: what OpenPort asks of the port,
// what the switch to the fast rate changes and keeps, and that every failure
// prints its diagnostic and leaves no handle open.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "serial/diagnostics.h"
#include "serial/interruption.h"
#include "serial/port.h"
#include "tests/fake/fake_platform.h"

namespace {

class SerialPort : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    PortHandle = INVALID_HANDLE_VALUE;
    InterruptedBy = 0;
    EchoVisibleOnly = 0;
  }
  void TearDown() override {
    ClosePort();
    InterruptedBy = 0;
    EchoVisibleOnly = 0;
  }
  static std::string Captured(void (*run)()) {
    testing::internal::CaptureStdout();
    run();
    return testing::internal::GetCapturedStdout();
  }
};

TEST_F(SerialPort, OpensTheComDeviceExclusivelyWithFixedQueues) {
  ASSERT_EQ(OpenPort(1), 1);
  const fake::Platform& p = fake::State();
  EXPECT_EQ(p.openedPaths, std::vector<std::string>{"\\\\.\\COM1"});
  EXPECT_EQ(p.createAccess, GENERIC_READ | GENERIC_WRITE);
  EXPECT_EQ(p.createShare, 0u);
  EXPECT_EQ(p.createDisposition, (DWORD)OPEN_EXISTING);
  EXPECT_EQ(p.createFlags, (DWORD)FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(p.inQueue, 4096u);
  EXPECT_EQ(p.outQueue, 4096u);
  EXPECT_EQ(p.openHandles, 1);
  EXPECT_NE(PortHandle, INVALID_HANDLE_VALUE);
}

TEST_F(SerialPort, OpenAppliesTheSlowLineAndKeepsWhatItDoesNotSet) {
  ASSERT_EQ(OpenPort(1), 1);
  ASSERT_EQ(fake::State().statesSet.size(), 1u);
  const DCB& d = fake::State().statesSet[0];
  const DCB& reported = fake::State().reported;
  EXPECT_EQ(d.DCBlength, sizeof(DCB));
  EXPECT_EQ(d.BaudRate, 1200u);
  EXPECT_EQ(d.fBinary, 1u);
  EXPECT_EQ(d.fParity, 0u);
  EXPECT_EQ(d.fOutxCtsFlow, 0u);
  EXPECT_EQ(d.fOutxDsrFlow, 0u);
  EXPECT_EQ(d.fDtrControl, (DWORD)DTR_CONTROL_DISABLE);
  EXPECT_EQ(d.fOutX, 0u);
  EXPECT_EQ(d.fInX, 0u);
  EXPECT_EQ(d.fErrorChar, 0u);
  EXPECT_EQ(d.fNull, 0u);
  EXPECT_EQ(d.fRtsControl, (DWORD)RTS_CONTROL_DISABLE);
  EXPECT_EQ(d.fAbortOnError, 0u);
  EXPECT_EQ(d.XonLim, 500);
  EXPECT_EQ(d.XoffLim, 3276);
  EXPECT_EQ(d.ByteSize, 8);
  EXPECT_EQ(d.Parity, NOPARITY);
  EXPECT_EQ(d.StopBits, ONESTOPBIT);
  EXPECT_EQ(d.XonChar, 0x11);
  EXPECT_EQ(d.XoffChar, 0x13);
  // Left as the port reported them.
  EXPECT_EQ(d.fDsrSensitivity, reported.fDsrSensitivity);
  EXPECT_EQ(d.fTXContinueOnXoff, reported.fTXContinueOnXoff);
  EXPECT_EQ(d.ErrorChar, reported.ErrorChar);
  EXPECT_EQ(d.EofChar, reported.EofChar);
  EXPECT_EQ(d.EvtChar, reported.EvtChar);
}

TEST_F(SerialPort, OpenSetsTheTimeoutsThenPurgesBothDirections) {
  ASSERT_EQ(OpenPort(1), 1);
  ASSERT_EQ(fake::State().timeoutsSet.size(), 1u);
  const COMMTIMEOUTS& t = fake::State().timeoutsSet[0];
  EXPECT_EQ(t.ReadIntervalTimeout, 1000u);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 500u);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 1000u);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 500u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);
  std::vector<std::string> expected = {
      "CreateFileA(\\\\.\\COM1)", "SetupComm(4096,4096)", "GetCommState(" + std::to_string(sizeof(DCB)) + ")",
      "SetCommState(1200)",       "SetCommTimeouts()",    "PurgeComm(0x0F)"};
  EXPECT_EQ(fake::State().calls, expected);
}

TEST_F(SerialPort, OpenSucceedsWhenThePurgeIsRefused) {
  fake::State().failures["PurgeComm"] = 87;
  EXPECT_EQ(OpenPort(1), 1);
  EXPECT_EQ(fake::State().openHandles, 1);
}

struct OpenFailure {
  const char* call;
  DWORD error;
  const char* diagnostic;
};

void PrintTo(const OpenFailure& f, std::ostream* os) { *os << f.call; }

class SerialPortOpenFailure : public SerialPort, public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(SerialPortOpenFailure, PrintsItsDiagnosticAndLeavesNothingOpen) {
  fake::State().failures[GetParam().call] = GetParam().error;
  testing::internal::CaptureStdout();
  int opened = OpenPort(1);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(opened, 0);
  EXPECT_EQ(out, GetParam().diagnostic);
  EXPECT_EQ(fake::State().openHandles, 0);
  EXPECT_EQ(PortHandle, INVALID_HANDLE_VALUE);
  // A dropped port is closed without a purge.
  EXPECT_TRUE(fake::CallsStartingWith("PurgeComm").empty());
}

INSTANTIATE_TEST_SUITE_P(EachStep, SerialPortOpenFailure,
                         ::testing::Values(OpenFailure{"CreateFileA", 2, "CreateFile for \\\\.\\COM1 failed 2\n"},
                                           OpenFailure{"SetupComm", 87, "SetupComm failed 87\n"},
                                           OpenFailure{"GetCommState", 31, "GetCommState failed 31\n"},
                                           OpenFailure{"SetCommState", 87, "SetCommState failed 87\n"},
                                           // Refused, every read would keep a fresh handle's
                                           // zero time-outs and wait for ever.
                                           OpenFailure{"SetCommTimeouts", 87, "SetCommTimeouts failed 87\n"}),
                         [](const ::testing::TestParamInfo<OpenFailure>& info) {
                           return std::string(info.param.call);
                         });

TEST_F(SerialPort, PortNumbersUpToFourCharactersFitThePath) {
  ASSERT_EQ(OpenPort(9999), 1);
  ClosePort();
  ASSERT_EQ(OpenPort(-999), 1);
  EXPECT_EQ(fake::State().openedPaths, (std::vector<std::string>{"\\\\.\\COM9999", "\\\\.\\COM-999"}));
}

TEST_F(SerialPort, APortNumberTooLongForThePathFailsTheOpen) {
  for (int portNumber : {10000, -1000, 2147483647}) {
    fake::Reset();
    testing::internal::CaptureStdout();
    int opened = OpenPort(portNumber);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(opened, 0) << portNumber;
    EXPECT_EQ(out, "CreateFile for \\\\.\\COM" + std::to_string(portNumber) + " failed " +
                       std::to_string(ERROR_INVALID_NAME) + "\n");
    EXPECT_TRUE(fake::State().openedPaths.empty()) << "no device may be opened";
    EXPECT_EQ(PortHandle, INVALID_HANDLE_VALUE);
  }
}

TEST_F(SerialPort, FastLineChangesOnlyRateAndRtsControl) {
  ASSERT_EQ(OpenPort(1), 1);
  ASSERT_EQ(SetFastLine(), 1);
  ASSERT_EQ(fake::State().statesSet.size(), 2u);
  DCB slow = fake::State().statesSet[0];
  DCB fast = fake::State().statesSet[1];
  EXPECT_EQ(fast.BaudRate, 115200u);
  EXPECT_EQ(fast.fRtsControl, (DWORD)RTS_CONTROL_ENABLE);
  EXPECT_EQ(fast.fDtrControl, (DWORD)DTR_CONTROL_DISABLE);
  EXPECT_EQ(fast.fDsrSensitivity, fake::State().reported.fDsrSensitivity);
  EXPECT_EQ(fast.fTXContinueOnXoff, fake::State().reported.fTXContinueOnXoff);
  EXPECT_EQ(fast.EvtChar, fake::State().reported.EvtChar);
  fast.BaudRate = slow.BaudRate;
  fast.fRtsControl = slow.fRtsControl;
  EXPECT_EQ(std::memcmp(&fast, &slow, sizeof(DCB)), 0) << "any other field changed";
}

TEST_F(SerialPort, RefusedFastLineDropsThePort) {
  ASSERT_EQ(OpenPort(1), 1);
  fake::State().failures["SetCommState"] = 87;
  EXPECT_EQ(Captured([] { EXPECT_EQ(SetFastLine(), 0); }), "SetCommState failed 87\n");
  EXPECT_EQ(fake::State().openHandles, 0);
  EXPECT_EQ(PortHandle, INVALID_HANDLE_VALUE);
}

TEST_F(SerialPort, ReadCharGivesTheByteOrZeroOnTimeoutAndFailure) {
  ASSERT_EQ(OpenPort(1), 1);
  fake::State().reads = {fake::Byte(0xC3), fake::Timeout(), fake::ReadFailure(5)};
  std::string out = Captured([] {
    EXPECT_EQ((unsigned char)ReadChar(), 0xC3);
    EXPECT_EQ(ReadChar(), 0x00);  // time-out: no message
    EXPECT_EQ(ReadChar(), 0x00);  // failed call
  });
  EXPECT_EQ(out, "ReadChar failed\n");
  EXPECT_EQ(fake::CallsStartingWith("ReadFile"), std::vector<std::string>(3, "ReadFile(1)"));
}

TEST_F(SerialPort, WritePortReportsTheCountThePlatformWrote) {
  ASSERT_EQ(OpenPort(1), 1);
  std::string out = Captured([] {
    EXPECT_EQ(WritePort("abcd", 4), 4);
    fake::State().writeLimit = 2;
    EXPECT_EQ(WritePort("efgh", 4), 2);  // partial: no message
    fake::State().failures["WriteFile"] = 1117;
    EXPECT_EQ(WritePort("ijkl", 4), 0);
  });
  EXPECT_EQ(out, "Write Failed: 1117\n");
  EXPECT_EQ(std::string(fake::State().written.begin(), fake::State().written.end()), "abcdef");
}

TEST_F(SerialPort, ModemLinesGoThroughEscapeFunctions) {
  ASSERT_EQ(OpenPort(1), 1);
  fake::State().calls.clear();
  // A port without modem lines refuses them; nothing is printed.
  fake::State().failures["EscapeCommFunction"] = 25;
  EXPECT_EQ(Captured([] {
              SetRts(1);
              SetRts(0);
              SetDtr(1);
              SetDtr(0);
            }),
            "");
  EXPECT_EQ(fake::State().calls,
            (std::vector<std::string>{"EscapeCommFunction(SETRTS)", "EscapeCommFunction(CLRRTS)",
                                      "EscapeCommFunction(SETDTR)", "EscapeCommFunction(CLRDTR)"}));
}

TEST_F(SerialPort, ClosePortPurgesThenClosesAndIsHarmlessTwice) {
  ASSERT_EQ(OpenPort(1), 1);
  fake::State().calls.clear();
  EXPECT_EQ(Captured([] {
              ClosePort();
              ClosePort();
            }),
            "");
  EXPECT_EQ(fake::State().calls, (std::vector<std::string>{"PurgeComm(0x0F)", "CloseHandle()"}));
  EXPECT_EQ(fake::State().openHandles, 0);
  EXPECT_EQ(PortHandle, INVALID_HANDLE_VALUE);
}

TEST_F(SerialPort, DropPortClosesWithoutPurge) {
  ASSERT_EQ(OpenPort(1), 1);
  fake::State().calls.clear();
  DropPort();
  EXPECT_EQ(fake::State().calls, std::vector<std::string>{"CloseHandle()"});
  EXPECT_EQ(fake::State().openHandles, 0);
  EXPECT_EQ(PortHandle, INVALID_HANDLE_VALUE);
}

TEST_F(SerialPort, AnInterruptedRunNeitherReadsNorWritesNorBlamesTheDevice) {
  ASSERT_EQ(OpenPort(1), 1);
  fake::State().calls.clear();
  fake::QueueText("K");
  InterruptedBy = 15;
  std::string out = Captured([] {
    EXPECT_EQ(ReadChar(), 0x00);
    EXPECT_EQ(WritePort("abcd", 4), 0);
    Diagnostic("Do PNP failed\n");
    EchoByte('K');
  });
  EXPECT_EQ(out, "");
  EXPECT_TRUE(fake::State().calls.empty());
  EXPECT_TRUE(fake::State().written.empty());
  // The port itself is still closed as usual.
  ClosePort();
  EXPECT_EQ(fake::State().calls, (std::vector<std::string>{"PurgeComm(0x0F)", "CloseHandle()"}));
}

TEST_F(SerialPort, UserMessagesAreShownAfterAnInterruption) {
  InterruptedBy = 2;
  EXPECT_EQ(Captured([] { Message("Interrupted: %s\n", "x"); }), "Interrupted: x\n");
}

struct Echo {
  unsigned char byte;
  const char* onTerminal;
};

class SerialEcho : public SerialPort, public ::testing::WithParamInterface<Echo> {};

TEST_P(SerialEcho, ShowsOnlyVisibleTextOnATerminalAndTheByteElsewhere) {
  EchoVisibleOnly = 1;
  EXPECT_EQ(Captured([] { EchoByte((char)GetParam().byte); }), GetParam().onTerminal);
  EXPECT_EQ(OutputLineOpen(), 1);
  EchoVisibleOnly = 0;
  EXPECT_EQ(Captured([] { EchoByte((char)GetParam().byte); }), std::string(1, (char)GetParam().byte));
}

INSTANTIATE_TEST_SUITE_P(Bytes, SerialEcho,
                         ::testing::Values(Echo{0x00, "\\x00"}, Echo{0x07, "\\x07"}, Echo{0x09, "\\x09"},
                                           Echo{0x0A, "\\x0a"}, Echo{0x0D, "\\x0d"}, Echo{0x1B, "\\x1b"},
                                           Echo{0x1F, "\\x1f"}, Echo{0x20, " "}, Echo{0x41, "A"}, Echo{0x5C, "\\"},
                                           Echo{0x7E, "~"}, Echo{0x7F, "\\x7f"}, Echo{0x80, "\\x80"},
                                           Echo{0x9B, "\\x9b"}, Echo{0xFF, "\\xff"}),
                         [](const ::testing::TestParamInfo<Echo>& info) {
                           return "Byte" + std::to_string(info.param.byte);
                         });

TEST_F(SerialPort, AnEchoedLineEndClosesTheLineOnlyWhenShownAsItCame) {
  Captured([] { EchoByte('\n'); });
  EXPECT_EQ(OutputLineOpen(), 0);
  EchoVisibleOnly = 1;
  Captured([] { EchoByte('\n'); });
  EXPECT_EQ(OutputLineOpen(), 1);
  Captured([] { Diagnostic("Do PNP failed\n"); });
  EXPECT_EQ(OutputLineOpen(), 0);
}

}  // namespace
