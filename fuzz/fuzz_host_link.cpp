// prodtest's host side of the module link fed arbitrary module bytes: the
// tool's init_prodtest, its three setting writes and close_prodtest, over the
// scripted platform with a clock that moves only as the line does.
//
// Input: one options byte (bit 0: CRC on the host's packets), then records of
// a byte (bits 0-6: a length, bit 7: silence after) and that many module
// bytes. The bytes of records run on into each other; after a record with
// bit 7 the module is silent until the host's next deadline. Once the input
// is used up the module stays silent.
//
// Properties: every call returns a verdict within its deadlines (the link's
// 2 s, the answer's 2 s, plus at most one read buffer's worth of bytes at
// 115200); the port is closed after a failed init and after close_prodtest;
// the link comes up only if the module said SYNA and CONA, and a write is done
// only if the module sent an accepted answer for it; whatever the module said,
// the host only ever sends well-formed frames and gives up on a request after
// 8 sends.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "bcsp/packet.h"
#include "fuzz/fuzz_assert.h"
#include "fuzz/reference_deframer.h"
#include "testlib/prodtest.h"
#include "tests/fake/fake_link_clock.h"
#include "tests/fake/fake_platform.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

const std::int32_t kTransportModuleLink = 1;
const std::int32_t kRate = 115200;
// Start bit, 8 data bits, stop bit.
const nanoseconds kByteTime{10LL * 1000 * 1000 * 1000 / kRate};
// A deadline is met to the millisecond it is rounded up to, but a read that
// brought a full buffer of the host library's (256 bytes) took their time.
const nanoseconds kOvershoot = 256 * kByteTime + milliseconds(1);
const milliseconds kLinkLimit{2000};
const milliseconds kAnswerLimit{2000};
const unsigned kMaxSends = 8;

struct Script {
  bool crc = false;
  Bytes module;  // every byte the module sends, in order
};

Script LoadScript(const std::uint8_t* data, std::size_t size) {
  Script script;
  fake::Reset();
  if (size == 0) return script;
  script.crc = (data[0] & 0x01) != 0;
  std::vector<fake::ReadStep>& reads = fake::State().reads;
  std::size_t at = 1;
  while (at < size) {
    const bool silenceAfter = (data[at] & 0x80) != 0;
    std::size_t length = data[at++] & 0x7F;
    if (length > size - at) length = size - at;
    for (std::size_t i = 0; i < length; ++i) {
      reads.push_back(fake::Byte(data[at + i]));
      script.module.push_back(data[at + i]);
    }
    at += length;
    if (silenceAfter) {
      // The first ends the read that takes the bytes, the second is a
      // read that gets nothing.
      reads.push_back(fake::Timeout());
      reads.push_back(fake::Timeout());
    }
  }
  return script;
}

// A read that gets nothing waits out its time-out; bytes take their time on
// the wire.
void TakeReadTime(DWORD bytesRead) {
  if (bytesRead > 0) {
    fakeclock::Advance(kByteTime * bytesRead);
    return;
  }
  const std::vector<COMMTIMEOUTS>& set = fake::State().timeoutsSet;
  FUZZ_ASSERT(!set.empty(), "a read has its time-outs set");
  fakeclock::Advance(milliseconds(set.back().ReadTotalTimeoutConstant));
}

bool Contains(const Bytes& haystack, const Bytes& needle) {
  if (needle.size() > haystack.size()) return false;
  for (std::size_t i = 0; i + needle.size() <= haystack.size(); ++i)
    if (std::equal(needle.begin(), needle.end(), haystack.begin() + (std::ptrdiff_t)i)) return true;
  return false;
}

// A payload of four ASCII letters needs no escaping, so the module must have
// sent it as it is.
bool ModuleSaid(const Script& script, const char* message) {
  return Contains(script.module, Bytes(message, message + 4));
}

// An accepted answer for the setting, under any of the tags of this run.
bool ModuleAccepted(const Script& script, std::uint16_t setting) {
  for (unsigned tag = 1; tag <= 3; ++tag)
    if (Contains(script.module,
                 Bytes{0x81, (std::uint8_t)tag, (std::uint8_t)setting, (std::uint8_t)(setting >> 8), 0x00}))
      return true;
  return false;
}

template <typename Call>
auto Timed(nanoseconds limit, const char* what, Call call) {
  const fakeclock::TimePoint start = prodtest::Clock::now();
  auto result = call();
  FUZZ_ASSERT(prodtest::Clock::now() - start <= limit + kOvershoot, what);
  return result;
}

void CheckWrites(const Script& script, std::uint32_t connection) {
  struct Write {
    std::int32_t (*call)(std::uint32_t, std::uint32_t);
    std::uint16_t setting;
    std::uint32_t value;
  };
  const Write writes[] = {
      {write_uart_config, 0x0001, 0xA8},
      {write_host_interface, 0x0002, 4},
      {write_vm_disable, 0x0003, 0},
  };
  // The tool stops at the first failed write; going on reaches the link's
  // re-establishment after a failure as well.
  for (const Write& write : writes) {
    const std::int32_t done = Timed(kLinkLimit + kAnswerLimit, "a write ends within its deadlines",
                                    [&] { return write.call(connection, write.value); });
    FUZZ_ASSERT(done == 0 || done == 1, "a write answers 1 or 0");
    if (done) FUZZ_ASSERT(ModuleAccepted(script, write.setting), "a write is done only on an accepted answer");
  }
}

// The host's own frames, whatever it heard: back to back, each a well-formed
// packet, no request sent more than 8 times.
void CheckHostFrames() {
  const Bytes& written = fake::State().written;
  const fuzzref::Deframed frames = fuzzref::Deframe(written.data(), written.size());
  FUZZ_ASSERT(frames.dropped == 0, "the host's frames are well escaped");
  std::size_t next = 0;
  std::map<Bytes, unsigned> sends;
  for (const fuzzref::WireFrame& frame : frames.frames) {
    FUZZ_ASSERT(frame.open == next, "the host sends nothing between frames");
    next = frame.close + 1;
    bcsp::Packet packet;
    FUZZ_ASSERT(bcsp::DecodePacket(frame.packet.data(), frame.packet.size(), &packet) == bcsp::DecodeResult::kOk,
                "the host sends well-formed packets");
    if (packet.reliable) FUZZ_ASSERT(++sends[packet.payload] <= kMaxSends, "a request is sent 8 times at most");
  }
  FUZZ_ASSERT(next == written.size(), "the host's last frame is complete");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Script script = LoadScript(data, size);
  fake::State().afterRead = TakeReadTime;
  fakeclock::Set(fakeclock::TimePoint{});

  const std::uint32_t connection = Timed(kLinkLimit, "the link comes up or fails within its limit", [&] {
    return init_prodtest(kTransportModuleLink, "COM1", kRate, script.crc ? 1 : 0);
  });
  if (connection == 0) {
    FUZZ_ASSERT(fake::State().openHandles == 0, "a failed init leaves the port closed");
  } else {
    FUZZ_ASSERT(ModuleSaid(script, "SYNA") && ModuleSaid(script, "CONA"), "the link comes up only on SYNA and CONA");
    FUZZ_ASSERT(fake::State().openHandles == 1, "the connection holds the port");
    CheckWrites(script, connection);
    close_prodtest(connection);
    FUZZ_ASSERT(fake::State().openHandles == 0, "close_prodtest closes the port");
  }
  CheckHostFrames();
  return 0;
}
