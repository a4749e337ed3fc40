#include "platform/text_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/host_error.h"
#include "support/error_of.h"
#include "support/scratch_dir.h"

namespace fern {
namespace {

using testing::ScratchDir;

using testing::ErrorOf;

TEST(TextFile, ReadDecidesTheEncoding) {
  ScratchDir dir;
  // ASCII only: nothing tells them apart, Windows-1252 is the default. Mostly UTF-8 with one
  // stray byte is not valid UTF-8, so every byte is Windows-1252.
  struct Case {
    const char *bytes, *text;
    TextEncoding encoding;
  };
  for (const Case& c : std::vector<Case>{{"Gr\xF6\xDF"
                                          "e\r\n",
                                          "Größe\r\n", TextEncoding::kCp1252},
                                         {"\xEF\xBB\xBFGröße", "Größe", TextEncoding::kUtf8Bom},
                                         {"Größe", "Größe", TextEncoding::kUtf8},
                                         {"abc", "abc", TextEncoding::kCp1252},
                                         {"\xC3\xA4 \xE4", "Ã¤ ä", TextEncoding::kCp1252}}) {
    const auto read = ReadTextFile(dir.Write("in.txt", c.bytes));
    EXPECT_EQ(read.text, c.text);
    EXPECT_EQ(read.encoding, c.encoding) << c.text;
  }
}

TEST(TextFile, WriteUsesCp1252AndCrLfThroughATemporaryFile) {
  ScratchDir dir;
  const auto file = dir / "out.txt";
  WriteTextFile(file, "Müller\nZeile 2 → x\n");
  EXPECT_EQ(dir.Read("out.txt"), "M\xFCller\r\nZeile 2 ? x\r\n");

  WriteTextFile(file, "ä\r\n", TextEncoding::kUtf8Bom);
  EXPECT_EQ(dir.Read("out.txt"), "\xEF\xBB\xBF\xC3\xA4\r\n");

  // No temporary files left behind.
  int entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1);
}

TEST(TextFile, WriteKeepsModeAndWritesThroughLinks) {
  ScratchDir dir;
  const auto target = dir.Write("real.ini", "old");
  ::chmod(target.c_str(), 0640);
  std::filesystem::create_symlink(target, dir / "link.ini");
  WriteTextFile(dir / "link.ini", "new");
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.ini"));
  EXPECT_EQ(dir.Read("real.ini"), "new");
  struct stat st {};
  ::stat(target.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(TextFile, AppendLineCreatesAndAppends) {
  ScratchDir dir;
  const auto log = dir / "Send.log";
  AppendLine(log, "0; 12:00:00,000; Übertragung");
  AppendLine(log, "zwei\nZeilen");
  EXPECT_EQ(dir.Read("Send.log"),
            "0; 12:00:00,000; \xDC"
            "bertragung\r\nzwei\r\nZeilen\r\n");
}

TEST(TextFile, FailuresNameTheFileAndCarryVbNumbers) {
  ScratchDir dir;
  const auto missing = dir / "DAT" / "missing.txt";
  try {
    ReadText(missing);
    FAIL() << "no error";
  } catch (const HostError& e) {
    EXPECT_EQ(e.number(), err::kFileNotFound);
    EXPECT_NE(e.description().find(missing.string()), std::string::npos);
  }
  EXPECT_EQ(ErrorOf([&] { WriteTextFile(missing, "x"); }), err::kFileNotFound);
  EXPECT_EQ(ErrorOf([&] { AppendLine(missing, "x"); }), err::kFileNotFound);
  // A folder where a file is expected.
  std::filesystem::create_directory(dir / "folder");
  EXPECT_EQ(ErrorOf([&] { ReadText(dir / "folder"); }), err::kPathFileAccess);
  EXPECT_EQ(ErrorOf([&] { WriteTextFile(dir / "folder", "x"); }), err::kPathFileAccess);
  if (::geteuid() != 0) {
    const auto locked = dir.Write("locked.txt", "x");
    ::chmod(locked.c_str(), 0);
    EXPECT_EQ(ErrorOf([&] { ReadText(locked); }), err::kPathFileAccess);
  }
}

}  // namespace
}  // namespace fern
