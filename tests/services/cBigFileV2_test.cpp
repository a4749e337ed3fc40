#include "services/cBigFileV2.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cctype>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "platform/host_error.h"
#include "support/scratch_dir.h"
#include "support/test_files.h"

namespace fern {
namespace {

namespace fs = std::filesystem;

using testing_files::RandomBytes;
using testing_files::ReadAll;

constexpr time_t kModified = 1709647629;  // 05.03.2024 14:07:09 UTC

void WriteAll(const fs::path& p, const std::string& bytes) {
  testing_files::WriteAll(p, bytes, kModified);
}

// A reader written from the byte format alone, independent of the writer.
struct Record {
  std::vector<std::string> fields;  // the info text split at "|"
  std::string content;              // after uncompressing the data
};

uint64_t ReadLength(std::istream& in) {
  char raw[12];
  in.read(raw, 12);
  if (in.gcount() != 12) throw std::runtime_error("short length field");
  uint64_t n = 0;
  for (char c : raw) {
    const char d = static_cast<char>(c ^ 0xFF);
    if (d < '0' || d > '9') throw std::runtime_error("length field is not decimal");
    n = n * 10 + static_cast<uint64_t>(d - '0');
  }
  return n;
}

std::vector<Record> ReadContainer(const fs::path& p) {
  std::istringstream in(ReadAll(p));
  char magic[7];
  in.read(magic, 7);
  if (in.gcount() != 7 || std::string(magic, 7) != "BIGFILE") throw std::runtime_error("magic");
  std::vector<Record> records;
  while (in.peek() != EOF) {
    Record r;
    std::string info(ReadLength(in), '\0');
    in.read(info.data(), static_cast<std::streamsize>(info.size()));
    for (char& c : info) c = static_cast<char>(c ^ 0xFF);
    std::string data(ReadLength(in), '\0');
    in.read(data.data(), static_cast<std::streamsize>(data.size()));
    if (!in) throw std::runtime_error("truncated record");
    size_t start = 0;
    for (size_t bar; (bar = info.find('|', start)) != std::string::npos; start = bar + 1)
      r.fields.push_back(info.substr(start, bar - start));
    r.fields.push_back(info.substr(start));
    if (r.fields.size() != 8 || r.fields[6] != "2") throw std::runtime_error("info: " + info);
    uLongf size = std::stoul(r.fields[3]);
    r.content.assign(size, '\0');
    if (uncompress(reinterpret_cast<Bytef*>(r.content.data()), &size,
                   reinterpret_cast<const Bytef*>(data.data()), data.size()) != Z_OK ||
        size != r.content.size())
      throw std::runtime_error("data does not uncompress to the stated size");
    records.push_back(r);
  }
  return records;
}

class BigFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    root_ = scratch_.path();
    out_ = root_ / "out";
    fs::create_directories(out_);
  }

  std::string Out(const std::string& name) const { return (out_ / name).string(); }

  fern::testing::ScratchDir scratch_;
  fs::path root_, out_;
  cBigFileV2 big_;
};

TEST_F(BigFileTest, OneSmallFileGivesTheExactRecordAndIndexLine) {
  const fs::path file = root_ / "in" / "Hello.TXT";
  WriteAll(file, "abc");
  chmod(file.c_str(), 0644);

  std::string name = Out("t.big");
  std::string path = file.string();
  std::string folder = "  \\pics\\large ";
  big_.bigOpenWrite(name);
  big_.bigWriteFile(path, folder);
  big_.bigClose();
  EXPECT_EQ(folder, "pics\\large\\");  // normalised in place

  const std::string info = "|hello.txt|pics\\large\\|3|05.03.2024 14:07:09|32|2|";
  std::string invertedInfo;
  for (char c : info) invertedInfo += static_cast<char>(c ^ 0xFF);
  const std::string expected =
      std::string("BIGFILE") +
      "\xCF\xCF\xCF\xCF\xCF\xCF\xCF\xCF\xCF\xCF\xCA\xCF" +  // "000000000050" inverted
      invertedInfo +
      "\xCF\xCF\xCF\xCF\xCF\xCF\xCF\xCF\xCF\xCF\xCE\xCE" +              // "000000000011" inverted
      std::string("\x78\x9C\x4B\x4C\x4A\x06\x00\x02\x4D\x01\x27", 11);  // compress("abc")
  EXPECT_EQ(ReadAll(Out("t_1.big")), expected);
  EXPECT_EQ(ReadAll(Out("t.dir")), path + "|3|05.03.2024 14:07:09|pics\\large\\|\r\n");
  EXPECT_FALSE(fs::exists(Out("t.big")));
  EXPECT_EQ(big_.CountFiles(), 1);
  EXPECT_EQ(big_.Size(), static_cast<int64_t>(expected.size()));
}

