// What the tests of prodtest over the scripted line share: a fixture that
// puts the test module at the far end of the scripted platform's port on the
// fake link clock, and the ways to pick the host's packets out of what the
// module saw.
#ifndef CORVANE_TESTS_TESTLIB_LINK_FIXTURE_H
#define CORVANE_TESTS_TESTLIB_LINK_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "bcsp/packet.h"
#include "bcsp/settings_message.h"
#include "testlib/prodtest.h"
#include "tests/fake/fake_platform.h"
#include "tests/testlib/module_peer.h"
#include "tests/testlib/scripted_line.h"

namespace linktest {

using peer::Bytes;
using peer::Seen;

inline bool IsLink(const bcsp::Packet& packet, const char* text) {
  return !packet.reliable && packet.channel == bcsp::kChannelLink && packet.payload == Bytes(text, text + 4);
}

inline bool IsSync(const bcsp::Packet& packet) { return IsLink(packet, "SYNC"); }
inline bool IsConf(const bcsp::Packet& packet) { return IsLink(packet, "CONF"); }

// A reliable packet on the settings channel: the host's requests, and the
// module's answers on the module's side.
inline bool IsSettings(const bcsp::Packet& packet) {
  return packet.reliable && packet.channel == bcsp::kChannelSettings;
}
inline bool IsRequest(const bcsp::Packet& packet) { return IsSettings(packet); }
inline bool IsAnswer(const bcsp::Packet& packet) { return IsSettings(packet); }

inline bool IsAck(const bcsp::Packet& packet) { return !packet.reliable && packet.channel == bcsp::kChannelAck; }

inline bcsp::WriteRequest RequestOf(const bcsp::Packet& packet) {
  bcsp::WriteRequest request;
  EXPECT_TRUE(bcsp::DecodeWriteRequest(packet.payload.data(), packet.payload.size(), &request));
  return request;
}

// Milliseconds from the start of the test's clock.
inline double Ms(const Seen& seen) { return peer::ScriptedLine::Since(seen.at); }
inline double Now() { return peer::ScriptedLine::Now(); }

const std::map<std::uint16_t, std::uint32_t> kRunOn = {
    {bcsp::kSettingUartConfig, 0xA8}, {bcsp::kSettingHostInterface, 4}, {bcsp::kSettingVmDisable, 0}};

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }

  void TearDown() override {
    if (connection_ != 0) close_prodtest(connection_);
    line_.reset();
  }

  void StartPeer(peer::Config config = {}) { line_.emplace(std::move(config)); }

  std::uint32_t Open(std::int32_t crc = 1) {
    connection_ = init_prodtest(1, "COM1", 115200, crc);
    return connection_;
  }

  void Close() {
    close_prodtest(connection_);
    connection_ = 0;
  }

  // The three writes of a run with the handshake on, all expected to succeed.
  void WriteRunOn() {
    EXPECT_EQ(write_uart_config(connection_, 0xA8), 1);
    EXPECT_EQ(write_host_interface(connection_, 4), 1);
    EXPECT_EQ(write_vm_disable(connection_, 0), 1);
  }

  // The module, once it has had every byte the host wrote.
  const peer::Module& Module() {
    line_->Settle();
    return line_->module();
  }

  template <typename Predicate>
  std::vector<Seen> SeenWhere(Predicate predicate) {
    std::vector<Seen> matching;
    for (const Seen& seen : Module().seen()) {
      if (predicate(seen.packet)) matching.push_back(seen);
    }
    return matching;
  }

  // When each matching packet reached the module, in milliseconds.
  template <typename Predicate>
  std::vector<double> TimesOf(Predicate predicate) {
    std::vector<double> times;
    for (const Seen& seen : SeenWhere(predicate)) times.push_back(Ms(seen));
    return times;
  }

  std::optional<peer::ScriptedLine> line_;
  std::uint32_t connection_ = 0;
};

// 0, 250, 500, ... : `count` sends on the link's 250 ms beat from `first`.
inline std::vector<double> Beat(double first, int count) {
  std::vector<double> times;
  for (int i = 0; i < count; ++i) times.push_back(first + 250.0 * i);
  return times;
}

}  // namespace linktest

#endif
