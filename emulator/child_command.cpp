#include "emulator/child_command.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace emulator {
namespace {

// Frees the attributes however Start leaves.
struct SpawnAttributes {
  posix_spawnattr_t attr;
  int error = posix_spawnattr_init(&attr);
  ~SpawnAttributes() {
    if (error == 0) posix_spawnattr_destroy(&attr);
  }
};

}  // namespace

std::vector<std::string> ChildEnvironment(char** inherited, const Environment& changes) {
  std::vector<std::string> entries;
  for (char** entry = inherited; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('='));
    bool changed = false;
    for (const auto& [changed_name, value] : changes) changed = changed || changed_name == name;
    if (!changed) entries.push_back(text);
  }
  // A name given twice takes its last value, as setenv one after the other would.
  for (std::size_t i = 0; i < changes.size(); ++i) {
    bool later = false;
    for (std::size_t k = i + 1; k < changes.size(); ++k) later = later || changes[k].first == changes[i].first;
    if (!later) entries.push_back(changes[i].first + "=" + changes[i].second);
  }
  return entries;
}

bool ChildCommand::Start(const std::vector<std::string>& command, const std::string& port_path,
                         const Environment& environment, const sigset_t& child_mask, const sigset_t& child_defaults,
                         std::string* error) {
  std::vector<char*> argv;
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  Environment changes = {{"COM1", port_path}};
  changes.insert(changes.end(), environment.begin(), environment.end());
  const std::vector<std::string> entries = ChildEnvironment(environ, changes);
  std::vector<char*> envp;
  for (const std::string& entry : entries) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);

  SpawnAttributes spawn;
  int failure = spawn.error;
  if (failure == 0) failure = posix_spawnattr_setflags(&spawn.attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  if (failure == 0) failure = posix_spawnattr_setsigmask(&spawn.attr, &child_mask);
  if (failure == 0) failure = posix_spawnattr_setsigdefault(&spawn.attr, &child_defaults);
  if (failure != 0) {
    *error = std::string("posix_spawnattr: ") + std::strerror(failure);
    return false;
  }
  pid_t pid = -1;
  // The exec's own failure (no such command) comes back here too.
  failure = posix_spawnp(&pid, argv[0], nullptr, &spawn.attr, argv.data(), envp.data());
  if (failure != 0) {
    *error = "cannot run " + command[0] + ": " + std::strerror(failure);
    return false;
  }
  pid_ = pid;
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
