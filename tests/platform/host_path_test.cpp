#include "platform/host_path.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>

#include "platform/host_error.h"
#include "platform/text.h"
#include "support/scratch_dir.h"

namespace fern {
namespace {

namespace fs = std::filesystem;
using testing::ScratchDir;

// Dates every folder under `root` a minute back, as a folder nobody changed lately: its listing
// is then kept between look-ups.
void Settle(const fs::path& root) {
  const auto past = fs::file_time_type::clock::now() - std::chrono::minutes(1);
  fs::last_write_time(root, past);
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_directory()) fs::last_write_time(entry.path(), past);
}

// A host tree as a Windows installation leaves it: mixed spellings, and two folders that
// differ only in case. Each case runs on folders just written and on settled ones, whose
// listings are kept.
class HostPathTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    dir.Write("Kavantor/DAT/Error.log", "");
    dir.Write("Kavantor/dat/other.txt", "");
    dir.Write("Kavantor/SQL/sql.ini", "");
    dir.Write("Kavantor/System/Services/OpenImmo/Änderung.vbs", "");
    dir.Write("Kavantor/pic.obj/a.JPG", "");
    if (GetParam()) Settle(dir.path());
  }
  void TearDown() override { SetDriveMap({}); }

  fs::path Host() const { return dir / "Kavantor"; }
  ScratchDir dir;
};

TEST_P(HostPathTest, RelativePathsMatchExistingSpellings) {
  EXPECT_EQ(ResolveHostPath("sql\\SQL.INI", Host()), Host() / "SQL/sql.ini");
  EXPECT_EQ(ResolveHostPath("SYSTEM\\services\\openimmo\\änderung.VBS", Host()),
            Host() / "System/Services/OpenImmo/Änderung.vbs");
  EXPECT_EQ(ResolveHostPath("Pic.Obj\\A.jpg", Host()), Host() / "pic.obj/a.JPG");
}

TEST_P(HostPathTest, ExactSpellingWinsThenTheFirstInOrder) {
  EXPECT_EQ(ResolveHostPath("DAT\\Error.log", Host()), Host() / "DAT/Error.log");
  EXPECT_EQ(ResolveHostPath("dat\\other.txt", Host()), Host() / "dat/other.txt");
  // "Dat" exists in neither spelling; "DAT" sorts before "dat". The file is only in "dat",
  // but the folder is chosen first, so the tail stays as given.
  EXPECT_EQ(ResolveHostPath("Dat\\error.LOG", Host()), Host() / "DAT/Error.log");
  EXPECT_EQ(ResolveHostPath("Dat\\other.txt", Host()), Host() / "DAT/other.txt");
}

TEST_P(HostPathTest, MissingTailKeepsItsSpelling) {
  EXPECT_EQ(ResolveHostPath("dat\\FernDispatcher\\Neu\\Send.log", Host()),
            Host() / "dat/FernDispatcher/Neu/Send.log");
  EXPECT_EQ(ResolveHostPath("system\\NEU\\services", Host()), Host() / "System/NEU/services");
  // A file in the way of a folder: the rest cannot exist.
  EXPECT_EQ(ResolveHostPath("sql\\sql.ini\\x", Host()), Host() / "SQL/sql.ini/x");
}

TEST_P(HostPathTest, DotsTrailingSeparatorsAndDoubleSeparators) {
  EXPECT_EQ(ResolveHostPath(".\\system\\..\\Sql\\\\sql.ini", Host()), Host() / "SQL/sql.ini");
  EXPECT_EQ(ResolveHostPath("system\\", Host()), Host() / "System");
  EXPECT_EQ(ResolveHostPath("", Host()), Host());
  EXPECT_EQ(ResolveHostPath("..\\Kavantor\\dat", Host()), Host() / "dat");
}

TEST_P(HostPathTest, DriveLettersGoThroughTheTable) {
  SetDriveMap({{'c', Host()}});
  EXPECT_EQ(ResolveHostPath("C:\\Pic.Obj\\a.jpg"), Host() / "pic.obj/a.JPG");
  EXPECT_EQ(ResolveHostPath("c:/sql/sql.ini"), Host() / "SQL/sql.ini");
  EXPECT_EQ(ResolveHostPath("C:"), Host());
  // ".." stops at the drive's root, as on Windows.
  EXPECT_EQ(ResolveHostPath("C:\\..\\..\\sql\\sql.ini"), Host() / "SQL/sql.ini");
  try {
    ResolveHostPath("D:\\data\\x.txt");
    FAIL() << "unmapped drive accepted";
  } catch (const HostError& e) {
    EXPECT_EQ(e.number(), err::kPathFileAccess);
    EXPECT_NE(e.description().find("D:\\data\\x.txt"), std::string::npos);
  }
}

