// The host side of the module link over an open SerialChannel: link
// establishment (SYNC/SYNA, CONF/CONA), stop-and-wait delivery of reliable
// packets on the settings channel with resends, and acknowledgement of every
// reliable packet the module sends. Malformed input is dropped here, silently.
#ifndef CORVANE_TESTLIB_HOST_LINK_H
#define CORVANE_TESTLIB_HOST_LINK_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "bcsp/link_rules.h"
#include "bcsp/packet.h"
#include "bcsp/slip.h"
#include "testlib/serial_channel.h"

namespace prodtest {

constexpr std::chrono::milliseconds kLinkLimit{2000};

class HostLink {
 public:
  HostLink(SerialChannel* channel, bool crc) : channel_(channel), crc_(crc) {}

  // Starts the link afresh: SYNC until SYNA, then CONF until CONA, each sent
  // again every bcsp::kResendInterval, all within kLinkLimit of the first SYNC.
  bool Establish();
  bool up() const { return up_; }

  // Sends the payload as the next reliable packet on the settings channel.
  // The link must be up with nothing awaiting acknowledgement.
  bool SendReliable(const std::vector<std::uint8_t>& payload);
  bool awaiting_ack() const { return awaiting_ack_; }

  // Reads and handles the module's packets, resending the unacknowledged
  // packet on time, until the module acknowledges it or a settings payload is
  // waiting. False at the deadline, when the port fails, or once the packet
  // has been sent bcsp::kMaxSends times without acknowledgement (the link is then
  // down).
  bool WaitForProgress(Clock::time_point deadline);

  // The oldest settings payload received and not yet taken.
  bool TakePayload(std::vector<std::uint8_t>* payload);

  // Gives up on the exchange in progress. A packet of ours may be
  // unacknowledged, or the module may still be sending an answer, or have
  // given it up after its own last send and numbered its next packet past it:
  // either way the two sides' sequence numbers may disagree. The link goes
  // down and must be established again before the next packet.
  void GiveUp();

 private:
  enum class ReadResult { kPacket, kDeadline, kPortFailed };

  bool Handshake(const char* message, const char* answer, Clock::time_point deadline);
  bool SendLinkMessage(const char* message);
  bool SendAck();
  bool SendPacket(const bcsp::Packet& packet);
  ReadResult NextPacket(Clock::time_point deadline, bcsp::Packet* packet);
  void Handle(const bcsp::Packet& packet);
  void TakeDown();

  SerialChannel* channel_;
  bool crc_;
  bool up_ = false;

  std::uint8_t next_seq_ = 0;      // seq of our next reliable packet
  std::uint8_t expected_seq_ = 0;  // seq we expect next from the module

  bool awaiting_ack_ = false;
  std::uint8_t unacked_seq_ = 0;
  std::vector<std::uint8_t> unacked_frame_;  // resent unchanged
  unsigned sends_ = 0;
  Clock::time_point next_resend_{};

  std::deque<std::vector<std::uint8_t>> inbox_;

  bcsp::SlipDecoder decoder_;
  std::uint8_t read_buffer_[256] = {};
  std::size_t read_size_ = 0;
  std::size_t read_pos_ = 0;
};

}  // namespace prodtest

#endif
