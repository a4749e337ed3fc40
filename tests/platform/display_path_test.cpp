#include "platform/display_path.h"

#include <gtest/gtest.h>

namespace fern {
namespace {

TEST(DisplayPath, LinuxPathsInTextsUseSlashes) {
  struct Case {
    const char *in, *out;
  };
  for (const Case& c : std::vector<Case>{
           {"/tmp\\TRANSFER\\openimmo\\a.xml", "/tmp/TRANSFER/openimmo/a.xml"},
           {"Programm '/srv/host\\system\\IS24XmlConverter.exe' fehlt",
            "Programm '/srv/host/system/IS24XmlConverter.exe' fehlt"},
           {"Datei \"/a\\b\"; Pfad (/c\\d), x=/e\\f", "Datei \"/a/b\"; Pfad (/c/d), x=/e/f"},
           {"C:\\Daten\\x.txt und /a\\b", "C:\\Daten\\x.txt und /a/b"},
           {"ftp://host/a\\b 10\\20 a/b\\c", "ftp://host/a\\b 10\\20 a/b\\c"},
           {"", ""}}) {
    EXPECT_EQ(WithPlatformSeparators(c.in), c.out);
  }
}

}  // namespace
}  // namespace fern
