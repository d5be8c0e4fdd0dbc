// The test module at the far end of the scripted platform's port, on the fake
// link clock: prodtest runs in exact time and no test waits in real time.
//
// Bytes the host writes take no time on the wire; they reach the module when
// the host next reads, or when the test settles the line. A read that finds
// nothing queued waits, as the read time-out prodtest set asks, until the
// module (or the schedule) next puts bytes on the line, or until that time-out
// ends; the clock moves to that moment. So a resend 250 ms after a send is
// seen at exactly 250 ms.
//
//   ScriptedLine(config)   starts the clock at zero and takes over the
//                          scripted platform's reads (call fake::Reset first)
//   Schedule(at, bytes)    bytes put on the line toward the host at `at`
//                          after the start, as they are, besides the module
//   ScheduleReadFailure(at, error)
//                          the read that takes what came before it then fails
//                          with that error, as a port whose device vanished
//   Settle()               hands the module what the host has written since
//   Idle(duration)         time passes with the host doing nothing; what the
//                          module sends waits in the port's input queue
//   module()               the module, for what it saw and holds
//   Since(at)              milliseconds from the start to `at`, exactly
//
// A host that keeps reading without end (more than kMaxReads reads) fails
// the test, and its reads fail from then on, so that a hang cannot stall.
#ifndef CORVANE_TESTS_TESTLIB_SCRIPTED_LINE_H
#define CORVANE_TESTS_TESTLIB_SCRIPTED_LINE_H

#include <chrono>
#include <cstddef>
#include <map>
#include <optional>

#include "platform/serial_api.h"
#include "tests/testlib/module_peer.h"

namespace peer {

class ScriptedLine {
 public:
  static constexpr std::size_t kMaxReads = 100000;

  explicit ScriptedLine(Config config = {});
  ~ScriptedLine();
  ScriptedLine(const ScriptedLine&) = delete;
  ScriptedLine& operator=(const ScriptedLine&) = delete;

  void Schedule(std::chrono::milliseconds at, Bytes bytes);
  void ScheduleReadFailure(std::chrono::milliseconds at, DWORD error);
  void Settle();
  void Idle(std::chrono::milliseconds duration);
  const Module& module() const { return module_; }

  static TimePoint Start() { return TimePoint{}; }
  static double Since(TimePoint at);
  static double Now();

 private:
  void BeforeRead();
  void RunUntil(TimePoint end, bool stop_at_bytes);
  std::optional<TimePoint> NextEvent() const;
  void RunDue(TimePoint now);
  void Put(const Bytes& bytes);
  bool Unread() const;

  struct Scheduled {
    Bytes bytes;
    std::optional<DWORD> failure;
  };

  Module module_;
  std::multimap<TimePoint, Scheduled> schedule_;
  std::size_t delivered_ = 0;  // bytes of the host's the module has had
  std::size_t reads_ = 0;
};

}  // namespace peer

#endif
