// A module side of the link for tests, with no thread and no clock of its
// own. It takes the host's bytes with the time they arrived (Receive), does
// what falls due at a time (Tick: its resends), and hands every byte it puts
// on the wire to the line it was given. It speaks the module's part of the
// link: answers SYNC and CONF, acknowledges, applies write requests once,
// answers them in reliable packets of its own and resends those until they
// are acknowledged. The test decides what the wire loses or corrupts and what
// else the module says.
//
// Two drivers put it on a port: ScriptedLine (tests/testlib/scripted_line.h)
// behind the scripted platform on the fake link clock, and PtyPeer
// (tests/testlib/pty_peer.h) on a pseudo-terminal in real time.
#ifndef CORVANE_TESTS_TESTLIB_MODULE_PEER_H
#define CORVANE_TESTS_TESTLIB_MODULE_PEER_H

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "bcsp/packet.h"
#include "bcsp/settings_message.h"
#include "bcsp/slip.h"

namespace peer {

// The steady clock's time points: prodtest's clock reads the same type, real
// or fake.
using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using Bytes = std::vector<std::uint8_t>;

// What the module is about to send besides its answer.
struct Extra {
  static Extra Reliable(bcsp::Packet packet) { return Extra{std::move(packet), {}}; }
  static Extra Raw(Bytes bytes) { return Extra{std::nullopt, std::move(bytes)}; }
  std::optional<bcsp::Packet> queued;  // sent reliably, seq and ack filled in
  Bytes raw;                           // written to the wire as it is
};

// The module's sequence state when it is about to answer a request.
struct LinkState {
  std::uint8_t next_seq;  // seq of its next reliable packet
  std::uint8_t expected;  // seq it expects next from the host
};

struct Config {
  bool crc = true;  // whether the module's own packets carry a CRC
  // Wire losses: true drops the packet. Called for every transmission.
  std::function<bool(const bcsp::Packet&)> drop_outgoing;
  std::function<bool(const bcsp::Packet&)> drop_incoming;
  // Changes one transmission of a packet before the wire takes it (its
  // resends start again from the module's own copy).
  std::function<void(bcsp::Packet*)> alter_outgoing;
  // Wire damage on the raw bytes, in each direction.
  std::function<void(Bytes*)> damage_outgoing;
  std::function<void(Bytes*)> damage_incoming;
  // Status per setting id; ids 1..3 are accepted and others unknown unless
  // listed here.
  std::map<std::uint16_t, std::uint8_t> status;
  // Sent after a new request is applied and before its answer.
  std::function<std::vector<Extra>(const bcsp::WriteRequest&, LinkState)> before_answer;
};

// A host packet as the module decoded it, and when.
struct Seen {
  TimePoint at;
  bcsp::Packet packet;
};

class Module {
 public:
  using Line = std::function<void(const Bytes&)>;

  Module(Config config, Line line);

  // The host's bytes, arrived at `now`.
  void Receive(Bytes bytes, TimePoint now);
  // Does what is due at `now`: the resend of an unacknowledged packet.
  void Tick(TimePoint now);
  // When Tick next has something to do; nothing while no packet is
  // unacknowledged.
  std::optional<TimePoint> NextEvent() const;

  const std::vector<Seen>& seen() const { return seen_; }
  // Accepted writes in the order they were applied, and the values held.
  const std::vector<std::pair<std::uint16_t, std::uint32_t>>& applied() const { return applied_; }
  const std::map<std::uint16_t, std::uint32_t>& stored() const { return stored_; }

 private:
  struct Outstanding {
    bcsp::Packet packet;
    unsigned sends = 0;
    TimePoint next_resend;
  };

  void Handle(const bcsp::Packet& packet);
  void HandleLinkMessage(const bcsp::Packet& packet);
  void HandleRequest(const Bytes& payload);
  void Enqueue(bcsp::Packet packet);
  void StartNext();
  void SendAck();
  void Transmit(bcsp::Packet packet);
  void WriteWire(Bytes bytes);

  Config config_;
  Line line_;
  TimePoint now_{};

  bcsp::SlipDecoder decoder_;
  bool configured_ = false;
  std::uint8_t next_seq_ = 0;
  std::uint8_t expected_ = 0;
  std::optional<Outstanding> outstanding_;
  std::deque<bcsp::Packet> queue_;

  std::vector<Seen> seen_;
  std::vector<std::pair<std::uint16_t, std::uint32_t>> applied_;
  std::map<std::uint16_t, std::uint32_t> stored_;
};

// Damages every nth byte that passes, counting across calls.
std::function<void(Bytes*)> DamageEveryNth(int n);

}  // namespace peer

#endif
