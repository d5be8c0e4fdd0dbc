#include "tests/e2e/bounded_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace e2e {

BoundedProcess::~BoundedProcess() {
  Kill();
  if (out_fd_ >= 0) close(out_fd_);
  if (err_fd_ >= 0) close(err_fd_);
}

namespace {

// Our environment with env's entries set, or left out where their value is
// empty.
std::vector<std::string> ChildEnvironment(const std::map<std::string, std::string>& env) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (env.count(text.substr(0, text.find('='))) == 0) entries.push_back(text);
  }
  for (const auto& [name, value] : env) {
    if (!value.empty()) entries.push_back(name + "=" + value);
  }
  return entries;
}

// The spawn's attributes and its redirections, freed however Start leaves.
struct SpawnSetup {
  posix_spawnattr_t attr;
  posix_spawn_file_actions_t actions;
  int attr_error = posix_spawnattr_init(&attr);
  int actions_error = posix_spawn_file_actions_init(&actions);
  ~SpawnSetup() {
    if (attr_error == 0) posix_spawnattr_destroy(&attr);
    if (actions_error == 0) posix_spawn_file_actions_destroy(&actions);
  }
};

// A pipe's two ends in the same order: [0] ours to read, [1] the program's.
// The slave is raw, so that no output processing adds or changes a byte.
bool OpenTerminal(int ends[2], std::string* error) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[128];
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
    *error = std::string("a pseudo-terminal: ") + std::strerror(errno);
    if (master >= 0) close(master);
    return false;
  }
  const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios settings;
  if (slave < 0 || tcgetattr(slave, &settings) != 0) {
    *error = std::string("opening ") + name + ": " + std::strerror(errno);
    if (slave >= 0) close(slave);
    close(master);
    return false;
  }
  cfmakeraw(&settings);
  if (tcsetattr(slave, TCSANOW, &settings) != 0) {
    *error = std::string("tcsetattr: ") + std::strerror(errno);
    close(slave);
    close(master);
    return false;
  }
  ends[0] = master;
  ends[1] = slave;
  return true;
}

}  // namespace

bool BoundedProcess::Start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                           std::string* error, StdoutTo stdout_to) {
  int out[2];
  int err[2];
  if (stdout_to == StdoutTo::kTerminal) {
    if (!OpenTerminal(out, error)) return false;
  } else if (pipe2(out, O_CLOEXEC) != 0) {
    *error = std::string("pipe2: ") + std::strerror(errno);
    return false;
  }
  if (pipe2(err, O_CLOEXEC) != 0) {
    *error = std::string("pipe2: ") + std::strerror(errno);
    close(out[0]);
    close(out[1]);
    return false;
  }
  std::vector<char*> args;
  for (const std::string& word : argv) args.push_back(const_cast<char*>(word.c_str()));
  args.push_back(nullptr);
  const std::vector<std::string> entries = ChildEnvironment(env);
  std::vector<char*> envp;
  for (const std::string& entry : entries) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);

  // A group of its own, so that a hang is ended with everything it started;
  // no signal blocked and every disposition at its default, as from a shell.
  SpawnSetup spawn;
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  int failure = spawn.attr_error != 0 ? spawn.attr_error : spawn.actions_error;
  if (failure == 0) {
    failure =
        posix_spawnattr_setflags(&spawn.attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  if (failure == 0) failure = posix_spawnattr_setpgroup(&spawn.attr, 0);
  if (failure == 0) failure = posix_spawnattr_setsigmask(&spawn.attr, &none);
  if (failure == 0) failure = posix_spawnattr_setsigdefault(&spawn.attr, &all);
  if (failure == 0) failure = posix_spawn_file_actions_adddup2(&spawn.actions, out[1], STDOUT_FILENO);
  if (failure == 0) failure = posix_spawn_file_actions_adddup2(&spawn.actions, err[1], STDERR_FILENO);
  if (failure == 0) {
    failure = posix_spawn(&pid_, args[0], &spawn.actions, &spawn.attr, args.data(), envp.data());
    if (failure != 0) pid_ = -1;
  }
  close(out[1]);
  close(err[1]);
  if (failure != 0) {
    *error = "cannot run " + argv[0] + ": " + std::strerror(failure);
    close(out[0]);
    close(err[0]);
    return false;
  }
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
      // A terminal's master reads EIO, not an end, once the program and
      // everything it started have closed the slave.
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
                         std::chrono::milliseconds limit, StdoutTo stdout_to) {
  BoundedProcess process;
  std::string error;
  if (!process.Start(argv, env, &error, stdout_to)) {
    ProcessResult failed;
    failed.err = error;
    return failed;
  }
  return process.Finish(limit);
}

}  // namespace e2e
