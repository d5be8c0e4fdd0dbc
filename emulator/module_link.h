// The radio module's end of the module link: SLIP frames, link establishment
// (every SYNC answered with SYNA and starting the link afresh, every CONF
// with CONA), reliable delivery with a window of one, and the settings
// channel. Lost and corrupted frames are decided here, at the module's
// receiver and transmitter, and so is a vanishing at the link's steps.
#ifndef CORVANE_EMULATOR_MODULE_LINK_H
#define CORVANE_EMULATOR_MODULE_LINK_H

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "bcsp/packet.h"
#include "bcsp/slip.h"
#include "emulator/dialogue_log.h"
#include "emulator/frame_faults.h"
#include "emulator/line_output.h"
#include "emulator/options.h"
#include "emulator/paced_queue.h"
#include "emulator/run_facts.h"
#include "emulator/settings_store.h"
#include "emulator/vanish_plan.h"

namespace emulator {

class ModuleLink {
 public:
  ModuleLink(const ModuleOptions& options, SettingsStore& store, LineOutput& line, DialogueLog& log,
             ModuleFacts& facts);

  // Each plan is told of each SYNC, CONF and new write request; the module
  // does not act on the one a plan's step falls on.
  void WatchForVanish(VanishPlan* plan) { plans_.push_back(plan); }

  void OnByte(const PacedByte& byte, TimePoint now);
  std::optional<TimePoint> NextDeadline() const;
  void OnTime(TimePoint now);

 private:
  struct InFlight {
    bcsp::Packet packet;
    unsigned sends = 0;
    TimePoint next_send{};
  };

  void OnFrame(Bytes frame, unsigned wire_bytes, TimePoint now);
  void OnPacket(const bcsp::Packet& packet, TimePoint now);
  void OnLinkMessage(const bcsp::Packet& packet, TimePoint now);
  void OnSettingsPacket(const bcsp::Packet& packet, TimePoint now);
  // Accepts the seq of a reliable packet; true when it is new, not a repeat.
  bool AcceptSeq(const bcsp::Packet& packet);
  void TakeAck(std::uint8_t ack, TimePoint now);
  void SendUnreliable(std::uint8_t channel, const Bytes& payload, TimePoint now);
  void SendAck(TimePoint now);
  void QueueReliable(const Bytes& payload, TimePoint now);
  void StartNextReliable(TimePoint now);
  void Transmit(const bcsp::Packet& packet, TimePoint now);
  // Every plan hears of the step; true when one holds it back from the module.
  bool PlansHold(bool (VanishPlan::*step)());

  SettingsStore& store_;
  LineOutput& line_;
  DialogueLog& log_;
  ModuleFacts& facts_;
  FrameFaults from_host_faults_;
  FrameFaults to_host_faults_;
  std::vector<VanishPlan*> plans_;
  bcsp::SlipDecoder decoder_;
  unsigned frame_wire_bytes_ = 0;  // since the last frame ended
  bool linked_ = false;            // a CONF has been answered since the last SYNC
  std::uint8_t next_seq_ = 0;
  std::uint8_t expected_seq_ = 0;
  std::optional<InFlight> in_flight_;
  std::deque<Bytes> waiting_;  // answers behind the one in flight
};

}  // namespace emulator

#endif
