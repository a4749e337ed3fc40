// What a reused folder holds from before a run, to the nanosecond, and the upload's copy of the
// folder without it.
#include "openimmo/earlier_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "support/scratch_dir.h"

namespace fern::openimmo {
namespace {

namespace fs = std::filesystem;

void SetTime(const fs::path& p, FileStamp t) {
  const timespec times[2] = {{t.sec, t.nsec}, {t.sec, t.nsec}};
  ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), times, 0), 0) << p;
}

std::vector<std::string> Tree(const fs::path& folder) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    out.push_back(e.path().lexically_relative(folder).string());
  std::sort(out.begin(), out.end());
  return out;
}

TEST(EarlierFiles, OlderThanTheStartToTheNanosecondAndNotKeptAreLeftOutOfTheUpload) {
  testing::ScratchDir dir;
  const FileStamp start{1700000000, 500};
  for (const char* name : {"before.xml", "at.xml", "after.xml", "sub/before.jpg", "kept.jpg"})
    dir.Write(std::string("f/") + name, "x");
  fs::create_directories(dir / "f" / "empty");
  SetTime(dir / "f" / "before.xml", {start.sec, start.nsec - 1});
  SetTime(dir / "f" / "at.xml", start);
  SetTime(dir / "f" / "after.xml", {start.sec + 1, 0});
  SetTime(dir / "f" / "sub" / "before.jpg", {start.sec - 86400, 0});
  SetTime(dir / "f" / "kept.jpg", {start.sec - 86400, 0});
  fs::create_directory_symlink(dir / "f" / "sub", dir / "f" / "link");  // not followed

  std::vector<fs::path> held = FilesFromBefore(dir / "f", start, {dir / "f" / "." / "kept.jpg"});
  std::sort(held.begin(), held.end());
  EXPECT_EQ(held, (std::vector<fs::path>{dir / "f" / "before.xml", dir / "f" / "sub/before.jpg"}));
  EXPECT_TRUE(FilesFromBefore(dir / "f", FileStamp{}, {}).empty());

  fs::remove(dir / "f" / "link");
  const std::vector<std::string> all = Tree(dir / "f");
  const fs::path scratch = dir / "work" / "upload";
  {
    const UploadSource copy((dir / "f").string(), held, scratch);
    EXPECT_EQ(copy.folder(), scratch.string());
    EXPECT_EQ(Tree(scratch),
              (std::vector<std::string>{"after.xml", "at.xml", "empty", "kept.jpg", "sub"}));
  }
  EXPECT_FALSE(fs::exists(scratch));
  EXPECT_EQ(Tree(dir / "f"), all);
}

}  // namespace
}  // namespace fern::openimmo