TEST_F(BigFileTest, FolderTreeRoundTripsThroughAnIndependentReader) {
  const fs::path in = root_ / "Tree";
  const std::string binary = RandomBytes(100000, 1);
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "Zeile " + std::to_string(i) + " Wohnung mit Balkon\r\n";
  WriteAll(in / "a.txt", text);
  WriteAll(in / "Empty.dat", "");
  WriteAll(in / "Sub" / "Deeper" / "Bin.BIN", binary);
  WriteAll(in / "Sub" / "Grüße.TXT", "Grüße");
  WriteAll(in / "sub2" / "x.jpg", "jpeg");

  std::vector<std::string> messages;
  big_.DoMessage = [&](const std::string& m) { messages.push_back(m); };
  big_.MaxTransferBytes(0);
  std::string name = Out("site.big");
  big_.bigOpenWrite(name);
  big_.bigWriteFolder(in.string(), "");
  big_.bigClose();

  // Subfolders before a folder's own files; names lower-cased in Windows-1252, folders keep
  // their case, content bytes are never converted.
  std::vector<std::string> heads, contents;
  for (const Record& r : ReadContainer(Out("site_1.big"))) {
    heads.push_back(r.fields[1] + "|" + r.fields[2] + "|" + r.fields[3]);
    contents.push_back(r.content);
  }
  EXPECT_EQ(heads, (std::vector<std::string>{"bin.bin|Sub\\Deeper\\|100000",
                                             "gr\xFC\xDF"
                                             "e.txt|Sub\\|7",
                                             "x.jpg|sub2\\|4",
                                             "a.txt|"
                                             "|" +
                                                 std::to_string(text.size()),
                                             "empty.dat||0"}));
  EXPECT_EQ(contents, (std::vector<std::string>{binary, "Grüße", "jpeg", text, ""}));

  // The walk reports and indexes the lower-cased path but reads the real, mixed-case one.
  std::string lowerRoot = root_.string() + "/tree";
  for (char& c : lowerRoot) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  ASSERT_EQ(messages.size(), 5u);
  EXPECT_EQ(messages[0], lowerRoot + "/sub/deeper/bin.bin");
  EXPECT_EQ(messages[1], lowerRoot + "/sub/grüße.txt");
  const std::string index = ReadAll(Out("site.dir"));
  EXPECT_NE(index.find(lowerRoot + "/sub/gr\xFC\xDF"
                                   "e.txt|7|"),
            std::string::npos);
  EXPECT_NE(index.find(lowerRoot + "/empty.dat|0|05.03.2024 14:07:09||\r\n"), std::string::npos);
}

TEST_F(BigFileTest, FilterListMatchesWholeUpperCaseExtensions) {
  const fs::path in = root_ / "pics";
  WriteAll(in / "a.jpg", "1");
  WriteAll(in / "B.JPG", "2");
  WriteAll(in / "c.jpeg", "3");
  WriteAll(in / "jpg", "4");
  WriteAll(in / "d.gif", "5");
  std::string name = Out("p.big");

  big_.bigOpenWrite(name);
  big_.bigWriteFolder(in.string(), "bilder", "JPG GIF");
  big_.bigClose();
  std::vector<std::string> names;
  for (const Record& r : ReadContainer(Out("p_1.big"))) {
    names.push_back(r.fields[1]);
    EXPECT_EQ(r.fields[2], "bilder\\");
  }
  EXPECT_EQ(names, (std::vector<std::string>{"a.jpg", "b.jpg", "d.gif"}));

  // The list is taken as given: lower-case extensions match nothing.
  ASSERT_GT(big_.Size(), 7);
  big_.Clear();
  EXPECT_EQ(big_.Size(), 0);
  EXPECT_EQ(big_.CountFiles(), 0);
  big_.bigOpenWrite(name);
  big_.bigWriteFolder(in.string(), "", "jpg");
  big_.bigClose();
  EXPECT_TRUE(ReadContainer(Out("p_1.big")).empty());
}

