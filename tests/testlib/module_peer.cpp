#include "tests/testlib/module_peer.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

#include "bcsp/link_rules.h"

namespace peer {

namespace {

void Require(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

bool IsMessage(const bcsp::Packet& packet, const char* text) {
  return packet.payload.size() == 4 && std::memcmp(packet.payload.data(), text, 4) == 0;
}

}  // namespace

ModulePeer::ModulePeer() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  Require(master_ >= 0, "posix_openpt");
  Require(grantpt(master_) == 0 && unlockpt(master_) == 0, "grantpt/unlockpt");
  const char* name = ptsname(master_);
  Require(name != nullptr, "ptsname");
  slave_path_ = name;
  // Raw both ways before anyone opens the slave, so that nothing is echoed or
  // translated while the host sets the line up.
  termios settings{};
  Require(tcgetattr(master_, &settings) == 0, "tcgetattr");
  cfmakeraw(&settings);
  Require(tcsetattr(master_, TCSANOW, &settings) == 0, "tcsetattr");
  // Without an open slave the master reports a hang-up between host opens.
  slave_keepalive_ = open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  Require(slave_keepalive_ >= 0, "open slave");
  Require(pipe2(wake_, O_CLOEXEC) == 0, "pipe2");
}

ModulePeer::~ModulePeer() {
  if (thread_.joinable()) {
    const char stop = 1;
    while (write(wake_[1], &stop, 1) < 0 && errno == EINTR) {
    }
    thread_.join();
  }
  close(wake_[0]);
  close(wake_[1]);
  close(slave_keepalive_);
  close(master_);
}

void ModulePeer::Start(Config config) {
  config_ = std::move(config);
  thread_ = std::thread([this] { Run(); });
}

std::vector<Seen> ModulePeer::seen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return seen_;
}

std::vector<std::pair<std::uint16_t, std::uint32_t>> ModulePeer::applied() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return applied_;
}

std::map<std::uint16_t, std::uint32_t> ModulePeer::stored() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stored_;
}

bool ModulePeer::WaitForSeen(const std::function<bool(const bcsp::Packet&)>& match,
                             std::size_t count, std::chrono::milliseconds limit) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return seen_changed_.wait_for(lock, limit, [&] {
    std::size_t matching = 0;
    for (const Seen& seen : seen_) {
      if (match(seen.packet)) ++matching;
    }
    return matching >= count;
  });
}

void ModulePeer::Run() {
  for (;;) {
    pollfd fds[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    const int ready = poll(fds, 2, MillisecondsToNextResend());
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || fds[1].revents != 0) return;
    if (fds[0].revents & POLLIN) {
      std::uint8_t buffer[512];
      const ssize_t got = read(master_, buffer, sizeof(buffer));
      if (got > 0) Receive(Bytes(buffer, buffer + got));
    } else if (fds[0].revents != 0) {
      return;  // the pair is broken; nothing more will come
    }
    ResendIfDue();
  }
}

