// The emulator's module side of the link fed arbitrary host bytes, with time
// driven by the input.
//
// Input: one byte whose bits 0-2 make the module refuse settings 1-3, then
// chunks of a gap byte (bits 0-6: idle tens of milliseconds before the chunk;
// bit 7: the chunk travels at 1200 baud, as the adapter's line would), a
// length byte and that many host bytes, one byte time apart at 115200. At the
// end time runs on until the module has nothing left to send.
//
// Properties: the module applies exactly the write requests that the link's
// rules make new (each once, in order, with the status the store's rules
// give) and ends with the values they leave; its stored values never change
// but through a write in its own log; everything it sends is one well-formed
// frame per send, on a known channel with that channel's reliable flag, with
// its CRC, and each answer belongs to a logged write; once the host falls
// silent the module gives up on its answers after 8 sends each.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "bcsp/packet.h"
#include "bcsp/settings_message.h"
#include "emulator/dialogue_log.h"
#include "emulator/module_link.h"
#include "emulator/options.h"
#include "emulator/paced_queue.h"
#include "emulator/run_facts.h"
#include "emulator/settings_store.h"
#include "fuzz/fuzz_assert.h"
#include "fuzz/module_receive_reference.h"
#include "fuzz/recording_line.h"
#include "fuzz/reference_deframer.h"

namespace {

using emulator::Bytes;
using emulator::TimePoint;
using std::chrono::milliseconds;

const unsigned kMaxSends = 8;
const std::uint16_t kSettings[] = {0x0001, 0x0002, 0x0003};

std::uint32_t Stored(const emulator::SettingsStore& store, std::uint16_t setting) {
  switch (setting) {
    case 0x0001: return store.uart_config();
    case 0x0002: return store.host_interface();
    default: return store.vm_disable();
  }
}

class ModuleUnderTest {
 public:
  explicit ModuleUnderTest(std::uint8_t refusals)
      : options_(OptionsRefusing(refusals)),
        store_(options_),
        log_(false, TimePoint{}),
        link_(options_, store_, line_, log_, facts_) {
    // An input may write more settings than a report keeps; every one is checked.
    facts_.writes = emulator::Recent<emulator::SettingWrite>(SIZE_MAX);
    for (std::uint16_t setting : kSettings) model_[setting] = Stored(store_, setting);
  }

  // Lets the module's resend timers fire up to `until`, in order.
  void RunUntil(TimePoint until) {
    for (std::optional<TimePoint> due = link_.NextDeadline(); due && *due <= until; due = link_.NextDeadline()) {
      now_ = *due > now_ ? *due : now_;
      link_.OnTime(now_);
      CheckStore();
    }
    now_ = until;
  }

  void Hear(std::uint8_t byte, unsigned baud) {
    emulator::PacedByte paced;
    paced.byte = byte;
    paced.baud = baud;
    link_.OnByte(paced, now_);
    if (baud != emulator::kFastBaud)
      brokenRun_ = true;
    else {
      if (brokenRun_ || fastRuns_.empty()) fastRuns_.emplace_back();
      brokenRun_ = false;
      fastRuns_.back().push_back(byte);
    }
    CheckStore();
  }

  // Time runs on with the host silent: every answer must be given up.
  void RunDry() {
    const std::size_t bound = kMaxSends * (facts_.writes.size() + 1);
    for (std::size_t steps = 0; link_.NextDeadline(); ++steps) {
      FUZZ_ASSERT(steps <= bound, "a silent host makes the module give up");
      now_ = *link_.NextDeadline();
      link_.OnTime(now_);
      CheckStore();
    }
  }

  TimePoint now() const { return now_; }

  void CheckEnd() const {
    const std::map<std::uint16_t, std::uint32_t> start = {
        {0x0001, options_.uart_config}, {0x0002, options_.host_interface}, {0x0003, options_.vm_disable}};
    const fuzzref::ModuleOutcome expected = fuzzref::ExpectedModuleOutcome(fastRuns_, start, options_.refused);

    FUZZ_ASSERT(facts_.writes.size() == expected.writes.size(), "the module applies the new requests only");
    for (std::size_t i = 0; i < expected.writes.size(); ++i) {
      const emulator::SettingWrite& write = facts_.writes[i];
      FUZZ_ASSERT((expected.writes[i] == fuzzref::AppliedWrite{write.tag, write.setting, write.value, write.status}),
                  "each new request is applied as the rules say");
    }
    for (std::uint16_t setting : kSettings)
      FUZZ_ASSERT(Stored(store_, setting) == expected.values.at(setting), "the values the requests leave");
    CheckSends();
  }