TEST_F(BigFileTest, AContainerInsideThePackedFolderIsNotPackedIntoItself) {
  const fs::path in = root_ / "site";
  WriteAll(in / "a.php", "1");
  std::string name = (in / "site.big").string();
  big_.bigOpenWrite(name);
  big_.bigWriteFolder(in.string(), "", "");
  big_.bigClose();
  std::vector<std::string> names;
  for (const Record& r : ReadContainer((in / "site_1.big").string())) names.push_back(r.fields[1]);
  EXPECT_EQ(names, std::vector<std::string>{"a.php"});
}

TEST_F(BigFileTest, RollsOverAfterTheFileThatCrossesTheLimit) {
  for (int i = 0; i < 3; ++i)
    WriteAll(root_ / "in" / ("f" + std::to_string(i)), RandomBytes(1500, i));
  // An upper-case extension and a ".big" further up the path: only the final extension counts.
  const fs::path dir = out_ / "old.big.d";
  fs::create_directories(dir);
  std::string name = (dir / "Transfer.BIG").string();
  big_.MaxTransferBytes(1);
  big_.bigOpenWrite(name);
  big_.bigWriteFolder((root_ / "in").string(), "");
  big_.bigClose();

  EXPECT_EQ(big_.CountFiles(), 4);
  int64_t sum = 0;
  for (int i = 1; i <= 3; ++i) {
    const fs::path p = dir / ("Transfer_" + std::to_string(i) + ".BIG");
    ASSERT_TRUE(fs::exists(p)) << p;
    const std::vector<Record> records = ReadContainer(p);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].fields[1], "f" + std::to_string(i - 1));
    sum += static_cast<int64_t>(fs::file_size(p));
  }
  // The container opened after the last file holds the magic only and adds nothing to Size.
  EXPECT_EQ(ReadAll(dir / "Transfer_4.BIG"), "BIGFILE");
  EXPECT_EQ(big_.Size(), sum);
  EXPECT_TRUE(fs::exists(dir / "Transfer.dir"));

  big_.Clear();
  big_.MaxTransferBytes(0);
  big_.bigOpenWrite(name);
  big_.bigWriteFolder((root_ / "in").string(), "");
  big_.bigClose();
  EXPECT_EQ(big_.CountFiles(), 1);
  EXPECT_EQ(ReadContainer(dir / "Transfer_1.BIG").size(), 3u);
}

TEST_F(BigFileTest, EmptyTreeGivesMagicOnlyAndAnEmptyIndex) {
  fs::create_directories(root_ / "empty" / "sub");
  std::string name = Out("e.big");
  big_.bigOpenWrite(name);
  big_.bigWriteFolder((root_ / "empty").string(), "");
  big_.bigClose();
  EXPECT_EQ(ReadAll(Out("e_1.big")), "BIGFILE");
  EXPECT_EQ(ReadAll(Out("e.dir")), "");
  EXPECT_EQ(big_.CountFiles(), 1);
}

