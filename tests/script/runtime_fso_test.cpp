#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/host_path.h"
#include "runtime_test_support.h"
#include "support/scratch_dir.h"

namespace fern::script {
namespace {

namespace fs = std::filesystem;
using testing::ErrorOf;
using testing::Get;
using testing::ObjOf;

std::string Bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Put(const fs::path& p, std::string_view bytes) {
  std::ofstream out(p, std::ios::binary);
  out << bytes;
}

class RuntimeFso : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = scratch_.path();
    savedDrives_ = DriveMap();
    SetDriveMap({{'X', root_}});
    fso_ = CreateRuntimeObject("Scripting.FileSystemObject");
  }
  void TearDown() override { SetDriveMap(savedDrives_); }

  Variant Fso(std::string_view member, std::vector<Variant> args = {}) {
    return Get(fso_, member, std::move(args));
  }
  std::shared_ptr<Dispatch> FsoObj(std::string_view member, std::vector<Variant> args = {}) {
    return ObjOf(Fso(member, std::move(args)));
  }

  fern::testing::ScratchDir scratch_;
  fs::path root_;
  std::map<char, fs::path> savedDrives_;
  std::shared_ptr<Dispatch> fso_;
};

TEST_F(RuntimeFso, AnsiFilesAreWindows1252WithCrLf) {
  FsoObj("CreateFolder", {"X:\\Export"});
  auto ts = FsoObj("CreateTextFile", {"X:\\EXPORT\\Größe.txt"});  // folder found without case
  Get(ts, "WriteLine", {"Fläche 80 m² – 1.200 €"});
  Get(ts, "Write", {"Ende"});
  Get(ts, "WriteBlankLines", {int32_t{1}});
  EXPECT_EQ(Get(ts, "Line").longVal(), 3);
  Get(ts, "Close");
  EXPECT_EQ(Bytes(root_ / "Export" / "Größe.txt"),
            "Fl\xE4"
            "che 80 m\xB2 \x96 1.200 \x80\r\nEnde\r\n");

  auto in = FsoObj("OpenTextFile", {"x:\\export\\GRÖßE.TXT"});
  EXPECT_EQ(Get(in, "ReadLine").str(), "Fläche 80 m² – 1.200 €");
  EXPECT_EQ(Get(in, "ReadLine").str(), "Ende");
  EXPECT_TRUE(Get(in, "AtEndOfStream").boolVal());
}

TEST_F(RuntimeFso, ReadingFollowsLinesOfEveryEnding) {
  Put(root_ / "mixed.txt", "eins\r\nzwei\nдrei\rvier");  // "д" is no Windows-1252 byte: UTF-8
  auto ts = FsoObj("OpenTextFile", {"X:\\mixed.txt"});
  EXPECT_EQ(Get(ts, "ReadLine").str(), "eins");
  EXPECT_EQ(Get(ts, "Line").longVal(), 2);
  EXPECT_EQ(Get(ts, "Read", {int32_t{2}}).str(), "zw");
  EXPECT_EQ(Get(ts, "Column").longVal(), 3);
  EXPECT_FALSE(Get(ts, "AtEndOfLine").boolVal());
  Get(ts, "SkipLine");
  EXPECT_EQ(Get(ts, "ReadLine").str(), "дrei");
  EXPECT_EQ(Get(ts, "ReadAll").str(), "vier");
  EXPECT_TRUE(Get(ts, "AtEndOfStream").boolVal());
  EXPECT_EQ(ErrorOf([&] { Get(ts, "ReadLine"); }), 62);
  EXPECT_EQ(ErrorOf([&] { Get(ts, "Write", {"x"}); }), 54);

  Put(root_ / "ansi.txt", "M\xFCller\r\n");
  EXPECT_EQ(Get(FsoObj("OpenTextFile", {"X:\\ansi.txt"}), "ReadAll").str(), "Müller\r\n");
  Put(root_ / "empty.txt", "");
  auto empty = FsoObj("OpenTextFile", {"X:\\empty.txt"});
  EXPECT_TRUE(Get(empty, "AtEndOfStream").boolVal());
  EXPECT_EQ(ErrorOf([&] { Get(empty, "ReadAll"); }), 62);
}

