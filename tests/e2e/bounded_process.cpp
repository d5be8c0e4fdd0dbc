#include "tests/e2e/bounded_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace e2e {

BoundedProcess::~BoundedProcess() {
  Kill();
  if (out_fd_ >= 0) close(out_fd_);
  if (err_fd_ >= 0) close(err_fd_);
}

bool BoundedProcess::Start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                           std::string* error) {
  int out[2];
  int err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    *error = std::string("pipe2: ") + std::strerror(errno);
    return false;
  }
  std::vector<char*> args;
  for (const std::string& word : argv) args.push_back(const_cast<char*>(word.c_str()));
  args.push_back(nullptr);

  pid_ = fork();
  if (pid_ < 0) {
    *error = std::string("fork: ") + std::strerror(errno);
    return false;
  }
  if (pid_ == 0) {
    // A group of its own, so that a hang is ended with everything it started.
    setpgid(0, 0);
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    for (const auto& [name, value] : env) {
      if (value.empty()) {
        unsetenv(name.c_str());
      } else {
        setenv(name.c_str(), value.c_str(), 1);
      }
    }
    execv(args[0], args.data());
    _exit(127);
  }
  setpgid(pid_, pid_);
  close(out[1]);
  close(err[1]);
  out_fd_ = out[0];
  err_fd_ = err[0];
  return true;
}

bool BoundedProcess::Pump(std::chrono::steady_clock::time_point deadline) {
  pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
  if (out_fd_ < 0 && err_fd_ < 0) return false;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  const int ready = poll(fds, 2, left.count() > 0 ? static_cast<int>(left.count()) : 0);
  if (ready < 0 && errno != EINTR) return false;
  int* fd_of[2] = {&out_fd_, &err_fd_};
  std::string* text_of[2] = {&result_.out, &result_.err};
  for (int i = 0; i < 2; ++i) {
    if (fds[i].fd < 0 || fds[i].revents == 0) continue;
    char buffer[4096];
    const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
    if (got > 0) {
      text_of[i]->append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      close(*fd_of[i]);
      *fd_of[i] = -1;
    }
  }
  return out_fd_ >= 0 || err_fd_ >= 0;
}

bool BoundedProcess::WaitForError(const std::string& text, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (result_.err.find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() >= deadline || !Pump(deadline)) return false;
  }
  return true;
}

void BoundedProcess::Signal(int signal_number) const {
  if (pid_ > 0) kill(pid_, signal_number);
}

ProcessResult BoundedProcess::Finish(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (Pump(deadline)) {
    if (std::chrono::steady_clock::now() >= deadline) {
      result_.timed_out = true;
      Kill();
      break;
    }
  }
  if (pid_ > 0 && !ExitsBefore(deadline)) {
    result_.timed_out = true;
    Kill();
  }
  if (pid_ > 0) {
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    result_.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  return result_;
}

bool BoundedProcess::ExitsBefore(std::chrono::steady_clock::time_point deadline) const {
  // Its output may close before it ends: wait on the process itself.
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
  if (pidfd < 0) return true;  // no pidfd: the plain wait follows
  int ready;
  do {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd fd = {pidfd, POLLIN, 0};
    ready = poll(&fd, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
  } while (ready < 0 && errno == EINTR);
  close(pidfd);
  return ready > 0;
}

void BoundedProcess::Kill() {
  if (pid_ <= 0) return;
  kill(-pid_, SIGKILL);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  result_.exit_status = 128 + SIGKILL;
  pid_ = -1;
}

ProcessResult RunBounded(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                         std::chrono::milliseconds limit) {
  BoundedProcess process;
  std::string error;
  if (!process.Start(argv, env, &error)) {
    ProcessResult failed;
    failed.err = error;
    return failed;
  }
  return process.Finish(limit);
}

}  // namespace e2e
