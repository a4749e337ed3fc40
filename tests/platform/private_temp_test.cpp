#include "platform/private_temp.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "platform/host_error.h"
#include "support/scratch_dir.h"

namespace fern {
namespace {

namespace fs = std::filesystem;
using testing::ScratchDir;

std::string FailureText() {
  try {
    PrivateTempFolder();
  } catch (const HostError& e) {
    EXPECT_EQ(e.number(), err::kPathFileAccess);
    return e.description();
  }
  return "no failure";
}

class PrivateTempTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("TMPDIR");
    if (old) oldTmp_ = old;
    ::setenv("TMPDIR", dir.path().c_str(), 1);
  }
  void TearDown() override {
    SetPrivateTempScope("");
    if (oldTmp_.empty())
      ::unsetenv("TMPDIR");
    else
      ::setenv("TMPDIR", oldTmp_.c_str(), 1);
  }
  fs::path Own() const { return dir / ("fern-" + std::to_string(::geteuid())); }
  static unsigned Mode(const fs::path& p) {
    struct stat st {};
    ::lstat(p.c_str(), &st);
    return st.st_mode & 07777;
  }

  ScratchDir dir;
  std::string oldTmp_;
};

TEST_F(PrivateTempTest, ClosedFolderPerUserAndPerHostFolder) {
  EXPECT_EQ(PrivateTempFolder(), Own());
  EXPECT_EQ(Mode(Own()), 0700u);

  SetPrivateTempScope("/srv/host-a");
  const fs::path a = PrivateTempFolder();
  SetPrivateTempScope("/srv/host-b");
  const fs::path b = PrivateTempFolder();
  EXPECT_NE(a, b);
  EXPECT_EQ(a.parent_path(), Own());
  EXPECT_EQ(Mode(a), 0700u);
  SetPrivateTempScope("/srv/host-a");
  EXPECT_EQ(PrivateTempFolder(), a);  // the same host folder finds its own again

  ::chmod(Own().c_str(), 0777);  // opened by someone: closed again
  PrivateTempFolder();
  EXPECT_EQ(Mode(Own()), 0700u);
}

TEST_F(PrivateTempTest, APlantedLinkOrForeignFolderIsRefused) {
  fs::create_directories(dir / "elsewhere");
  fs::create_directory_symlink(dir / "elsewhere", Own());
  const std::string message = FailureText();
  EXPECT_NE(message.find(Own().string()), std::string::npos) << message;
  EXPECT_NE(message.find("Verweis"), std::string::npos) << message;
  fs::remove(Own());

  if (::geteuid() != 0) GTEST_SKIP() << "handing a folder to another user needs root";
  fs::create_directory(Own());
  ASSERT_EQ(::chown(Own().c_str(), 65534, 65534), 0);
  EXPECT_NE(FailureText().find("anderen Benutzer"), std::string::npos);
}

// What a killed run left goes with the next process of the host folder; what a process still
// alive made stays, and so does anything the program did not make.
TEST_F(PrivateTempTest, WorkOfEndedProcessesIsRemovedThatOfLiveOnesStays) {
  SetPrivateTempScope("/srv/host-a");
  const fs::path folder = PrivateTempFolder();
  const auto work = [&](pid_t pid, const std::string& rest) {
    return folder / ("fern" + std::to_string(pid) + rest);
  };
  int ready[2], hold[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(hold), 0);
  const pid_t other = ::fork();
  if (other == 0) {
    // Another process of the same host folder at work.
    ::close(ready[0]);
    ::close(hold[1]);
    const fs::path f = PrivateTempFolder();
    std::ofstream(f / ("fern" + std::to_string(::getpid()) + "_1.ZIP")) << "[OPTIONS]";
    fs::create_directories(f / "TRANSFER" / ("zipcheck-" + std::to_string(::getpid())));
    fs::create_directories(f / ("upload-" + std::to_string(::getpid())));
    char c = 0;
    (void)!::write(ready[1], &c, 1);
    (void)!::read(hold[0], &c, 1);
    ::_exit(0);
  }
  ::close(ready[1]);
  ::close(hold[0]);
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  // A process of an older version, without a marker, that has ended.
  const pid_t ended = ::fork();
  if (ended == 0) ::_exit(0);
  ::waitpid(ended, nullptr, 0);
  std::ofstream(work(ended, "_3.tmp")) << "x";
  for (const char* name : {"fernweh.txt", "notes.txt", "fern12.log", "KavantorAPI.Log"})
    std::ofstream(folder / name) << "x";
  std::ofstream(work(::getpid(), "_2.ZIP")) << "x";
  fs::create_directories(folder / "kvws" / "WS_Site");
  std::ofstream(folder / "kvws" / "WS_Site" / "transfer_1.big") << "password";

  RemoveWorkOfEndedRuns();
  // The site's work carries no process id: it may be the live process's own.
  EXPECT_TRUE(fs::exists(folder / "kvws" / "WS_Site" / "transfer_1.big"));
  EXPECT_TRUE(fs::exists(work(other, "_1.ZIP")));
  EXPECT_TRUE(fs::exists(folder / "TRANSFER" / ("zipcheck-" + std::to_string(other))));
  EXPECT_TRUE(fs::exists(folder / ("upload-" + std::to_string(other))));
  EXPECT_FALSE(fs::exists(work(ended, "_3.tmp")));

  ::kill(other, SIGKILL);
  ::waitpid(other, nullptr, 0);
  ::close(hold[1]);
  ::close(ready[0]);
  RemoveWorkOfEndedRuns();
  EXPECT_FALSE(fs::exists(folder / "kvws"));
  EXPECT_FALSE(fs::exists(work(other, "_1.ZIP")));
  EXPECT_FALSE(fs::exists(work(other, ".run")));
  EXPECT_FALSE(fs::exists(folder / "TRANSFER" / ("zipcheck-" + std::to_string(other))));
  EXPECT_FALSE(fs::exists(folder / ("upload-" + std::to_string(other))));
  EXPECT_TRUE(fs::exists(work(::getpid(), "_2.ZIP")));
  EXPECT_TRUE(fs::exists(work(::getpid(), ".run")));
  for (const char* name : {"fernweh.txt", "notes.txt", "fern12.log", "KavantorAPI.Log"})
    EXPECT_TRUE(fs::exists(folder / name)) << name;
}