TEST_F(RuntimeFso, UnicodeFilesAreUtf16WithMark) {
  auto ts = FsoObj("CreateTextFile", {"X:\\u.txt", true, true});
  Get(ts, "WriteLine", {"Ä€"});
  Get(ts, "Close");
  EXPECT_EQ(Bytes(root_ / "u.txt"), std::string("\xFF\xFE\xC4\x00\xAC\x20\r\x00\n\x00", 10));
  // Appending in the default (ANSI) format keeps writing UTF-16 instead of mixing encodings.
  auto app = FsoObj("OpenTextFile", {"X:\\u.txt", int32_t{8}});
  Get(app, "Write", {"ö"});
  Get(app, "Close");
  EXPECT_EQ(Bytes(root_ / "u.txt").substr(10), std::string("\xF6\x00", 2));
  // The mark decides on reading, whatever format is asked for.
  EXPECT_EQ(
      Get(FsoObj("OpenTextFile", {"X:\\u.txt", int32_t{1}, false, int32_t{0}}), "ReadAll").str(),
      "Ä€\r\nö");
  Put(root_ / "nomark.txt", std::string("h\x00i\x00", 4));
  EXPECT_EQ(
      Get(FsoObj("OpenTextFile", {"X:\\nomark.txt", int32_t{1}, false, int32_t{-1}}), "ReadAll")
          .str(),
      "hi");
  Put(root_ / "u8.txt", "\xEF\xBB\xBF\xC3\xA4");
  EXPECT_EQ(Get(FsoObj("OpenTextFile", {"X:\\u8.txt"}), "ReadAll").str(), "ä");
}

TEST_F(RuntimeFso, OpenModesAndTheirErrors) {
  EXPECT_EQ(ErrorOf([&] { Fso("OpenTextFile", {"X:\\missing.txt"}); }), 53);
  EXPECT_EQ(ErrorOf([&] { Fso("OpenTextFile", {"X:\\nofolder\\a.txt", int32_t{2}, true}); }), 76);
  EXPECT_EQ(ErrorOf([&] { Fso("OpenTextFile", {"X:\\a.txt", int32_t{3}, true}); }), 5);
  auto w = FsoObj("OpenTextFile", {"X:\\a.txt", int32_t{2}, true});
  Get(w, "Write", {"alt"});
  Get(w, "Close");
  EXPECT_EQ(ErrorOf([&] { Get(w, "Write", {"x"}); }), 54);
  auto a = FsoObj("OpenTextFile", {"X:\\a.txt", int32_t{8}});
  Get(a, "Write", {"+neu"});
  Get(a, "Close");
  EXPECT_EQ(Bytes(root_ / "a.txt"), "alt+neu");
  auto again = FsoObj("OpenTextFile", {"X:\\a.txt", int32_t{2}});
  Get(again, "Close");
  EXPECT_EQ(Bytes(root_ / "a.txt"), "");
  EXPECT_EQ(ErrorOf([&] { Fso("CreateTextFile", {"X:\\a.txt", false}); }), 58);
  EXPECT_EQ(ErrorOf([&] { Fso("CreateFolder", {"X:\\a.txt"}); }), 58);
  EXPECT_EQ(ErrorOf([&] { Fso("CreateFolder", {"X:\\no\\deeper"}); }), 76);
  EXPECT_EQ(ErrorOf([&] { Fso("GetFile", {"X:\\nope.txt"}); }), 53);
  EXPECT_EQ(ErrorOf([&] { Fso("GetFolder", {"X:\\nope"}); }), 76);
  EXPECT_FALSE(Fso("FileExists", {"Q:\\unmapped.txt"}).boolVal());
  EXPECT_TRUE(Fso("FileExists", {"x:\\A.TXT"}).boolVal());
  EXPECT_FALSE(Fso("FolderExists", {"X:\\a.txt"}).boolVal());
  EXPECT_TRUE(Fso("DriveExists", {"X:"}).boolVal());
}

