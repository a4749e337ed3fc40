#include "website/import_writer.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/host_error.h"
#include "platform/text_file.h"
#include "support/scratch_dir.h"

namespace fern::website {
namespace {

using fern::testing::ScratchDir;

int Statements(const std::filesystem::path& file) {
  const std::string text = ReadText(file);
  int n = 0;
  for (size_t at = text.find("mysqli_query($dbconnection, \"x"); at != std::string::npos;
       at = text.find("mysqli_query($dbconnection, \"x", at + 1))
    ++n;
  return n;
}

TEST(ImportScriptWriter, FilesCloseAtTheStatementOrSizeLimit) {
  const struct {
    std::string maxLines, maxBytes;
    int statements;
    size_t length;
    std::vector<int> perFile;
  } cases[] = {
      {"500", "200", 1200, 10, {500, 500, 200}},
      {"500", "1", 5, 560, {2, 2, 1}},  // lines of ~600 characters: the second crosses 1024
      {"0", "1", 3, 560, {2, 1}},       // no count limit
  };
  for (const auto& c : cases) {
    ScratchDir dir;
    ImportScriptWriter w;
    std::vector<std::string> opened;
    w.FileOpened = [&](const std::string& name) { opened.push_back(name); };
    w.SetFolder(dir.path());
    w.SetLimits(c.maxLines, c.maxBytes, "0");
    for (int i = 0; i < c.statements; ++i) w.WriteImportStatement("x" + std::string(c.length, 'y'));
    w.WriteImportStatement("   ");
    w.CreateImportFooter();
    ASSERT_EQ(w.FileNumber(), static_cast<int32_t>(c.perFile.size()));
    for (size_t f = 0; f < c.perFile.size(); ++f) {
      EXPECT_EQ(opened[f], "kvws_import" + std::to_string(f + 1) + ".php");
      EXPECT_EQ(Statements(dir / opened[f]), c.perFile[f]) << c.maxLines << "/" << c.maxBytes;
    }
  }
}

TEST(ImportScriptWriter, HeaderKeepsTheDebugLineNumbersTrue) {
  ScratchDir dir;
  ImportScriptWriter w;
  w.SetFolder(dir.path());
  w.SetLimits("500", "200", "1");
  w.WriteImportStatement("x say \"hi\"");
  w.WriteImportStatement("x2");
  w.CreateImportFooter();
  const std::string bytes = dir.Read("kvws_import1.php");
  EXPECT_EQ(bytes.find('\n'), bytes.find("\r\n") + 1);  // CR LF line ends
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = bytes.find("\r\n", start)) != std::string::npos;
       start = end + 2)
    lines.push_back(bytes.substr(start, end - start));
  ASSERT_EQ(lines.size(), 14u);
  EXPECT_EQ(lines[8],
            "mysqli_query($dbconnection, \"x say  hi \") or die(\"Error in script "
            "kvws_import1 at line: 9: \" . mysqli_error($dbconnection)); ");
  EXPECT_NE(lines[9].find("at line: 10"), std::string::npos);
  EXPECT_EQ(lines[11], "mysqli_close($dbconnection);");
  EXPECT_EQ(lines[13], "?>");
}

TEST(ImportScriptWriter, NothingWrittenOpensNoFileAndAFailedWriteIsAnError) {
  ScratchDir dir;
  ImportScriptWriter w;
  w.SetFolder(dir / "missing");
  w.CreateImportFooter();
  EXPECT_EQ(w.FileNumber(), 0);
  EXPECT_THROW(w.WriteImportStatement("x"), HostError);
}

}  // namespace
}  // namespace fern::website