TEST_F(BigFileTest, NamesThatWouldCorruptARecordAreRefusedBeforeWriting) {
  std::string name = Out("r.big");
  big_.bigOpenWrite(name);
  const std::vector<std::string> bad = {"a|b.txt",  "back\\slash.txt",  "line\nfeed.txt",
                                        "cr\r.txt", "\xE6\x97\xA5.txt", "bad\xFF.txt"};
  for (size_t i = 0; i < bad.size(); ++i) {
    const fs::path dir = root_ / ("bad" + std::to_string(i));
    WriteAll(dir / bad[i], "x");
    EXPECT_THROW(big_.bigWriteFolder(dir.string(), ""), HostError) << bad[i];
  }
  WriteAll(root_ / "badsub" / "a|b" / "x.txt", "x");
  EXPECT_THROW(big_.bigWriteFolder((root_ / "badsub").string(), ""), HostError);
  // A relative folder may not climb out of the unpack folder or start at the root.
  WriteAll(root_ / "ok.txt", "x");
  for (std::string folder : {"..\\up", "a\\..\\..\\b", "/etc", "a|b"}) {
    std::string path = (root_ / "ok.txt").string();
    EXPECT_THROW(big_.bigWriteFile(path, folder), HostError) << folder;
  }
  // A bad name met in a walk stops it with the error; what was packed before stays readable.
  WriteAll(root_ / "walk" / "a.txt", "fine");
  WriteAll(root_ / "walk" / "b|c.txt", "bad");
  EXPECT_THROW(big_.bigWriteFolder((root_ / "walk").string(), ""), HostError);
  big_.bigClose();
  const std::vector<Record> records = ReadContainer(Out("r_1.big"));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].fields[1], "a.txt");
  EXPECT_EQ(ReadAll(Out("r.dir")).find("b|c"), std::string::npos);
}

TEST_F(BigFileTest, MissingInputsAndClosedContainerAreErrors) {
  std::string path = (root_ / "nope.txt").string(), folder;
  EXPECT_THROW(big_.bigWriteFile(path, folder), HostError);  // nothing open yet
  std::string name = Out("m.big");
  big_.bigOpenWrite(name);
  try {
    big_.bigWriteFile(path, folder);
    FAIL() << "missing file packed";
  } catch (const HostError& e) {
    EXPECT_EQ(e.number(), err::kFileNotFound);
  }
  EXPECT_THROW(big_.bigWriteFolder((root_ / "absent").string(), ""), HostError);
  big_.bigClose();
  EXPECT_EQ(ReadAll(Out("m_1.big")), "BIGFILE");
}

TEST_F(BigFileTest, WildcardFileNamesAndFindFile) {
  WriteAll(root_ / "Docs" / "a.TXT", "a");
  WriteAll(root_ / "Docs" / "b.txt", "b");
  WriteAll(root_ / "Docs" / "c.pdf", "c");
  WriteAll(root_ / "Docs" / "Sub" / "d.txt", "d");

  std::vector<std::string> found;
  big_.FindFile((root_ / "docs").string() + "\\", true, "*.txt", found);
  const std::string docs = (root_ / "docs").string();
  EXPECT_EQ(found,
            (std::vector<std::string>{"", docs + "/a.TXT", docs + "/b.txt", docs + "/Sub/d.txt"}));
  big_.FindFile(root_.string() + "/absent", true, "*.*", found);
  EXPECT_EQ(found.size(), 4u);

  std::string name = Out("w.big");
  std::string pattern = docs + "/*.TXT", folder = "docs";
  big_.bigOpenWrite(name);
  big_.bigWriteFile(pattern, folder);
  big_.bigClose();
  const std::vector<Record> records = ReadContainer(Out("w_1.big"));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].fields[1], "a.txt");
  EXPECT_EQ(records[1].fields[1], "b.txt");
  EXPECT_EQ(records[1].fields[2], "docs\\");
}

TEST_F(BigFileTest, ChangeFileExtReplacesOnlyTheFinalExtension) {
  std::string a = "C:\\out\\x.big", b = "/tmp/a.b/name", c = "x.tar.gz";
  EXPECT_EQ(big_.ChangeFileExt(a, ".dir"), "C:\\out\\x.dir");
  EXPECT_EQ(big_.ChangeFileExt(b, "dir"), "/tmp/a.b/name.dir");
  EXPECT_EQ(big_.ChangeFileExt(c, "zip"), "x.tar.zip");
}

}  // namespace
}  // namespace fern
