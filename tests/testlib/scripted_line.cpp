#include "tests/testlib/scripted_line.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/fake/fake_link_clock.h"
#include "tests/fake/fake_platform.h"

namespace peer {

namespace {

// What a read that fails leaves as the last error (EIO over termios).
constexpr DWORD kReadError = 5;

}  // namespace

ScriptedLine::ScriptedLine(Config config) : module_(std::move(config), [this](const Bytes& bytes) { Put(bytes); }) {
  fakeclock::Set(Start());
  fake::State().beforeRead = [this](DWORD) { BeforeRead(); };
}

ScriptedLine::~ScriptedLine() { fake::State().beforeRead = nullptr; }

void ScriptedLine::Schedule(std::chrono::milliseconds at, Bytes bytes) {
  schedule_.emplace(Start() + at, Scheduled{std::move(bytes), std::nullopt});
}

void ScriptedLine::ScheduleReadFailure(std::chrono::milliseconds at, DWORD error) {
  schedule_.emplace(Start() + at, Scheduled{{}, error});
}

void ScriptedLine::Settle() {
  const std::vector<std::uint8_t>& written = fake::State().written;
  if (delivered_ >= written.size()) return;
  Bytes fresh(written.begin() + static_cast<std::ptrdiff_t>(delivered_), written.end());
  delivered_ = written.size();
  module_.Receive(std::move(fresh), fakeclock::Now());
}

void ScriptedLine::Idle(std::chrono::milliseconds duration) {
  Settle();
  RunUntil(fakeclock::Now() + duration, false);
}

double ScriptedLine::Since(TimePoint at) { return std::chrono::duration<double, std::milli>(at - Start()).count(); }

double ScriptedLine::Now() { return Since(fakeclock::Now()); }

void ScriptedLine::BeforeRead() {
  if (++reads_ > kMaxReads) {
    if (reads_ == kMaxReads + 1) ADD_FAILURE() << "the host kept reading without end";
    fake::State().reads.push_back(fake::ReadFailure(kReadError));
    return;
  }
  Settle();
  if (Unread()) return;
  const std::vector<COMMTIMEOUTS>& set = fake::State().timeoutsSet;
  const DWORD wait = set.empty() ? 0 : set.back().ReadTotalTimeoutConstant;
  RunUntil(fakeclock::Now() + std::chrono::milliseconds(wait), true);
}

// Runs the module's and the schedule's events in time order up to `end`, the
// clock following them; with stop_at_bytes, stops at the first event that
// leaves bytes for the host to read.
void ScriptedLine::RunUntil(TimePoint end, bool stop_at_bytes) {
  for (;;) {
    if (stop_at_bytes && Unread()) return;
    const std::optional<TimePoint> next = NextEvent();
    if (!next || *next > end) break;
    if (*next > fakeclock::Now()) fakeclock::Set(*next);
    RunDue(fakeclock::Now());
  }
  if (end > fakeclock::Now()) fakeclock::Set(end);
}

std::optional<TimePoint> ScriptedLine::NextEvent() const {
  std::optional<TimePoint> next = module_.NextEvent();
  if (!schedule_.empty() && (!next || schedule_.begin()->first < *next)) {
    next = schedule_.begin()->first;
  }
  return next;
}

void ScriptedLine::RunDue(TimePoint now) {
  module_.Tick(now);
  while (!schedule_.empty() && schedule_.begin()->first <= now) {
    const Scheduled& due = schedule_.begin()->second;
    Put(due.bytes);
    if (due.failure) fake::State().reads.push_back(fake::ReadFailure(*due.failure));
    schedule_.erase(schedule_.begin());
  }
}

void ScriptedLine::Put(const Bytes& bytes) {
  std::vector<fake::ReadStep>& reads = fake::State().reads;
  for (std::uint8_t byte : bytes) reads.push_back(fake::Byte(byte));
}

bool ScriptedLine::Unread() const {
  const fake::Platform& platform = fake::State();
  return platform.nextRead < platform.reads.size();
}

}  // namespace peer
