#include "services/cZipV2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/scratch_dir.h"
#include "support/test_files.h"

namespace fern {
namespace {

namespace fs = std::filesystem;

using testing_files::ReadAll;
using testing_files::WriteAll;

std::string Shell(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
    pclose(pipe);
  }
  return out;
}

// Entry names as python3's zipfile sees them, sorted, one per line; "BAD" when the archive
// fails its check.
std::vector<std::string> Entries(const fs::path& zip) {
  const std::string out = Shell(
      "python3 -c 'import sys,zipfile\n"
      "z=zipfile.ZipFile(sys.argv[1])\n"
      "print(\"BAD\" if z.testzip() else \"\\n\".join(sorted(z.namelist())))' '" +
      zip.string() + "'");
  std::vector<std::string> names;
  size_t start = 0;
  for (size_t nl; (nl = out.find('\n', start)) != std::string::npos; start = nl + 1)
    if (nl > start) names.push_back(out.substr(start, nl - start));
  return names;
}

// Writes an archive whose entries are given as name/content pairs, in that order.
void MakeZip(const fs::path& zip, const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string script = "import sys,zipfile\nz=zipfile.ZipFile(sys.argv[1],\"w\")\n";
  for (const auto& [name, content] : entries)
    script += "z.writestr(" + std::string("\"") + name + "\",\"" + content + "\")\n";
  script += "z.close()\n";
  const fs::path py = zip.string() + ".py";
  WriteAll(py, script);
  ASSERT_EQ(std::system(("python3 '" + py.string() + "' '" + zip.string() + "'").c_str()), 0);
}

class ZipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = scratch_.path();
    base_ = root_ / "Export";
    WriteAll(base_ / "Daten.XML", "<xml/>");
    WriteAll(base_ / "pics" / "A.jpg", "jpeg-a");
    WriteAll(base_ / "pics" / "deep" / "b.JPG", "jpeg-b");
    WriteAll(base_ / "notes.txt", "notes");
  }

  fern::testing::ScratchDir scratch_;
  fs::path root_, base_;
  cZipV2 zip_;
};

TEST_F(ZipTest, AddsQuotedItemsAndWildcardsRelativeToTheBaseFolder) {
  const fs::path zip = root_ / "out.zip";
  std::string items =
      "\"" + base_.string() + "\\daten.xml\"  \"" + base_.string() + "\\PICS\\*.jpg\"";
  zip_.AddFile(zip.string(), items, base_.string(), true);
  EXPECT_EQ(Entries(zip), (std::vector<std::string>{"Daten.XML", "pics/A.jpg", "pics/deep/b.JPG"}));

  // Adding again replaces entries of the same name and keeps the others.
  WriteAll(base_ / "Daten.XML", "<xml>neu</xml>");
  std::string again = "\"" + base_.string() + "/Daten.XML\" \"" + base_.string() + "/notes.txt\"";
  zip_.AddFile(zip.string(), again, base_.string());
  EXPECT_EQ(Entries(zip),
            (std::vector<std::string>{"Daten.XML", "notes.txt", "pics/A.jpg", "pics/deep/b.JPG"}));
  EXPECT_EQ(Shell("unzip -p '" + zip.string() + "' Daten.XML"), "<xml>neu</xml>");
}

TEST_F(ZipTest, RecursionAndBaseFolderCase) {
  const fs::path zip = base_ / "flat.zip";  // inside the packed folder: never packs itself
  std::string items = "\"" + base_.string() + "\\*.*\"";
  std::string upperBase = root_.string() + "/EXPORT";
  zip_.AddFile(zip.string(), items, upperBase, false);
  zip_.AddFile(zip.string(), items, upperBase, false);
  EXPECT_EQ(Entries(zip), (std::vector<std::string>{"Daten.XML", "notes.txt"}));

  // A file outside the base, also in a sibling whose name begins with the base's, keeps its
  // full path, without the leading "/".
  const fs::path sibling = root_ / "ExportOld" / "alt.txt";
  WriteAll(sibling, "alt");
  const fs::path other = root_ / "other.zip";
  std::string outside = "\"" + sibling.string() + "\"";
  zip_.AddFile(other.string(), outside, base_.string());
  EXPECT_EQ(Entries(other), (std::vector<std::string>{sibling.string().substr(1)}));
}

TEST_F(ZipTest, BlankListCreatesNothingAndMissingInputIsAnError) {
  const fs::path zip = root_ / "none.zip";
  std::string blanks = "   ";
  zip_.AddFile(zip.string(), blanks, base_.string());
  EXPECT_FALSE(fs::exists(zip));

  std::string missing = "\"" + base_.string() + "/fehlt.xml\" \"" + base_.string() + "/notes.txt\"";
  try {
    zip_.AddFile(zip.string(), missing, base_.string());
    FAIL() << "missing file accepted";
  } catch (const HostError& e) {
    EXPECT_EQ(e.source(), "cZip");
    EXPECT_NE(e.description().find("fehlt.xml"), std::string::npos);
  }
  EXPECT_FALSE(fs::exists(zip));  // nothing half-written

  std::vector<std::string> reported;
  zip_.ErrorHandler = [&](const HostError& e) { reported.push_back(e.description()); };
  zip_.AddFile(zip.string(), missing, base_.string());
  EXPECT_EQ(reported.size(), 1u);
}

TEST_F(ZipTest, ExtractsTheFirstMatchingFileSkippingFolders) {
  const fs::path zip = root_ / "answer.zip";
  MakeZip(zip, {{"dir/", ""}, {"dir/ANTWORT.XML", "<ok/>"}, {"dir/zweite.xml", "<no/>"}});
  const fs::path dest = root_ / "dest";
  const std::string got = zip_.ExtractFirstMatchingFile(zip.string(), "*.xml", dest.string());
  EXPECT_EQ(got, dest.string() + "\\ANTWORT.XML");
  EXPECT_EQ(ReadAll(dest / "ANTWORT.XML"), "<ok/>");
  EXPECT_EQ(zip_.ExtractFirstMatchingFile(zip.string(), "*.pdf", dest.string()), "");

  EXPECT_THROW(
      zip_.ExtractFirstMatchingFile((root_ / "absent.zip").string(), "*.xml", dest.string()),
      HostError);
}

TEST_F(ZipTest, EntriesThatWouldLeaveTheTargetFolderAreRefused) {
  const fs::path dest = root_ / "a" / "dest";
  fs::create_directories(dest);
  const fs::path climbing = root_ / "climb.zip";
  MakeZip(climbing, {{"../evil.xml", "<evil/>"}});
  EXPECT_THROW(zip_.ExtractFirstMatchingFile(climbing.string(), "*.xml", dest.string()), HostError);
  const fs::path absolute = root_ / "abs.zip";
  MakeZip(absolute, {{"/tmp/evil.xml", "<evil/>"}});
  EXPECT_THROW(zip_.ExtractFirstMatchingFile(absolute.string(), "*.xml", dest.string()), HostError);
  EXPECT_FALSE(fs::exists(root_ / "a" / "evil.xml"));
  EXPECT_TRUE(fs::is_empty(dest));

  std::vector<std::string> reported;
  zip_.ErrorHandler = [&](const HostError& e) { reported.push_back(e.description()); };
  EXPECT_EQ(zip_.ExtractFirstMatchingFile(climbing.string(), "*.xml", dest.string(), true), "");
  EXPECT_EQ(reported.size(), 1u);
}

}  // namespace
}  // namespace fern