TEST_P(HostPathTest, LinuxPathsAndNetworkPaths) {
  const fs::path exact = Host() / "DAT/Error.log";
  EXPECT_EQ(ResolveHostPath(exact.string(), "/elsewhere"), exact);
  // A host folder kept as a Linux path with a host-relative tail in Windows form.
  EXPECT_EQ(ResolveHostPath(Host().string() + "/system\\SERVICES"), Host() / "System/Services");
  EXPECT_THROW(ResolveHostPath("\\\\server\\share\\x"), HostError);
  EXPECT_THROW(ResolveHostPath("\\/server/share"), HostError);
}

INSTANTIATE_TEST_SUITE_P(FreshAndSettled, HostPathTest, ::testing::Bool());

// A kept listing follows every change of its folder, and a settled folder is listed once however
// often names in it are looked up.
TEST(FolderListing, KeptWhileTheFolderStaysAndReadAgainAfterAChange) {
  ScratchDir dir;
  for (int i = 0; i < 50; ++i) dir.Write("pic/fb" + std::to_string(i) + "_0.jpg", "");
  Settle(dir.path());
  const fs::path pic = dir / "pic";
  EXPECT_EQ(ResolveHostPath("PIC\\FB7_0.JPG", dir.path()), pic / "fb7_0.jpg");
  const size_t reads = FolderListingsRead();
  for (int i = 0; i < 200; ++i) {
    EXPECT_EQ(ResolveHostPath("pic\\fb" + std::to_string(i) + "_1.JPG", dir.path()),
              pic / ("fb" + std::to_string(i) + "_1.JPG"));
  }
  EXPECT_EQ(FolderListingsRead(), reads);

  // Each step changes the folder (and is looked up again at once, within the same tick).
  const std::vector<std::pair<std::function<void()>, fs::path>> steps = {
      {[&] { dir.Write("pic/FB3_1.Jpg", ""); }, pic / "FB3_1.Jpg"},
      {[&] { dir.Write("pic/fb3_1.jpG", ""); }, pic / "FB3_1.Jpg"},  // first in order wins
      {[&] { fs::remove(pic / "FB3_1.Jpg"); }, pic / "fb3_1.jpG"},
      {[&] { fs::rename(pic / "fb3_1.jpG", pic / "x.jpg"); }, pic / "fb3_1.JPG"},
      {[&] {
         fs::rename(pic, dir / "old");
         dir.Write("pic/Fb3_1.jpg", "");
       },
       pic / "Fb3_1.jpg"},
  };
  for (size_t i = 0; i < steps.size(); ++i) {
    steps[i].first();
    EXPECT_EQ(ResolveHostPath("pic\\fb3_1.JPG", dir.path()), steps[i].second) << "step " << i;
  }
}

// The work folder of a run: names looked up before each file is written, the folder growing all
// the while. It is listed once, not once per look-up.
TEST(FolderListing, AFolderBeingFilledIsListedOnce) {
  ScratchDir dir;
  dir.Write("work/Old.xml", "");
  const size_t reads = FolderListingsRead();
  for (int i = 0; i < 300; ++i) {
    const std::string name = "fb" + std::to_string(i) + "_0.jpg";
    ASSERT_EQ(ResolveHostPath("WORK\\" + name, dir.path()), dir / "work" / name);
    dir.Write("work/" + name, "");
    ASSERT_EQ(ResolveHostPath("work\\FB" + std::to_string(i) + "_0.JPG", dir.path()),
              dir / "work" / name);
  }
  EXPECT_EQ(ResolveHostPath("work\\old.XML", dir.path()), dir / "work/Old.xml");
  EXPECT_LE(FolderListingsRead() - reads, 2u);  // the scratch folder and the work folder
}

