#include "platform/private_temp.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

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

}  // namespace
}  // namespace fern
