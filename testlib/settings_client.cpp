#include "testlib/settings_client.h"

#include <vector>

#include "bcsp/settings_message.h"

namespace prodtest {

bool SettingsClient::Write(std::uint16_t setting, std::uint32_t value) {
  if (!link_->up() && !link_->Establish()) return false;

  bcsp::WriteRequest request;
  request.tag = next_tag_++;
  request.setting = setting;
  request.value = value;

  const Clock::time_point deadline = Clock::now() + kAnswerLimit;
  if (!link_->SendReliable(bcsp::EncodeWriteRequest(request))) return false;

  bool answered = false;
  bcsp::WriteAnswer answer;
  for (;;) {
    std::vector<std::uint8_t> payload;
    while (link_->TakePayload(&payload)) {
      bcsp::WriteAnswer candidate;
      if (!answered && bcsp::DecodeWriteAnswer(payload.data(), payload.size(), &candidate) &&
          candidate.tag == request.tag) {
        answered = true;
        answer = candidate;
      }
    }
    if (answered && !link_->awaiting_ack()) {
      return answer.status == bcsp::kStatusAccepted && answer.setting == setting;
    }
    if (!link_->WaitForProgress(deadline)) {
      link_->GiveUp();
      return false;
    }
  }
}

}  // namespace prodtest