TEST(WildcardMask, MatchesLikeWindowsWithoutCase) {
  // "ä" against "?": one character, two bytes; "abcabd" against "*abd" needs backtracking.
  for (auto [name, mask] :
       std::vector<std::pair<const char*, const char*>>{{"a.zip", "*.ZIP"},
                                                        {"Objekt_12.xml", "objekt_??.XML"},
                                                        {"README", "*.*"},
                                                        {"Änderung.txt", "ä*"},
                                                        {"ä", "?"},
                                                        {"a.b.c.zip", "*.*.zip"},
                                                        {"abcabd", "*abd"}}) {
    EXPECT_TRUE(MatchesMask(name, mask)) << name << " " << mask;
  }
  EXPECT_FALSE(MatchesMask("Objekt_1.xml", "objekt_??.xml"));
  EXPECT_FALSE(MatchesMask("a.zipx", "*.zip"));
  EXPECT_FALSE(MatchesMask("", "?"));
}

TEST(FindFiles, CaseInsensitiveSortedAndOptionallyRecursive) {
  ScratchDir dir;
  dir.Write("b.ZIP", "");
  dir.Write("a.zip", "");
  dir.Write("c.txt", "");
  dir.Write("folder.zip/inner.Zip", "");
  dir.Write("sub/deep/z.zip", "");
  const auto top = FindFiles(dir.path(), "*.ZIP");
  EXPECT_EQ(top, (std::vector<fs::path>{dir / "a.zip", dir / "b.ZIP"}));  // no folders
  const auto all = FindFiles(dir.path(), "*.zip", true);
  EXPECT_EQ(all, (std::vector<fs::path>{dir / "a.zip", dir / "b.ZIP", dir / "folder.zip/inner.Zip",
                                        dir / "sub/deep/z.zip"}));
  EXPECT_TRUE(FindFiles(dir / "missing", "*").empty());
}

// The documents of each listing are searched in a picture folder of thousands of files: from its
// kept listing, with the names, order and case rules of a fresh search, also while the folder
// changes between searches.
TEST(FindKeptFiles, FindsWhatAFreshSearchFindsAndFollowsTheFolder) {
  ScratchDir dir;
  for (const char* name :
       {"fb1-doc1#Grundriss.pdf", "FB1-Doc2.PDF", "fb1-doc10.txt", "fb10-doc1.pdf", "fb1_0.jpg",
        "Änderung-doc1.pdf", "änderung-DOC2.pdf", "x\xE4-doc1.pdf"})
    dir.Write(std::string("pic/") + name, "");
  dir.Write("pic/fb1-doc3.pdf/inner.pdf", "");  // a folder is no document
  fs::create_symlink(dir / "pic" / "fb1_0.jpg", dir / "pic" / "fb1-doc4.jpg");
  Settle(dir.path());
  const fs::path pic = dir / "pic";
  auto fresh = [&](const std::string& mask) {
    std::vector<std::string> names;
    for (const fs::path& p : FindFiles(pic, mask)) names.push_back(p.filename().string());
    // A fresh search sorts by path; the kept one by folded name, as the transfer files do.
    std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
      return text::FoldCase(a) < text::FoldCase(b);
    });
    return names;
  };
  auto check = [&](const std::string& mask, const std::vector<std::string>& expected) {
    EXPECT_EQ(FindKeptFiles(pic, mask), expected) << mask;
    EXPECT_EQ(fresh(mask), expected) << mask;
  };
  check("fb1-doc*.*", {"fb1-doc1#Grundriss.pdf", "fb1-doc10.txt", "FB1-Doc2.PDF", "fb1-doc4.jpg"});
  check("ÄNDERUNG-doc*.*", {"Änderung-doc1.pdf", "änderung-DOC2.pdf"});
  check("x\xE5-doc*.*", {"x\xE4-doc1.pdf"});  // stray bytes all match one another
  check("*.PDF", {"fb1-doc1#Grundriss.pdf", "FB1-Doc2.PDF", "fb10-doc1.pdf", "x\xE4-doc1.pdf",
                  "Änderung-doc1.pdf", "änderung-DOC2.pdf"});
  check("?b1-doc?.pdf", {"FB1-Doc2.PDF"});

  // Between two searches: one document comes, one goes.
  const size_t reads = FolderListingsRead();
  dir.Write("pic/fB1-doc0.pdf", "");
  fs::remove(pic / "fb1-doc10.txt");
  check("fb1-doc*.*", {"fB1-doc0.pdf", "fb1-doc1#Grundriss.pdf", "FB1-Doc2.PDF", "fb1-doc4.jpg"});
  EXPECT_TRUE(FindKeptFiles(dir / "missing", "*").empty());
  EXPECT_LE(FolderListingsRead() - reads, 1u);
}

}  // namespace
}  // namespace fern
