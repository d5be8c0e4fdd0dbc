// A pseudo-terminal pair for testing the platform layer: the test holds the
// master side and plays the device's far end; the layer opens the slave.
#ifndef CORVANE_TESTS_PLATFORM_PTY_PAIR_H
#define CORVANE_TESTS_PLATFORM_PTY_PAIR_H

#include <termios.h>
#include <cstddef>
#include <string>
#include <vector>

class PtyPair {
 public:
  PtyPair();  // fails the current test (ADD_FAILURE) when no pty is to be had
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool ok() const { return master_ >= 0; }
  int master() const { return master_; }
  const std::string& slave_path() const { return slave_path_; }

  // The slave's termios as seen through the master.
  termios settings() const;
  void set_settings(const termios& settings);
  // Puts the slave into raw mode through the master, for tests that read
  // through the layer without setting the line up first.
  void make_raw();

  // Writes all of `bytes` into the master (the slave reads them).
  bool write_all(const std::vector<unsigned char>& bytes);
  // Reads from the master until `count` bytes are in or `timeout_ms` passed.
  std::vector<unsigned char> read_up_to(std::size_t count, int timeout_ms);
  // Closes the master: the far end goes away.
  void close_master();

 private:
  int master_ = -1;
  std::string slave_path_;
};

#endif
