// The test module on the master end of a pseudo-terminal pair, served in real
// time by a thread of its own, so that prodtest can be run through the real
// POSIX layer on the slave end.
#ifndef CORVANE_TESTS_TESTLIB_PTY_PEER_H
#define CORVANE_TESTS_TESTLIB_PTY_PEER_H

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "tests/testlib/module_peer.h"

namespace peer {

class PtyPeer {
 public:
  PtyPeer();  // opens the pair; the thread starts with Start
  ~PtyPeer();
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  const std::string& slave_path() const { return slave_path_; }
  // A descriptor of the slave end, for reading back the line settings.
  int slave_fd() const { return slave_keepalive_; }
  void Start(Config config);

  // Calls `look` with the module while its thread is held off.
  void Inspect(const std::function<void(const Module&)>& look) const;

  // Waits until the module has seen `count` host packets that match, since
  // the host's last bytes may still be on their way when a call returns.
  // False if that did not happen within the time given.
  bool WaitForSeen(const std::function<bool(const bcsp::Packet&)>& match, std::size_t count,
                   std::chrono::milliseconds limit) const;

 private:
  void Run();
  void WriteWire(const Bytes& bytes);
  int MillisecondsToNextEvent() const;

  int master_ = -1;
  int slave_keepalive_ = -1;  // keeps the pair alive between host opens
  int wake_[2] = {-1, -1};
  std::string slave_path_;
  std::thread thread_;

  mutable std::mutex mutex_;  // guards module_
  mutable std::condition_variable seen_changed_;
  std::optional<Module> module_;
};

}  // namespace peer

#endif
