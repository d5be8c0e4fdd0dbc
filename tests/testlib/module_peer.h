// A module side of the link for tests: the master end of a pseudo-terminal
// pair, served by a thread that speaks the module's part of the link (answers
// SYNC and CONF, acknowledges, applies write requests once, answers them in
// reliable packets of its own and resends those until acknowledged). The test
// decides what the wire loses or corrupts and what else the module says.
#ifndef CORVANE_TESTS_TESTLIB_MODULE_PEER_H
#define CORVANE_TESTS_TESTLIB_MODULE_PEER_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bcsp/packet.h"
#include "bcsp/settings_message.h"
#include "bcsp/slip.h"

namespace peer {

using Clock = std::chrono::steady_clock;
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
  // Wire damage on the raw bytes, in each direction.
  std::function<void(Bytes*)> damage_outgoing;
  std::function<void(Bytes*)> damage_incoming;
  // Status per setting id; ids 1..3 are accepted and others unknown unless
  // listed here.
  std::map<std::uint16_t, std::uint8_t> status;
  // Sent after a new request is applied and before its answer.
  std::function<std::vector<Extra>(const bcsp::WriteRequest&, LinkState)> before_answer;
};

// A host packet as the module decoded it.
struct Seen {
  Clock::time_point at;
  bcsp::Packet packet;
};

class ModulePeer {
 public:
  ModulePeer();  // opens the pair; the thread starts with Start
  ~ModulePeer();
  ModulePeer(const ModulePeer&) = delete;
  ModulePeer& operator=(const ModulePeer&) = delete;

  const std::string& slave_path() const { return slave_path_; }
  // A descriptor of the slave end, for reading back the line settings.
  int slave_fd() const { return slave_keepalive_; }
  void Start(Config config);

  // Snapshots, safe while the thread runs.
  std::vector<Seen> seen() const;
  std::vector<std::pair<std::uint16_t, std::uint32_t>> applied() const;
  std::map<std::uint16_t, std::uint32_t> stored() const;

  // Waits until the module has seen `count` host packets that match, since
  // the host's last bytes may still be on their way when a call returns.
  // False if that did not happen within the time given.
  bool WaitForSeen(const std::function<bool(const bcsp::Packet&)>& match, std::size_t count,
                   std::chrono::milliseconds limit) const;

 private:
  struct Outstanding {
    bcsp::Packet packet;
    unsigned sends = 0;
    Clock::time_point next_resend;
  };

  void Run();
  void Receive(Bytes bytes);
  void Handle(const bcsp::Packet& packet);
  void HandleLinkMessage(const bcsp::Packet& packet);
  void HandleRequest(const Bytes& payload);
  void Enqueue(bcsp::Packet packet);
  void StartNext();
  void ResendIfDue();
  void SendAck();
  void Transmit(const bcsp::Packet& packet);
  void WriteWire(Bytes bytes);
  int MillisecondsToNextResend() const;

  int master_ = -1;
  int slave_keepalive_ = -1;  // keeps the pair alive between host opens
  int wake_[2] = {-1, -1};
  std::string slave_path_;
  Config config_;
  std::thread thread_;

  // Owned by the thread.
  bcsp::SlipDecoder decoder_;
  bool configured_ = false;
  std::uint8_t next_seq_ = 0;
  std::uint8_t expected_ = 0;
  std::optional<Outstanding> outstanding_;
  std::deque<bcsp::Packet> queue_;

  mutable std::mutex mutex_;  // guards what the snapshots read
  mutable std::condition_variable seen_changed_;
  std::vector<Seen> seen_;
  std::vector<std::pair<std::uint16_t, std::uint32_t>> applied_;
  std::map<std::uint16_t, std::uint32_t> stored_;
};

// Damages every nth byte that passes, counting across calls.
std::function<void(Bytes*)> DamageEveryNth(int n);

}  // namespace peer

#endif