 private:
  static emulator::ModuleOptions OptionsRefusing(std::uint8_t refusals) {
    emulator::ModuleOptions options;
    for (int bit = 0; bit < 3; ++bit)
      if (refusals & (1 << bit)) options.refused.insert(kSettings[bit]);
    return options;
  }

  // The store against the module's own log of writes, after every event.
  void CheckStore() {
    for (; logged_ < facts_.writes.size(); ++logged_) {
      const emulator::SettingWrite& write = facts_.writes[logged_];
      const bool known = model_.count(write.setting) > 0;
      if (write.status == bcsp::kStatusAccepted) {
        FUZZ_ASSERT(known, "only known settings are accepted");
        FUZZ_ASSERT(options_.refused.count(write.setting) == 0, "a refused setting is never accepted");
        model_[write.setting] = write.value;
      }
    }
    for (std::uint16_t setting : kSettings)
      FUZZ_ASSERT(Stored(store_, setting) == model_[setting], "values change only by logged writes");
  }

  // One frame per send, each a packet the host can take.
  void CheckSends() const {
    std::set<std::uint8_t> answered_tags;
    for (const emulator::SettingWrite& write : facts_.writes) answered_tags.insert(write.tag);
    for (const Bytes& send : line_.sends) {
      const fuzzref::Deframed deframed = fuzzref::Deframe(send.data(), send.size());
      FUZZ_ASSERT(deframed.dropped == 0 && deframed.frames.size() == 1 && deframed.frames[0].open == 0 &&
                      deframed.frames[0].close + 1 == send.size(),
                  "each send is exactly one clean frame");
      bcsp::Packet packet;
      const Bytes& bytes = deframed.frames[0].packet;
      FUZZ_ASSERT(bcsp::DecodePacket(bytes.data(), bytes.size(), &packet) == bcsp::DecodeResult::kOk,
                  "the module sends well-formed packets");
      FUZZ_ASSERT(packet.crc, "the module's packets carry a CRC");
      FUZZ_ASSERT(packet.channel <= 2 && packet.reliable == (packet.channel == 2),
                  "each packet on a known channel with its reliable flag");
      if (packet.channel == 0) FUZZ_ASSERT(packet.payload.empty(), "an acknowledgement is empty");
      if (packet.channel == 1)
        FUZZ_ASSERT(packet.payload == Bytes({'S', 'Y', 'N', 'A'}) || packet.payload == Bytes({'C', 'O', 'N', 'A'}),
                    "the module only answers on the link channel");
      if (packet.channel == 2) {
        bcsp::WriteAnswer answer;
        FUZZ_ASSERT(bcsp::DecodeWriteAnswer(packet.payload.data(), packet.payload.size(), &answer),
                    "the settings channel carries answers");
        FUZZ_ASSERT(answered_tags.count(answer.tag) > 0, "an answer belongs to a logged write");
      }
    }
  }

  emulator::ModuleOptions options_;
  emulator::SettingsStore store_;
  fuzzcheck::RecordingLine line_;
  emulator::DialogueLog log_;
  emulator::ModuleFacts facts_;
  emulator::ModuleLink link_;
  std::map<std::uint16_t, std::uint32_t> model_;
  std::size_t logged_ = 0;
  TimePoint now_{};
  std::vector<Bytes> fastRuns_;  // the host's bytes at 115200, split where a slow byte broke in
  bool brokenRun_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  ModuleUnderTest module(data[0]);
  std::size_t at = 1;
  while (at + 2 <= size) {
    const std::uint8_t gap = data[at];
    std::size_t length = data[at + 1];
    at += 2;
    if (length > size - at) length = size - at;
    const unsigned baud = (gap & 0x80) ? emulator::kPnpBaud : emulator::kFastBaud;
    module.RunUntil(module.now() + milliseconds(10 * (gap & 0x7F)));
    for (std::size_t i = 0; i < length; ++i) {
      module.Hear(data[at + i], baud);
      module.RunUntil(module.now() + emulator::ByteTime(baud));
    }
    at += length;
  }
  module.RunDry();
  module.CheckEnd();
  return 0;
}