TEST_F(RuntimeFso, PathTexts) {
  EXPECT_EQ(Fso("GetFileName", {"C:\\Daten\\Export\\liste.csv"}).str(), "liste.csv");
  EXPECT_EQ(Fso("GetFileName", {"C:\\Daten\\Export\\"}).str(), "Export");
  EXPECT_EQ(Fso("GetFileName", {"C:\\"}).str(), "");
  EXPECT_EQ(Fso("GetBaseName", {"C:\\a\\archiv.tar.gz"}).str(), "archiv.tar");
  EXPECT_EQ(Fso("GetExtensionName", {"C:\\a\\archiv.tar.gz"}).str(), "gz");
  EXPECT_EQ(Fso("GetExtensionName", {"C:\\a\\README"}).str(), "");
  EXPECT_EQ(Fso("GetParentFolderName", {"C:\\a\\b.txt"}).str(), "C:\\a");
  EXPECT_EQ(Fso("GetParentFolderName", {"C:\\a"}).str(), "C:\\");
  EXPECT_EQ(Fso("GetParentFolderName", {"b.txt"}).str(), "");
  EXPECT_EQ(Fso("GetParentFolderName", {"/srv/x/"}).str(), "/srv");
  EXPECT_EQ(Fso("BuildPath", {"C:\\a", "b.txt"}).str(), "C:\\a\\b.txt");
  EXPECT_EQ(Fso("BuildPath", {"C:\\a\\", "\\b.txt"}).str(), "C:\\a\\b.txt");
  EXPECT_EQ(Fso("BuildPath", {"/srv/a", "b"}).str(), "/srv/a/b");
  EXPECT_EQ(Fso("GetAbsolutePathName", {"C:\\a\\.\\b\\..\\c"}).str(), "C:\\a\\c");
  EXPECT_EQ(Fso("GetDriveName", {"c:\\x"}).str(), "c:");
  std::string temp = Fso("GetTempName").str();
  EXPECT_EQ(temp.substr(0, 3), "rad");
  EXPECT_EQ(temp.substr(temp.size() - 4), ".tmp");
  EXPECT_TRUE(Get(FsoObj("GetSpecialFolder", {int32_t{2}}), "Path").IsString());
}

TEST_F(RuntimeFso, FoldersFilesAndListings) {
  fs::create_directories(root_ / "Obj" / "Bilder");
  fs::create_directories(root_ / "Obj" / "anhang");
  Put(root_ / "Obj" / "b.jpg", "12345");
  Put(root_ / "Obj" / "A.txt", "1");
  auto folder = FsoObj("GetFolder", {"X:\\obj"});
  EXPECT_EQ(Get(folder, "Name").str(), "Obj");  // the spelling on disk
  EXPECT_EQ(Get(folder, "Path").str(), "X:\\obj");
  EXPECT_EQ(Get(folder, "Size").longVal(), 6);
  auto files = ObjOf(Get(folder, "Files"));
  EXPECT_EQ(Get(files, "Count").longVal(), 2);
  std::vector<Variant> each;
  ASSERT_TRUE(files->Enumerate(each));
  ASSERT_EQ(each.size(), 2u);
  EXPECT_EQ(Get(ObjOf(each[0]), "Name").str(), "A.txt");  // listed without regard to case
  EXPECT_EQ(Get(ObjOf(each[1]), "Path").str(), "X:\\obj\\b.jpg");
  auto jpg = ObjOf(Get(files, "Item", {"B.JPG"}));
  EXPECT_EQ(Get(jpg, "Size").longVal(), 5);
  EXPECT_EQ(Get(jpg, "DateLastModified").type(), VType::Date);
  EXPECT_EQ(Get(ObjOf(Get(jpg, "ParentFolder")), "Path").str(), "X:\\obj");
  EXPECT_EQ(ErrorOf([&] { Get(files, "Item", {"none.jpg"}); }), 53);
  auto subs = ObjOf(Get(folder, "SubFolders"));
  each.clear();
  ASSERT_TRUE(subs->Enumerate(each));
  ASSERT_EQ(each.size(), 2u);
  EXPECT_EQ(Get(ObjOf(each[0]), "Name").str(), "anhang");
  Get(subs, "Add", {"Neu"});
  EXPECT_TRUE(fs::is_directory(root_ / "Obj" / "Neu"));
  EXPECT_EQ(Get(subs, "Count").longVal(), 3);
}

