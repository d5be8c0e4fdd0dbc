#include "emulator/child_command.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace emulator {

bool ChildCommand::Start(const std::vector<std::string>& command, const std::string& port_path,
                         const Environment& environment, const sigset_t& child_mask, std::string* error) {
  // The child reports a failed exec through this pipe; a successful exec
  // closes it unread.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    *error = std::string("pipe2: ") + std::strerror(errno);
    return false;
  }
  std::vector<char*> argv;
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid < 0) {
    *error = std::string("fork: ") + std::strerror(errno);
    close(report[0]);
    close(report[1]);
    return false;
  }
  if (pid == 0) {
    close(report[0]);
    signal(SIGPIPE, SIG_DFL);
    sigprocmask(SIG_SETMASK, &child_mask, nullptr);
    setenv("COM1", port_path.c_str(), 1);
    for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
    execvp(argv[0], argv.data());
    const int failure = errno;
    ssize_t ignored = write(report[1], &failure, sizeof failure);
    (void)ignored;
    _exit(127);
  }
  close(report[1]);
  pid_ = pid;
  int failure = 0;
  ssize_t got;
  do {
    got = read(report[0], &failure, sizeof failure);
  } while (got < 0 && errno == EINTR);
  close(report[0]);
  if (got == static_cast<ssize_t>(sizeof failure)) {
    *error = "cannot run " + command[0] + ": " + std::strerror(failure);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return false;
  }
  return true;
}

std::optional<int> ChildCommand::Reap() {
  if (pid_ <= 0) return std::nullopt;
  int status = 0;
  pid_t done;
  do {
    done = waitpid(pid_, &status, WNOHANG);
  } while (done < 0 && errno == EINTR);
  if (done != pid_) return std::nullopt;
  pid_ = -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 255;
}

void ChildCommand::Forward(int signal_number) const {
  if (pid_ > 0) kill(pid_, signal_number);
}

}  // namespace emulator
