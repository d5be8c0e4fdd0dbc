// The rules of the module link that both ends keep alike: sequence numbers
// count modulo 8, an unacknowledged reliable packet is sent again every
// 250 ms and given up after 8 sends in all, and each channel carries packets
// of one kind only. No I/O here: the host library and the module side both
// use it.
#ifndef CORVANE_BCSP_LINK_RULES_H
#define CORVANE_BCSP_LINK_RULES_H

#include <chrono>
#include <cstdint>

#include "bcsp/packet.h"

namespace bcsp {

constexpr std::chrono::milliseconds kResendInterval{250};
constexpr unsigned kMaxSends = 8;

// The sequence number after seq.
inline std::uint8_t NextSeq(std::uint8_t seq) { return static_cast<std::uint8_t>((seq + 1) % 8); }

// True when the packet is on one of the link's channels with that channel's
// reliable flag: 0 and 1 unreliable, 2 reliable. Any other packet is dropped
// (a reliable one is still acknowledged).
bool OnKnownChannel(const Packet& packet);

}  // namespace bcsp

#endif
