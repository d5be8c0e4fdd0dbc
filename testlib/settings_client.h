// Settings writes over an established HostLink: one write request with a
// fresh tag, then the module's answer with that tag.
#ifndef CORVANE_TESTLIB_SETTINGS_CLIENT_H
#define CORVANE_TESTLIB_SETTINGS_CLIENT_H

#include <chrono>
#include <cstdint>

#include "testlib/host_link.h"

namespace prodtest {

constexpr std::chrono::milliseconds kAnswerLimit{2000};

class SettingsClient {
 public:
  explicit SettingsClient(HostLink* link) : link_(link) {}

  // True once the request is acknowledged and its answer came back with
  // status accepted, within kAnswerLimit of sending it first. Answers with
  // another tag belong to earlier requests and are ignored. A write that
  // gets no answer in time takes the link down, and a link that is down is
  // established again first.
  bool Write(std::uint16_t setting, std::uint32_t value);

 private:
  HostLink* link_;
  std::uint8_t next_tag_ = 1;
};

}  // namespace prodtest

#endif
