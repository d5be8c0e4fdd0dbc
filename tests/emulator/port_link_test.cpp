// --link PATH: which things already at PATH the link may replace (only a
// dangling link) and which it refuses (a link to a live port or to anything
// else that exists, any other file), and that the end removes only the link
// made here while it still names this port.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "emulator/port_link.h"

namespace emulator {
namespace {

// A pseudo-terminal pair whose slave stands for another emulator's live port.
class LivePty {
 public:
  LivePty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) slave_ = ptsname(master_);
  }
  ~LivePty() { Close(); }
  void Close() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }
  const std::string& slave() const { return slave_; }

 private:
  int master_ = -1;
  std::string slave_;
};

class PortLinkTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/corvane-link-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    link_ = dir_ + "/COM1";
    ASSERT_FALSE(other_.slave().empty());
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // Where the link at link_ points; empty when there is none.
  std::string Target() const {
    std::error_code error;
    const std::filesystem::path target = std::filesystem::read_symlink(link_, error);
    return error ? std::string() : target.string();
  }
  bool Exists() const {
    struct stat st;
    return lstat(link_.c_str(), &st) == 0;
  }

  const std::string kOurPort = "/dev/pts/our-port";
  std::string dir_;
  std::string link_;
  LivePty other_;
};

// ---------------------------------------------------------------------------
// What is at the path before.

struct Before {
  std::string name;
  std::function<void(const std::string& link, const std::string& dir, const std::string& other_port)> make;
  std::string error;  // empty: the link is made; else the error, with LINK and OTHER for the paths
};

std::ostream& operator<<(std::ostream& out, const Before& b) { return out << b.name; }

std::string Filled(std::string text, const std::string& link, const std::string& other) {
  for (const auto& [key, value] : {std::pair<std::string, std::string>{"LINK", link}, {"OTHER", other}}) {
    for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size())) {
      text.replace(at, key.size(), value);
    }
  }
  return text;
}

const Before kBefore[] = {
    {"nothing", [](const std::string&, const std::string&, const std::string&) {}, ""},
    {"dangling_link_into_a_gone_folder",
     [](const std::string& link, const std::string& dir, const std::string&) {
       ASSERT_EQ(symlink((dir + "/gone/pts").c_str(), link.c_str()), 0);
     },
     ""},
    {"link_to_a_gone_pty",
     [](const std::string& link, const std::string&, const std::string&) {
       ASSERT_EQ(symlink("/dev/pts/999999", link.c_str()), 0);
     },
     ""},
    {"link_to_a_live_pty",
     [](const std::string& link, const std::string&, const std::string& other) {
       ASSERT_EQ(symlink(other.c_str(), link.c_str()), 0);
     },
     "LINK already links to OTHER, a live port (another emulator's?); give another path, or remove the link"},
    {"link_to_a_regular_file",
     [](const std::string& link, const std::string& dir, const std::string&) {
       std::ofstream(dir + "/notes") << "mine";
       ASSERT_EQ(symlink((dir + "/notes").c_str(), link.c_str()), 0);
     },
     "LINK already links to OTHER, which is not a port; give another path, or remove the link"},
    {"regular_file",
     [](const std::string& link, const std::string&, const std::string&) { std::ofstream(link) << "mine"; },
     "LINK exists and is not a link"},
};

class PortLinkBefore : public PortLinkTest, public testing::WithParamInterface<Before> {};

TEST_P(PortLinkBefore, IsReplacedOnlyWhenDangling) {
  const Before& before = GetParam();
  before.make(link_, dir_, other_.slave());
  const std::string target_before = Target();
  const std::string other = before.name == "link_to_a_regular_file" ? dir_ + "/notes" : other_.slave();
  {
    PortLink link;
    std::string error;
    const bool made = link.Create(link_, kOurPort, &error);
    if (before.error.empty()) {
      ASSERT_TRUE(made) << error;
      EXPECT_EQ(Target(), kOurPort);
    } else {
      ASSERT_FALSE(made);
      EXPECT_EQ(error, Filled(before.error, link_, other));
      EXPECT_EQ(Target(), target_before);
      EXPECT_TRUE(Exists());
    }
  }
  // The end takes away only what was made here.
  if (before.error.empty()) {
    EXPECT_FALSE(Exists());
  } else {
    EXPECT_TRUE(Exists());
    EXPECT_EQ(Target(), target_before);
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, PortLinkBefore, testing::ValuesIn(kBefore),
                         [](const testing::TestParamInfo<Before>& info) { return info.param.name; });

// Once its master is closed, another emulator's port is gone and its link
// may be taken over.
// The kernel hands the lowest free pseudo-terminal number to the next one
// opened anywhere on the machine, so a port that went away may be back under
// the same name before the link is taken over. Such a round says nothing
// either way and is tried again with a fresh port.
TEST_F(PortLinkTest, ReplacesTheLinkOfAPortThatWentAway) {
  constexpr int kRounds = 20;
  for (int round = 0; round < kRounds; ++round) {
    LivePty other;
    ASSERT_FALSE(other.slave().empty());
    ASSERT_EQ(symlink(other.slave().c_str(), link_.c_str()), 0);
    PortLink refused;
    std::string error;
    ASSERT_FALSE(refused.Create(link_, kOurPort, &error));
    other.Close();
    PortLink taken;
    if (taken.Create(link_, kOurPort, &error)) {
      EXPECT_EQ(Target(), kOurPort);
      return;
    }
    struct stat reused;
    ASSERT_EQ(stat(other.slave().c_str(), &reused), 0) << "refused a link to a port that is gone: " << error;
    ASSERT_EQ(unlink(link_.c_str()), 0);
  }
  FAIL() << "the pseudo-terminal's number was taken again in each of " << kRounds << " rounds";
}

// ---------------------------------------------------------------------------
// What is at the path at the end.

TEST_F(PortLinkTest, LeavesALinkPutInItsPlace) {
  {
    PortLink link;
    std::string error;
    ASSERT_TRUE(link.Create(link_, kOurPort, &error)) << error;
    ASSERT_EQ(unlink(link_.c_str()), 0);
    ASSERT_EQ(symlink(other_.slave().c_str(), link_.c_str()), 0);
  }
  EXPECT_EQ(Target(), other_.slave());
}

// Another emulator given the same pseudo-terminal number after ours went
// away: the same target, but not the link made here.
TEST_F(PortLinkTest, LeavesANewLinkToTheSamePort) {
  {
    PortLink link;
    std::string error;
    ASSERT_TRUE(link.Create(link_, kOurPort, &error)) << error;
    const std::string aside = dir_ + "/kept";
    ASSERT_EQ(rename(link_.c_str(), aside.c_str()), 0);  // keeps our link's inode from being reused
    ASSERT_EQ(symlink(kOurPort.c_str(), link_.c_str()), 0);
  }
  EXPECT_EQ(Target(), kOurPort);
}

TEST_F(PortLinkTest, EndsQuietlyWhenTheLinkIsGone) {
  {
    PortLink link;
    std::string error;
    ASSERT_TRUE(link.Create(link_, kOurPort, &error)) << error;
    ASSERT_EQ(unlink(link_.c_str()), 0);
    std::ofstream(link_) << "someone's file";
  }
  std::ifstream in(link_);
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "someone's file");
}

}  // namespace
}  // namespace emulator
