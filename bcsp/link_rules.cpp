#include "bcsp/link_rules.h"

namespace bcsp {

bool OnKnownChannel(const Packet& packet) {
  switch (packet.channel) {
    case kChannelAck:
    case kChannelLink: return !packet.reliable;
    case kChannelSettings: return packet.reliable;
    default: return false;
  }
}

}  // namespace bcsp
