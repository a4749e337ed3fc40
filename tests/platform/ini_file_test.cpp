#include "platform/ini_file.h"

#include <gtest/gtest.h>

#include "platform/host_error.h"
#include "support/error_of.h"
#include "support/scratch_dir.h"

namespace fern {
namespace {

using testing::ErrorOf;
using testing::ScratchDir;

class IniTest : public ::testing::Test {
 protected:
  void SetUp() override { IniCacheReset(); }
  void TearDown() override { IniCacheReset(); }
  ScratchDir dir;
};

TEST_F(IniTest, LookupRules) {
  const auto ini = dir.Write("kv.ini",
                             "orphan=before any section\r\n[OPTIONS]\r\n"
                             "TransferPath = C:\\Temp\\Transfer  \r\nEmpty=\r\n; Commented=1\r\n"
                             "Dup=first\r\ndup=second\r\nQuoted=\"  spaced  \"\r\nHalf=\"open\r\n"
                             "noequals\r\n[options]\r\nLater=not seen\r\n"
                             "  [ Größen ]  \r\nÄNDERUNG=ja\r\n");
  // "Empty" is present with an empty value; only the first "[options]" section counts.
  struct Case {
    const char *section, *key, *expected;
  };
  for (const Case& c : std::vector<Case>{{"options", "TRANSFERPATH", "C:\\Temp\\Transfer"},
                                         {"OPTIONS", "Empty", ""},
                                         {"OPTIONS", "Missing", "def"},
                                         {"OPTIONS", "; Commented", "def"},
                                         {"OPTIONS", "Commented", "def"},
                                         {"OPTIONS", "DUP", "first"},
                                         {"OPTIONS", "Later", "def"},
                                         {"OPTIONS", "Quoted", "  spaced  "},
                                         {"OPTIONS", "Half", "\"open"},
                                         {"OPTIONS", "noequals", "def"},
                                         {"", "orphan", "def"},
                                         {"größen", "änderung", "ja"},
                                         {"Nope", "x", "def"}}) {
    EXPECT_EQ(IniGet(c.section, c.key, "def", ini), c.expected) << c.section << "/" << c.key;
  }
  EXPECT_EQ(IniGet("OPTIONS", "x", "def", dir / "missing.ini"), "def");
}

TEST_F(IniTest, EncodingsAreReadAndKept) {
  const auto ansi = dir.Write("ansi.ini", "[Firma]\r\nName=M\xFCller\r\n");
  const auto bom = dir.Write("bom.ini", "\xEF\xBB\xBF[Firma]\nName=Müller\n");
  EXPECT_EQ(IniGet("firma", "name", "", ansi), "Müller");
  EXPECT_EQ(IniGet("firma", "name", "", bom), "Müller");

  IniWrite("Firma", "Ort", "Köln", ansi);
  EXPECT_EQ(dir.Read("ansi.ini"), "[Firma]\r\nName=M\xFCller\r\nOrt=K\xF6ln\r\n");
  IniWrite("Firma", "Ort", "Köln", bom);
  EXPECT_EQ(dir.Read("bom.ini"), "\xEF\xBB\xBF[Firma]\r\nName=Müller\r\nOrt=Köln\r\n");

  // Windows writes "Unicode" INI files as UTF-16 with a mark; they are read and kept so.
  auto utf16 = [](std::u16string_view s, bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t c : s) {
      const char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
      bytes += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
    }
    return bytes;
  };
  for (bool bigEndian : {false, true}) {
    const auto wide = dir.Write(
        "wide.ini", utf16(u"[FTP]\r\nACTIVE_FTP=1\r\nName=M\u00fcller \U0001F3E0\r\n", bigEndian));
    IniCacheReset();
    EXPECT_EQ(IniGet("ftp", "active_ftp", "0", wide), "1") << bigEndian;
    EXPECT_EQ(IniGet("ftp", "name", "", wide), "Müller \U0001F3E0") << bigEndian;
    IniWrite("FTP", "Ort", "Köln", wide);
    EXPECT_EQ(dir.Read("wide.ini"),
              utf16(u"[FTP]\r\nACTIVE_FTP=1\r\nName=M\u00fcller \U0001F3E0\r\nOrt=K\u00f6ln\r\n",
                    bigEndian));
  }
}

TEST_F(IniTest, WriteChangesOnlyWhatItMust) {
  const auto ini = dir.Write("host.ini",
                             "; host settings\r\n[OPTIONS]\r\n  Alpha = 1\r\nBeta=2\r\n"
                             "beta=shadowed\r\n\r\n; the converter\r\n[IS24Converter]\r\n"
                             "Result=\r\n");
  IniWrite("options", "BETA", "22", ini);
  IniWrite("Options", "Gamma", "3", ini);
  IniWrite("is24converter", "Result", "OK", ini);
  IniWrite("Neu", "Key", "v", ini);
  EXPECT_EQ(dir.Read("host.ini"),
            "; host settings\r\n[OPTIONS]\r\n  Alpha = 1\r\nBeta=22\r\nbeta=shadowed\r\nGamma=3\r\n"
            "\r\n; the converter\r\n[IS24Converter]\r\nResult=OK\r\n\r\n[Neu]\r\nKey=v\r\n");
  IniWrite("OPTIONS", "Alpha", "", ini);
  EXPECT_EQ(IniGet("OPTIONS", "alpha", "def", ini), "");
  EXPECT_NE(dir.Read("host.ini").find("  Alpha = \r\n"), std::string::npos);
}

TEST_F(IniTest, WriteCreatesFileAndRefusesWhatWouldCorruptIt) {
  const auto ini = dir / "new.ini";
  IniWrite("Sektion", "Schlüssel", "Wert", ini);
  EXPECT_EQ(dir.Read("new.ini"), "[Sektion]\r\nSchl\xFCssel=Wert\r\n");

  auto number = [&](std::string_view s, std::string_view k, std::string_view v) {
    return ErrorOf([&] { IniWrite(s, k, v, ini); });
  };
  EXPECT_EQ(number("S", "K", "one\r\n[Evil]\r\nx=1"), err::kInvalidArgument);
  EXPECT_EQ(number("S", "a=b", "v"), err::kInvalidArgument);
  EXPECT_EQ(number("S]x", "k", "v"), err::kInvalidArgument);
  EXPECT_EQ(number("", "k", "v"), err::kInvalidArgument);
  EXPECT_EQ(number("S", " ", "v"), err::kInvalidArgument);
  EXPECT_EQ(number("S", "k", "v"), 0);
  EXPECT_EQ(dir.Read("new.ini"), "[Sektion]\r\nSchl\xFCssel=Wert\r\n\r\n[S]\r\nk=v\r\n");
  EXPECT_EQ(IniGet("s", "K", "", ini), "v");
  // The folder is not made.
  EXPECT_EQ(ErrorOf([&] { IniWrite("S", "k", "v", dir / "nofolder" / "x.ini"); }),
            err::kFileNotFound);
}

TEST_F(IniTest, CacheHoldsUntilResetAndWritesUpdateIt) {
  const auto ini = dir.Write("result.ini", "[Converter]\r\nResult=\r\n");
  EXPECT_EQ(IniGet("Converter", "Result", "def", ini), "");
  // An outside program writes the result: not seen before the reset.
  dir.Write("result.ini", "[Converter]\r\nResult=OK\r\n");
  EXPECT_EQ(IniGet("Converter", "Result", "def", ini), "");
  IniCacheReset();
  EXPECT_EQ(IniGet("Converter", "Result", "def", ini), "OK");

  // A file missing at first is cached as missing too.
  const auto later = dir / "later.ini";
  EXPECT_EQ(IniGet("A", "b", "def", later), "def");
  dir.Write("later.ini", "[A]\r\nb=1\r\n");
  EXPECT_EQ(IniGet("A", "b", "def", later), "def");
  IniCacheReset();
  EXPECT_EQ(IniGet("A", "b", "def", later), "1");

  // Our own write is seen at once, also under another spelling of the same path, and starts
  // from the disk, not from the stale cache.
  dir.Write("result.ini", "[Converter]\r\nResult=OK\r\nOther=x\r\n");
  IniWrite("Converter", "Result", "Done", ini);
  const auto sameFile = dir / "sub" / ".." / "result.ini";
  EXPECT_EQ(IniGet("Converter", "Result", "def", sameFile), "Done");
  EXPECT_EQ(IniGet("Converter", "Other", "def", ini), "x");
}

TEST_F(IniTest, WholeSectionFirstValuesInFileOrder) {
  const auto ini = dir.Write("zip.ini",
                             "[ZipTool]\r\nPath=/usr/bin/7za\r\nArgs=a -tzip\r\npath=ignored\r\n"
                             "; note\r\nEmpty=\r\n[Other]\r\nx=1\r\n");
  const auto keys = IniSection("ziptool", ini);
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[0], (std::pair<std::string, std::string>{"Path", "/usr/bin/7za"}));
  EXPECT_EQ(keys[1], (std::pair<std::string, std::string>{"Args", "a -tzip"}));
  EXPECT_EQ(keys[2], (std::pair<std::string, std::string>{"Empty", ""}));
  EXPECT_TRUE(IniSection("missing", ini).empty());
}

}  // namespace
}  // namespace fern
