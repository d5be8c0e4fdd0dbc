// The command the emulator runs: what its environment holds, the signal mask
// and dispositions it starts with, a command that cannot be run, and its
// exit status as the report gives it.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "emulator/child_command.h"

namespace emulator {
namespace {

// ---------------------------------------------------------------------------
// The environment array.

struct EnvironmentCase {
  std::string name;
  std::vector<std::string> inherited;
  Environment changes;
  std::vector<std::string> expected;
};

std::ostream& operator<<(std::ostream& out, const EnvironmentCase& c) { return out << c.name; }

class ChildEnvironmentTable : public testing::TestWithParam<EnvironmentCase> {};

TEST_P(ChildEnvironmentTable, SetsTheChangesOverWhatIsInherited) {
  const EnvironmentCase& c = GetParam();
  std::vector<char*> inherited;
  std::vector<std::string> copies = c.inherited;
  for (std::string& entry : copies) inherited.push_back(entry.data());
  inherited.push_back(nullptr);
  EXPECT_EQ(ChildEnvironment(inherited.data(), c.changes), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChildEnvironmentTable,
    testing::Values(
        EnvironmentCase{"nothing_changed", {"HOME=/root", "PATH=/bin"}, {}, {"HOME=/root", "PATH=/bin"}},
        EnvironmentCase{"added", {"HOME=/root"}, {{"COM1", "/dev/pts/3"}}, {"HOME=/root", "COM1=/dev/pts/3"}},
        EnvironmentCase{"replaced_not_doubled",
                        {"COM1=/dev/ttyS0", "HOME=/root", "LD_PRELOAD=/a.so"},
                        {{"COM1", "/dev/pts/3"}, {"LD_PRELOAD", "/a.so:/b.so"}},
                        {"HOME=/root", "COM1=/dev/pts/3", "LD_PRELOAD=/a.so:/b.so"}},
        EnvironmentCase{"name_is_whole", {"COM10=x", "COM1X=y"}, {{"COM1", "z"}}, {"COM10=x", "COM1X=y", "COM1=z"}},
        EnvironmentCase{"last_change_wins", {}, {{"COM1", "a"}, {"COM1", "b"}}, {"COM1=b"}},
        EnvironmentCase{"value_with_equals", {"OPTS=a=b"}, {{"X", "c=d"}}, {"OPTS=a=b", "X=c=d"}},
        EnvironmentCase{"empty_value_kept", {}, {{"EMPTY", ""}}, {"EMPTY="}}),
    [](const testing::TestParamInfo<EnvironmentCase>& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// Started commands.

class StartedCommand : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/corvane-child-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    sigemptyset(&mask_);
    sigemptyset(&defaults_);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // Waits (bounded) for the command's end.
  std::optional<int> WaitForEnd() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      if (const std::optional<int> status = child_.Reap()) return status;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    child_.Forward(SIGKILL);
    return std::nullopt;
  }

  // Runs sh -c script with $1 naming a file, and returns what the script
  // wrote there.
  std::string Output(const std::string& script, const Environment& environment = {}) {
    const std::string file = dir_ + "/out";
    std::string error;
    EXPECT_TRUE(child_.Start({"sh", "-c", script, "sh", file}, "/dev/pts/77", environment, mask_, defaults_, &error))
        << error;
    EXPECT_EQ(WaitForEnd(), 0);
    std::ifstream in(file);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // The value of a Sig... line of the command's /proc status, as a number.
  unsigned long long StatusMask(const std::string& key) {
    const std::string line = Output("exec grep '^" + key + ":' /proc/self/status > \"$1\"");
    return std::stoull(line.substr(line.find(':') + 1), nullptr, 16);
  }

  static unsigned long long Bit(int signal_number) { return 1ull << (signal_number - 1); }

  std::string dir_;
  sigset_t mask_;
  sigset_t defaults_;
  ChildCommand child_;
};

TEST_F(StartedCommand, SeesThePortAndTheEnvironmentGiven) {
  setenv("CORVANE_TEST_KEPT", "kept", 1);
  setenv("COM1", "/dev/ttyS0", 1);
  const std::string seen = Output(
      "printf '%s|%s|%s|%s' \"$COM1\" \"$CORVANE_TEST_KEPT\" \"$CORVANE_MODEM_LINES\" "
      "\"$(env | grep -c '^COM1=')\" > \"$1\"",
      {{"CORVANE_MODEM_LINES", "@channel"}});
  unsetenv("CORVANE_TEST_KEPT");
  unsetenv("COM1");
  EXPECT_EQ(seen, "/dev/pts/77|kept|@channel|1");
}

TEST_F(StartedCommand, StartsWithTheMaskGivenNotOurs) {
  sigset_t ours;
  sigset_t before;
  sigemptyset(&ours);
  sigaddset(&ours, SIGUSR2);
  ASSERT_EQ(sigprocmask(SIG_BLOCK, &ours, &before), 0);
  sigaddset(&mask_, SIGUSR1);
  const unsigned long long blocked = StatusMask("SigBlk");
  sigprocmask(SIG_SETMASK, &before, nullptr);
  EXPECT_EQ(blocked, Bit(SIGUSR1));
}

TEST_F(StartedCommand, StartsWithTheDefaultsGivenAndOtherIgnoredSignalsIgnored) {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction pipe_before {};
  struct sigaction usr1_before {};
  ASSERT_EQ(sigaction(SIGPIPE, &ignore, &pipe_before), 0);
  ASSERT_EQ(sigaction(SIGUSR1, &ignore, &usr1_before), 0);
  sigaddset(&defaults_, SIGPIPE);
  const unsigned long long ignored = StatusMask("SigIgn");
  sigaction(SIGPIPE, &pipe_before, nullptr);
  sigaction(SIGUSR1, &usr1_before, nullptr);
  EXPECT_EQ(ignored & Bit(SIGPIPE), 0u);
  EXPECT_EQ(ignored & Bit(SIGUSR1), Bit(SIGUSR1));
}

TEST_F(StartedCommand, ThatCannotBeFoundIsAnErrorAtOnce) {
  std::string error;
  EXPECT_FALSE(child_.Start({"corvane-no-such-command"}, "/dev/pts/77", {}, mask_, defaults_, &error));
  EXPECT_EQ(error, std::string("cannot run corvane-no-such-command: ") + std::strerror(ENOENT));
  EXPECT_FALSE(child_.running());
  EXPECT_EQ(child_.Reap(), std::nullopt);
}

TEST_F(StartedCommand, IsFoundInPath) {
  std::string error;
  ASSERT_TRUE(child_.Start({"true"}, "/dev/pts/77", {}, mask_, defaults_, &error)) << error;
  EXPECT_EQ(WaitForEnd(), 0);
  EXPECT_FALSE(child_.running());
}

struct EndCase {
  std::string name;
  std::string script;
  int forwarded;  // 0: none
  int status;
};

std::ostream& operator<<(std::ostream& out, const EndCase& c) { return out << c.name; }

class CommandEnd : public StartedCommand, public testing::WithParamInterface<EndCase> {};

TEST_P(CommandEnd, GivesItsExitStatus) {
  const EndCase& c = GetParam();
  std::string error;
  ASSERT_TRUE(child_.Start({"sh", "-c", c.script}, "/dev/pts/77", {}, mask_, defaults_, &error)) << error;
  if (c.forwarded != 0) child_.Forward(c.forwarded);
  EXPECT_EQ(WaitForEnd(), c.status);
}

INSTANTIATE_TEST_SUITE_P(Ends, CommandEnd,
                         testing::Values(EndCase{"exit_0", "exit 0", 0, 0}, EndCase{"exit_3", "exit 3", 0, 3},
                                         EndCase{"killed_by_itself", "kill -9 $$", 0, 128 + SIGKILL},
                                         EndCase{"forwarded_term", "exec sleep 20", SIGTERM, 128 + SIGTERM}),
                         [](const testing::TestParamInfo<EndCase>& info) { return info.param.name; });

}  // namespace
}  // namespace emulator
