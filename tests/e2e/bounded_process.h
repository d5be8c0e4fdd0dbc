// A program run for a test with its standard output and error captured and
// every wait bounded: a program that hangs is killed with its whole process
// group when the bound runs out, and the result says so. The program is
// spawned in a process group of its own, with no signal blocked and every
// disposition at its default.
#ifndef CORVANE_TESTS_E2E_BOUNDED_PROCESS_H
#define CORVANE_TESTS_E2E_BOUNDED_PROCESS_H

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace e2e {

// Where the program's standard output goes: a pipe, or the slave of a fresh
// pseudo-terminal in raw mode (so what the program writes arrives as it
// wrote it) whose master the test reads, for a program that must see a
// terminal.
enum class StdoutTo { kPipe, kTerminal };

struct ProcessResult {
  std::string out;
  std::string err;
  int exit_status = -1;  // 128 + signal when killed by one
  bool timed_out = false;
};

class BoundedProcess {
 public:
  BoundedProcess() = default;
  BoundedProcess(const BoundedProcess&) = delete;
  BoundedProcess& operator=(const BoundedProcess&) = delete;
  ~BoundedProcess();

  // argv[0] is a path (no PATH lookup). env entries are set (or, with an
  // empty value, unset) on top of ours. False, with *error set, when the
  // program cannot be started (also when there is no such file).
  bool Start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env, std::string* error,
             StdoutTo stdout_to = StdoutTo::kPipe);
  // Reads until standard error holds text; false if the program ended or the
  // limit ran out first.
  bool WaitForError(const std::string& text, std::chrono::milliseconds limit);
  void Signal(int signal_number) const;
  // Reads everything until the program ends; kills it when the limit runs out.
  ProcessResult Finish(std::chrono::milliseconds limit);

 private:
  // Moves whatever is readable into the buffers; false once both pipes closed.
  bool Pump(std::chrono::steady_clock::time_point deadline);
  bool ExitsBefore(std::chrono::steady_clock::time_point deadline) const;
  void Kill();

  pid_t pid_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
  ProcessResult result_;
};

// Start and Finish in one.
ProcessResult RunBounded(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                         std::chrono::milliseconds limit, StdoutTo stdout_to = StdoutTo::kPipe);

}  // namespace e2e

#endif
