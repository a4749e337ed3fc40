// The content languages of "sql\sql.ini": the README's example starts, a value that carries an
// inline comment or anything but language numbers stops the start before anything is sent.
#include "office_fixture.h"

namespace fern::testing {
namespace {

class SqlIniContentLanguages : public OfficeTest {
 protected:
  std::vector<std::string> Night() const {
    return {"/PATHKV", host().string(), "/USERKV", "DEMO", "/PORTAL", "ImmoPortal§Demo"};
  }
  void WriteSqlIni(const std::string& text) { dir.Write("host/sql/sql.ini", text); }
  static std::string WithLanguages(const std::string& line) {
    return "[SQLITE]\nDATABASE=DAT\\kavantor.db\n\n[OPTIONS]\n" + line + "\n";
  }
};

TEST_F(SqlIniContentLanguages, ReadmeExampleStartsAndAWrongValueStopsTheStart) {
  // The README's example as an office copies it.
  WriteSqlIni(Joined(ReadmeBlock("; the database")));
  ProcessResult readme = Program(Night());
  EXPECT_EQ(readme.exitCode, 0) << readme.err;
  EXPECT_EQ(RunLineErrors("ImmoPortal Demo|"), 0);

  for (const char* line : {"CONTENTLANGUAGES= 1031 , 2057 ", "; no key: 1031"}) {
    SCOPED_TRACE(line);
    WriteSqlIni(WithLanguages(line));
    ProcessResult r = Program(Night());
    EXPECT_EQ(r.exitCode, 0) << r.err;
  }

  const std::string lines = testing_files::ReadAll(host() / "DAT" / "Transfer.log");
  for (const char* value : {"1031,2057  ; the content languages; the first is the default",
                            "1031;2057", "1031,,2057", "de-DE", "0", ""}) {
    SCOPED_TRACE(value);
    WriteSqlIni(WithLanguages(std::string("CONTENTLANGUAGES=") + value));
    ProcessResult r = Program(Night());
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_NE(r.err.find("CONTENTLANGUAGES"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(std::string("\"") + value + "\""), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("sql.ini"), std::string::npos) << r.err;
  }
  // None of them began a run.
  EXPECT_EQ(testing_files::ReadAll(host() / "DAT" / "Transfer.log"), lines);
}

}  // namespace
}  // namespace fern::testing