TEST_F(RuntimeFso, CopyMoveDeleteWithMasks) {
  fs::create_directories(root_ / "src");
  fs::create_directories(root_ / "dst");
  Put(root_ / "src" / "a.XML", "a");
  Put(root_ / "src" / "b.xml", "b");
  Put(root_ / "src" / "c.txt", "c");
  Fso("CopyFile", {"X:\\src\\*.xml", "X:\\dst\\"});
  EXPECT_TRUE(fs::exists(root_ / "dst" / "a.XML"));
  EXPECT_TRUE(fs::exists(root_ / "dst" / "b.xml"));
  EXPECT_FALSE(fs::exists(root_ / "dst" / "c.txt"));
  EXPECT_EQ(ErrorOf([&] { Fso("CopyFile", {"X:\\src\\a.xml", "X:\\dst\\b.xml", false}); }), 58);
  Fso("CopyFile", {"X:\\src\\c.txt", "X:\\dst\\renamed.txt"});
  EXPECT_EQ(Bytes(root_ / "dst" / "renamed.txt"), "c");
  EXPECT_EQ(ErrorOf([&] { Fso("CopyFile", {"X:\\src\\*.pdf", "X:\\dst\\"}); }), 53);
  EXPECT_EQ(ErrorOf([&] { Fso("CopyFile", {"X:\\src\\c.txt", "X:\\nowhere\\"}); }), 76);

  Fso("MoveFile", {"X:\\src\\c.txt", "X:\\dst\\"});
  EXPECT_FALSE(fs::exists(root_ / "src" / "c.txt"));
  EXPECT_TRUE(fs::exists(root_ / "dst" / "c.txt"));
  EXPECT_EQ(ErrorOf([&] { Fso("MoveFile", {"X:\\src\\a.xml", "X:\\dst\\b.xml"}); }), 58);

  Fso("DeleteFile", {"X:\\dst\\*.XML"});
  EXPECT_FALSE(fs::exists(root_ / "dst" / "b.xml"));
  EXPECT_TRUE(fs::exists(root_ / "dst" / "c.txt"));
  EXPECT_EQ(ErrorOf([&] { Fso("DeleteFile", {"X:\\dst\\*.xml"}); }), 53);

  // CopyFolder onto an existing folder merges; with a trailing "\" it copies into it.
  Fso("CopyFolder", {"X:\\src", "X:\\dst"});
  EXPECT_TRUE(fs::exists(root_ / "dst" / "a.XML"));
  EXPECT_TRUE(fs::exists(root_ / "dst" / "c.txt"));
  Fso("CopyFolder", {"X:\\src", "X:\\dst\\"});
  EXPECT_TRUE(fs::exists(root_ / "dst" / "src" / "b.xml"));
  EXPECT_EQ(ErrorOf([&] { Fso("CopyFolder", {"X:\\src", "X:\\src\\inner"}); }), 70);
  Fso("MoveFolder", {"X:\\dst\\src", "X:\\moved"});
  EXPECT_TRUE(fs::exists(root_ / "moved" / "b.xml"));
  Fso("DeleteFolder", {"X:\\moved"});
  EXPECT_FALSE(fs::exists(root_ / "moved"));
  EXPECT_EQ(ErrorOf([&] { Fso("DeleteFolder", {"X:\\moved"}); }), 76);

  auto file = FsoObj("GetFile", {"X:\\src\\a.xml"});
  Get(file, "Copy", {"X:\\kopie.xml"});
  Get(file, "Move", {"X:\\verschoben.xml"});
  EXPECT_EQ(Get(file, "Path").str(), "X:\\verschoben.xml");
  EXPECT_EQ(Bytes(root_ / "kopie.xml"), "a");
  Get(file, "Delete");
  EXPECT_FALSE(fs::exists(root_ / "verschoben.xml"));
}

}  // namespace
}  // namespace fern::script
