// The one run of the link in real time: prodtest through the real POSIX layer
// on a pseudo-terminal, against the test module on the master end. Every
// other case of the link runs over the scripted platform on the fake clock
// (link_test.cpp, prodtest_test.cpp).
#include <gtest/gtest.h>
#include <termios.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <vector>

#include "bcsp/packet.h"
#include "bcsp/settings_message.h"
#include "platform/serial_api.h"
#include "testlib/prodtest.h"
#include "tests/testlib/module_peer.h"
#include "tests/testlib/pty_peer.h"

namespace {

using std::chrono::milliseconds;

bool IsAck(const bcsp::Packet& packet) { return !packet.reliable && packet.channel == bcsp::kChannelAck; }

TEST(LinkOnAPseudoTerminal, InitThreeWritesAndClose) {
  peer::PtyPeer peer;
  peer.Start({});
  ASSERT_EQ(setenv("COM1", peer.slave_path().c_str(), 1), 0);

  const std::uint32_t connection = init_prodtest(1, "COM1", 115200, 1);
  ASSERT_NE(connection, 0u);

  // The line as the POSIX layer set it from prodtest's settings.
  termios line{};
  ASSERT_EQ(tcgetattr(peer.slave_fd(), &line), 0);
  EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B115200));
  EXPECT_EQ(cfgetispeed(&line), static_cast<speed_t>(B115200));
  EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(line.c_iflag & (IXON | IXOFF), 0u);

  EXPECT_EQ(write_uart_config(connection, 0xA8), 1);
  EXPECT_EQ(write_host_interface(connection, 4), 1);
  EXPECT_EQ(write_vm_disable(connection, 0), 1);
  close_prodtest(connection);

  // The port is free again.
  HANDLE port = CreateFileA("\\\\.\\COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(port));

  // The host's last acknowledgement may still be on its way.
  EXPECT_TRUE(peer.WaitForSeen(IsAck, 3, milliseconds(5000)));
  peer.Inspect([](const peer::Module& module) {
    const std::map<std::uint16_t, std::uint32_t> run_on = {
        {bcsp::kSettingUartConfig, 0xA8}, {bcsp::kSettingHostInterface, 4}, {bcsp::kSettingVmDisable, 0}};
    EXPECT_EQ(module.stored(), run_on);
    EXPECT_EQ(module.applied().size(), 3u);
  });
}

}  // namespace
