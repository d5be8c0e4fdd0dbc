// A serial device played by a script, on a clock of its own, for the tests
// of what the layer does with a device that behaves in ways a
// pseudo-terminal cannot be made to: one that hangs up with bytes still to
// give, that reports its hang-up only through poll, that takes only one of
// the two line speeds; and reads whose time-outs are checked to the
// millisecond without waiting for them.
//
// The executable that links scripted_line.cpp defines its own clock_gettime,
// poll, read, write, tcgetattr, cfgetispeed and cfgetospeed. While a
// ScriptedLine lives, they answer from the script for the one descriptor it
// plays (the layer's descriptor of a real pty slave, so that the open and
// the line settings are real), and CLOCK_MONOTONIC reads the script's clock,
// which moves only when the layer waits in poll. The speeds of settings read
// from the device are the script's until anything else's settings are read.
// Every other call goes to the C library unchanged.
#ifndef CORVANE_TESTS_PLATFORM_SCRIPTED_LINE_H
#define CORVANE_TESTS_PLATFORM_SCRIPTED_LINE_H

#include <termios.h>
#include <cstdint>
#include <string>
#include <vector>

class ScriptedLine {
 public:
  // How read() answers once the device has hung up and its bytes are gone.
  enum class HangUpRead {
    end_of_file,  // 0, as a hung-up terminal gives
    io_error,     // -1 EIO, as a vanished USB adapter gives
    nothing,      // -1 EAGAIN: only poll's POLLHUP tells of the hang-up
  };

  // Plays the device open on `fd`, from now on; only one at a time.
  explicit ScriptedLine(int fd);
  ~ScriptedLine();
  ScriptedLine(const ScriptedLine&) = delete;
  ScriptedLine& operator=(const ScriptedLine&) = delete;

  // `bytes` arrive `at_ms` after the start (0: there before the first call).
  void arrive(std::int64_t at_ms, const std::string& bytes);
  // The device goes away `at_ms` after the start.
  void hang_up(std::int64_t at_ms, HangUpRead read_answer);
  // The device keeps this input or output speed whatever it is set to.
  void stick_input_speed(speed_t speed);
  void stick_output_speed(speed_t speed);

  // Milliseconds on the script's clock since the start.
  std::int64_t elapsed_ms() const;
  // What the layer wrote to the device.
  const std::string& written() const { return written_; }

  // The interposed calls, for the definitions in scripted_line.cpp.
  bool plays(int fd) const { return fd == fd_; }
  std::int64_t now_ns() const { return now_ns_; }
  int poll_device(short events, short* revents, int timeout_ms);
  long read_device(void* buffer, unsigned long count);
  long write_device(const void* buffer, unsigned long count);
  void settings_read(int fd, const termios* settings);
  bool input_speed_of(const termios* settings, speed_t* speed) const;
  bool output_speed_of(const termios* settings, speed_t* speed) const;

 private:
  struct Arrival {
    std::int64_t at_ns;
    std::string bytes;
  };
  bool hung_up() const;
  bool bytes_pending() const;
  short events_now(short events) const;
  // The next moment after now at which something happens; false if none.
  bool next_event(std::int64_t* at_ns) const;
  // True for the settings the device reported last, unchanged since.
  bool reported(const termios* settings) const;

  int fd_;
  std::int64_t start_ns_;
  std::int64_t now_ns_;
  std::vector<Arrival> arrivals_;  // in order of time
  std::size_t next_arrival_ = 0;   // the first not wholly read
  std::size_t offset_ = 0;         // bytes of it already read
  bool will_hang_up_ = false;
  std::int64_t hang_up_ns_ = 0;
  HangUpRead hang_up_read_ = HangUpRead::end_of_file;
  bool input_stuck_ = false;
  speed_t input_speed_ = 0;
  bool output_stuck_ = false;
  speed_t output_speed_ = 0;
  std::string written_;
  const termios* reported_at_ = nullptr;
  termios reported_{};
  std::int64_t last_poll_ns_ = -1;
  int polls_at_this_moment_ = 0;
};

#endif