// Links below the private folder are removed as links, at any depth: what they point to
// stays. The web site's work, which carries no process id, goes once no other process of the
// host folder lives.
TEST_F(PrivateTempTest, TheRemovalNeverFollowsALinkAndTakesTheSiteWork) {
  SetPrivateTempScope("/srv/host-b");
  const fs::path folder = PrivateTempFolder();
  const pid_t ended = ::fork();
  if (ended == 0) ::_exit(0);
  ::waitpid(ended, nullptr, 0);
  const std::string id = std::to_string(ended);
  const fs::path outside = dir.path() / "outside";
  dir.Write("outside/keep", "x");
  dir.Write(folder / ("fern" + id + ".run"), "");
  dir.Write(folder / ("fern" + id + "_7") / "sub" / "file", "x");
  fs::create_directory_symlink(outside, folder / ("fern" + id + "_7") / "sub" / "out");
  dir.Write(folder / "TRANSFER" / ("zipcheck-" + id) / "a", "x");
  fs::create_directory_symlink(outside, folder / "TRANSFER" / ("zipcheck-" + id) / "deep");
  fs::create_directory_symlink(outside, folder / "TRANSFER" / ("upload-" + id));
  dir.Write(folder / "kvws" / "WS_Eigene_Homepage" / "transfer_1.big", "password");

  RemoveWorkOfEndedRuns();
  EXPECT_TRUE(fs::exists(outside / "keep"));
  for (const fs::path& gone :
       {folder / ("fern" + id + "_7"), folder / "TRANSFER" / ("zipcheck-" + id),
        folder / "TRANSFER" / ("upload-" + id), folder / ("fern" + id + ".run"), folder / "kvws"})
    EXPECT_FALSE(fs::exists(fs::symlink_status(gone))) << gone;
  EXPECT_TRUE(TakePrivateTempNotes().empty());
}

// Site work whose run kept it on purpose stays for the next site run; a marker that is a link
// or a folder is not the run's own and keeps nothing.
TEST_F(PrivateTempTest, SiteWorkKeptOnPurposeStays) {
  SetPrivateTempScope("/srv/host-c");
  const fs::path folder = PrivateTempFolder();
  const fs::path site = folder / kSiteWorkFolder;
  dir.Write(site / "WS_Site" / "transfer_1.big", "password");
  dir.Write(site / kSiteWorkKept, "kept");
  RemoveWorkOfEndedRuns();
  EXPECT_TRUE(fs::exists(site / "WS_Site" / "transfer_1.big"));

  fs::remove(site / kSiteWorkKept);
  dir.Write(dir.path() / "elsewhere", "x");
  fs::create_symlink(dir.path() / "elsewhere", site / kSiteWorkKept);
  RemoveWorkOfEndedRuns();
  EXPECT_FALSE(fs::exists(fs::symlink_status(site)));
  EXPECT_TRUE(fs::exists(dir.path() / "elsewhere"));
}

}  // namespace
}  // namespace fern
