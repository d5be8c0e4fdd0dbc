// The library's own handle on the serial port: open and configure it, write
// whole frames, and read whatever bytes arrive before a deadline. Only the
// Win32 serial subset is used, so this builds unchanged on Windows and over
// our POSIX layer.
#ifndef CORVANE_TESTLIB_SERIAL_CHANNEL_H
#define CORVANE_TESTLIB_SERIAL_CHANNEL_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "testlib/link_clock.h"

namespace prodtest {

class SerialChannel {
 public:
  SerialChannel() = default;
  ~SerialChannel();
  SerialChannel(const SerialChannel&) = delete;
  SerialChannel& operator=(const SerialChannel&) = delete;

  // Opens "\\.\<name>" without sharing at the given rate, 8N1, no flow
  // control, DTR and RTS raised, and purges both directions. On failure
  // nothing stays open.
  bool Open(const char* name, std::uint32_t rate);
  void Close();
  bool is_open() const { return handle_ != nullptr; }

  // Writes every byte or fails.
  bool Write(const std::vector<std::uint8_t>& bytes);

  // Blocks until at least one byte arrives or the deadline passes. Returns the
  // number of bytes stored (0 at the deadline), or -1 when the port fails.
  int Read(std::uint8_t* buffer, std::size_t capacity, Clock::time_point deadline);

 private:
  bool Configure(std::uint32_t rate);

  void* handle_ = nullptr;  // the platform's HANDLE; nullptr while closed
};

}  // namespace prodtest

#endif