int ModulePeer::MillisecondsToNextResend() const {
  if (!outstanding_) return -1;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(outstanding_->next_resend -
                                                                  Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

void ModulePeer::Receive(Bytes bytes) {
  if (config_.damage_incoming) config_.damage_incoming(&bytes);
  for (std::uint8_t byte : bytes) {
    if (!decoder_.Push(byte)) continue;
    bcsp::Packet packet;
    const Bytes& frame = decoder_.frame();
    if (bcsp::DecodePacket(frame.data(), frame.size(), &packet) != bcsp::DecodeResult::kOk) {
      continue;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      seen_.push_back({Clock::now(), packet});
    }
    seen_changed_.notify_all();
    if (config_.drop_incoming && config_.drop_incoming(packet)) continue;
    Handle(packet);
  }
}

void ModulePeer::Handle(const bcsp::Packet& packet) {
  if (!packet.reliable && packet.channel == bcsp::kChannelLink) {
    HandleLinkMessage(packet);
    return;
  }
  if (!configured_) return;
  const bool known = bcsp::OnKnownChannel(packet);
  if (known && outstanding_ && packet.ack == bcsp::NextSeq(outstanding_->packet.seq)) {
    outstanding_.reset();
    StartNext();
  }
  if (!packet.reliable) return;
  const bool fresh = packet.seq == expected_;
  if (fresh) expected_ = bcsp::NextSeq(expected_);
  SendAck();
  if (fresh && known) HandleRequest(packet.payload);
}

void ModulePeer::HandleLinkMessage(const bcsp::Packet& packet) {
  bcsp::Packet answer;
  answer.crc = config_.crc;
  answer.channel = bcsp::kChannelLink;
  if (IsMessage(packet, "SYNC")) {
    configured_ = false;
    next_seq_ = expected_ = 0;
    outstanding_.reset();
    queue_.clear();
    answer.payload = {'S', 'Y', 'N', 'A'};
  } else if (IsMessage(packet, "CONF")) {
    configured_ = true;
    answer.payload = {'C', 'O', 'N', 'A'};
  } else {
    return;
  }
  Transmit(answer);
}

void ModulePeer::HandleRequest(const Bytes& payload) {
  bcsp::WriteRequest request;
  bcsp::WriteAnswer answer;
  if (bcsp::DecodeWriteRequest(payload.data(), payload.size(), &request)) {
    const auto listed = config_.status.find(request.setting);
    const bool known_setting = request.setting >= 1 && request.setting <= 3;
    answer.tag = request.tag;
    answer.setting = request.setting;
    answer.status = listed != config_.status.end() ? listed->second
                    : known_setting               ? bcsp::kStatusAccepted
                                                  : bcsp::kStatusUnknownSetting;
    if (answer.status == bcsp::kStatusAccepted) {
      std::lock_guard<std::mutex> lock(mutex_);
      applied_.emplace_back(request.setting, request.value);
      stored_[request.setting] = request.value;
    }
    if (config_.before_answer) {
      for (Extra& extra : config_.before_answer(request, LinkState{next_seq_, expected_})) {
        if (extra.queued) {
          Enqueue(std::move(*extra.queued));
        } else {
          WriteWire(std::move(extra.raw));
        }
      }
    }
  } else {
    if (payload.size() < 2) return;
    answer.tag = payload[1];
    answer.setting = 0;
    answer.status = bcsp::kStatusUnknownSetting;
  }
  bcsp::Packet packet;
  packet.channel = bcsp::kChannelSettings;
  packet.payload = bcsp::EncodeWriteAnswer(answer);
  Enqueue(std::move(packet));
}

void ModulePeer::Enqueue(bcsp::Packet packet) {
  queue_.push_back(std::move(packet));
  if (!outstanding_) StartNext();
}

void ModulePeer::StartNext() {
  if (outstanding_ || queue_.empty()) return;
  bcsp::Packet packet = std::move(queue_.front());
  queue_.pop_front();
  packet.seq = next_seq_;
  packet.ack = expected_;
  packet.crc = config_.crc;
  packet.reliable = true;
  next_seq_ = bcsp::NextSeq(next_seq_);
  outstanding_ = Outstanding{std::move(packet), 1, Clock::now() + bcsp::kResendInterval};
  Transmit(outstanding_->packet);
}

void ModulePeer::ResendIfDue() {
  if (!outstanding_ || Clock::now() < outstanding_->next_resend) return;
  if (outstanding_->sends >= bcsp::kMaxSends) {
    outstanding_.reset();
    StartNext();
    return;
  }
  ++outstanding_->sends;
  outstanding_->next_resend += bcsp::kResendInterval;
  Transmit(outstanding_->packet);
}

void ModulePeer::SendAck() {
  bcsp::Packet packet;
  packet.ack = expected_;
  packet.crc = config_.crc;
  packet.channel = bcsp::kChannelAck;
  Transmit(packet);
}

void ModulePeer::Transmit(const bcsp::Packet& packet) {
  if (config_.drop_outgoing && config_.drop_outgoing(packet)) return;
  WriteWire(bcsp::SlipEncode(bcsp::EncodePacket(packet)));
}

void ModulePeer::WriteWire(Bytes bytes) {
  if (config_.damage_outgoing) config_.damage_outgoing(&bytes);
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = write(master_, bytes.data() + sent, bytes.size() - sent);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return;
    // The host is not reading: wait a while for room, but never so long that
    // the peer cannot be stopped.
    pollfd fds[2] = {{master_, POLLOUT, 0}, {wake_[0], POLLIN, 0}};
    if (poll(fds, 2, 1000) <= 0 || fds[1].revents != 0) return;
  }
}

std::function<void(Bytes*)> DamageEveryNth(int n) {
  auto count = std::make_shared<long>(0);
  return [n, count](Bytes* bytes) {
    for (std::uint8_t& byte : *bytes) {
      if (++*count % n == 0) byte ^= 0x5A;
    }
  };
}

}  // namespace peer
