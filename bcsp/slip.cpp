#include "bcsp/slip.h"

namespace bcsp {

namespace {

void AppendEscaped(std::uint8_t byte, std::vector<std::uint8_t>* out) {
  if (byte == kSlipEnd) {
    out->push_back(kSlipEsc);
    out->push_back(kSlipEscEnd);
  } else if (byte == kSlipEsc) {
    out->push_back(kSlipEsc);
    out->push_back(kSlipEscEsc);
  } else {
    out->push_back(byte);
  }
}

}  // namespace

std::vector<std::uint8_t> SlipEncode(const std::vector<std::uint8_t>& packet) {
  std::vector<std::uint8_t> frame;
  frame.reserve(packet.size() + packet.size() / 8 + 2);
  frame.push_back(kSlipEnd);
  for (std::uint8_t byte : packet) AppendEscaped(byte, &frame);
  frame.push_back(kSlipEnd);
  return frame;
}

bool SlipDecoder::Push(std::uint8_t byte) {
  if (byte == kSlipEnd) {
    // Every 0xC0 both closes whatever was open and opens the next frame, so a
    // dropped frame costs nothing beyond itself.
    const bool complete = state_ == State::kInFrame && !partial_.empty();
    if (state_ == State::kEscape) ++dropped_;
    if (complete) frame_.swap(partial_);
    partial_.clear();
    state_ = State::kInFrame;
    return complete;
  }
  switch (state_) {
    case State::kHunting:
    case State::kDiscarding: return false;
    case State::kEscape:
      if (byte != kSlipEscEnd && byte != kSlipEscEsc) {
        Drop();
        return false;
      }
      state_ = State::kInFrame;
      Append(byte == kSlipEscEnd ? kSlipEnd : kSlipEsc);
      return false;
    case State::kInFrame:
      if (byte == kSlipEsc) {
        state_ = State::kEscape;
      } else {
        Append(byte);
      }
      return false;
  }
  return false;
}

void SlipDecoder::Append(std::uint8_t byte) {
  if (partial_.size() == kMaxPacketSize) {
    Drop();
    return;
  }
  partial_.push_back(byte);
}

void SlipDecoder::Drop() {
  ++dropped_;
  partial_.clear();
  state_ = State::kDiscarding;
}

void SlipDecoder::Reset() {
  partial_.clear();
  state_ = State::kHunting;
}

}  // namespace bcsp
