// Packing the transfer folder with 7za, a configured zip program and the internal packer,
// each archive checked with `unzip -l`.
#include "openimmo/openimmo_packing.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/host_error.h"
#include "platform/process.h"
#include "services/cZipV2.h"
#include "support/scratch_dir.h"

namespace fern::openimmo {
namespace {

namespace fs = std::filesystem;

class Packing : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "host" / "system");
    fs::create_directories(dir_ / "temp");
    dir_.Write("out/listing.xml", "<openimmo/>");
    dir_.Write("out/Other.XML", "<openimmo/>");
    dir_.Write("out/picture.jpg", std::string(3000, 'x'));
    dir_.Write("out/openimmo.xsd", "<xsd/>");
    dir_.Write("out/sub/deep.txt", "not packed by the outside packers");
    settings_.hostFolder = (dir_ / "host").string();
    settings_.transferTempPath = (dir_ / "temp").string() + "/";
    events_.WorkState = [this](int16_t s, const std::string& t) {
      lines_.push_back(std::to_string(s) + " " + t);
    };
  }
  void Pack() { ZipAll((dir_ / "out").string(), "export", settings_, zip_, nullptr, events_); }
  // The entry names `unzip -l` shows, each followed by "\n".
  std::string Entries() {
    ProcessOptions o;
    o.captureStdout = o.captureStderr = true;
    o.timeout = std::chrono::seconds(20);
    const ProcessResult r = RunProcess({"unzip", "-Z1", (dir_ / "out" / "export.zip").string()}, o);
    EXPECT_TRUE(r.Succeeded()) << r.err;
    EXPECT_EQ(r.out.find('/'), std::string::npos) << "entries carry folders: " << r.out;
    return r.out;
  }
  fs::path Script(const std::string& name, const std::string& body) {
    const fs::path p = dir_.Write("host/system/" + name, "#!/bin/sh\n" + body);
    fs::permissions(p, fs::perms::owner_all);
    return p;
  }

  testing::ScratchDir dir_;
  PackingSettings settings_;
  cZipV2 zip_;
  StateEvents events_;
  std::vector<std::string> lines_;
};

TEST_F(Packing, EachPackerPacksEveryFileButTheSchemaAndNeverItself) {
  Script("packer.sh", "exec /usr/bin/python3 -m zipfile -c \"$@\"\n");
  const std::string found7za = settings_.sevenZip;
  const struct {
    std::string sevenZip, zipTool, start;
  } rows[] = {{found7za, "", "0 Start 7zip"},
              {"-", "packer.sh|{ArchiveName} {FileNames}", "0 Start Extern ZIP"},
              {"-", "", "0 Start Intern ZIP"}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.start);
    dir_.Write("out/export.zip", "stale archive of an earlier run");
    lines_.clear();
    settings_.sevenZip = r.sevenZip;
    settings_.zipTool = r.zipTool;
    Pack();
    const std::string entries = Entries();
    for (const char* name : {"listing.xml\n", "Other.XML\n", "picture.jpg\n"})
      EXPECT_NE(entries.find(name), std::string::npos) << entries;
    EXPECT_EQ(entries.find(".xsd"), std::string::npos);
    EXPECT_EQ(entries.find("export.zip"), std::string::npos);
    ASSERT_FALSE(lines_.empty());
    EXPECT_EQ(lines_.front(), r.start);
    if (r.sevenZip != "-") {  // 7za's size line, "0.00" with the German decimal comma
      ASSERT_EQ(lines_.size(), 2u);
      EXPECT_EQ(lines_[1].rfind("0 " + (dir_ / "out").string() + "\\export.zip ", 0), 0u);
      EXPECT_EQ(lines_[1].substr(lines_[1].size() - 3), " kB");
      EXPECT_NE(lines_[1].find(','), std::string::npos);
    }
  }
  // The internal packer's read-back leaves nothing behind.
  for (const auto& e : fs::recursive_directory_iterator(dir_ / "temp"))
    EXPECT_FALSE(e.is_regular_file()) << e.path();
}

TEST_F(Packing, NoPackerTakesAHeldBackFile) {
  Script("packer.sh", "exec /usr/bin/python3 -m zipfile -c \"$@\"\n");
  dir_.Write("out/earlier.zip", "an earlier run's archive");
  settings_.heldBack = {dir_ / "out" / "Other.XML", dir_ / "out" / "earlier.zip"};
  const std::string found7za = settings_.sevenZip;
  const struct {
    std::string sevenZip, zipTool;
  } rows[] = {{found7za, ""}, {"-", "packer.sh|{ArchiveName} {FileNames}"}, {"-", ""}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.sevenZip + " " + r.zipTool);
    settings_.sevenZip = r.sevenZip;
    settings_.zipTool = r.zipTool;
    Pack();
    EXPECT_EQ(Entries(), "listing.xml\npicture.jpg\n");
  }
  EXPECT_TRUE(fs::exists(dir_ / "out" / "Other.XML"));
  EXPECT_TRUE(fs::exists(dir_ / "out" / "earlier.zip"));
}

TEST_F(Packing, SevenZipFailureCarriesCodeTextAndCommandLine) {
  settings_.sevenZip = Script("7za", "exit 2\n").string();
  try {
    Pack();
    FAIL() << "no error";
  } catch (const HostError& e) {
    EXPECT_EQ(e.number(), 50016);
    EXPECT_EQ(e.source(), "7zip");
    EXPECT_EQ(e.description().rfind(
                  "2 Schwerwiegender Fehler. \"" + settings_.sevenZip + "\" a -y -tzip \"", 0),
              0u)
        << e.description();
  }
  settings_.sevenZip = Script("7za", "exit 1\n").string();  // locked files count as failure
  EXPECT_THROW(Pack(), HostError);
}

TEST_F(Packing, ZipToolMissingOrMakingNothingIsAnError) {
  settings_.sevenZip = "-";
  settings_.zipTool = "nothere.exe|{ArchiveName}";
  try {
    Pack();
    FAIL() << "no error";
  } catch (const HostError& e) {
    EXPECT_EQ(e.source(), "ZipTool");
    EXPECT_EQ(e.description(),
              "Zipper-Datei nicht gefunden '" + settings_.hostFolder + "\\system\\nothere.exe'");
  }
  // A program that ends without an archive must not count as packed.
  Script("lazy.sh", "exit 0\n");
  settings_.zipTool = "lazy.sh|{ArchiveName} {FileNames}";
  try {
    Pack();
    FAIL() << "no error";
  } catch (const HostError& e) {
    EXPECT_EQ(e.number(), 50016);
    EXPECT_EQ(e.source(), "ZipAll");
    EXPECT_EQ(e.description(), "Fehler in Zip-Datei '" + (dir_ / "out").string() + "\\export.zip'");
  }
}

TEST_F(Packing, EmptyFolderLeavesNoArchiveAndSaysSo) {
  settings_.sevenZip = "-";
  fs::remove_all(dir_ / "out");
  fs::create_directories(dir_ / "out");
  dir_.Write("out/only.xsd", "<xsd/>");
  EXPECT_THROW(Pack(), HostError);
}

}  // namespace
}  // namespace fern::openimmo
