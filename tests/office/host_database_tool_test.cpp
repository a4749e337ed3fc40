// The host database and the stock sqlite3 tool: the README's commands with the collation
// extension make a host database the program runs on, and query an existing one.
#include "office_fixture.h"
#include "platform/vb.h"

namespace fern::testing {
namespace {

class HostDatabaseTool : public OfficeTest {
 protected:
  // A README command with the installed places replaced by the build's.
  std::string Local(std::string command) const {
    command = vb::Replace(command, kInstalledExtensionDir, FERN_COLLATIONS_DIR);
    command = vb::Replace(command, kInstalledSchema, Schema());
    return vb::Replace(command, kReadmeHost, host().string());
  }
};

TEST_F(HostDatabaseTool, ReadmeCommandsMakeADatabaseTheNightRunWorksOn) {
  // The schema needs the collations: the stock tool alone refuses it.
  ProcessResult plain =
      Shell("sqlite3 -bail '" + (dir / "plain.db").string() + "' < '" + Schema() + "'");
  EXPECT_NE(plain.exitCode, 0);
  EXPECT_NE(plain.err.find("no such collation sequence: GUIDKEY"), std::string::npos) << plain.err;

  // The demo's rows move into a database that the README's command makes afresh.
  const std::filesystem::path demo = dir / "demo.db";
  std::filesystem::rename(Database(), demo);
  const auto commands = ReadmeBlocks("sqlite3 -cmd '.load ");
  ASSERT_EQ(commands.size(), 2u);
  ASSERT_EQ(commands[0].size(), 1u);
  ProcessResult made = Shell(Local(commands[0][0]));
  ASSERT_TRUE(made.Succeeded()) << commands[0][0] << "\n" << made.err;
  // In one transaction: a commit per row would take seconds.
  ProcessResult copied =
      Shell("{ echo 'BEGIN;'; sqlite3 -cmd '.load " + Extension() + "' '" + demo.string() +
            "' '.dump --data-only'; echo 'COMMIT;'; } | " + "sqlite3 -bail -cmd '.load " +
            Extension() + "' '" + Database().string() + "'");
  ASSERT_TRUE(copied.Succeeded()) << copied.err;

  ProcessResult run =
      Program({"/PATHKV", host().string(), "/USERKV", "demo", "/PORTAL", "ImmoPortal§Demo"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(RunLineErrors("ImmoPortal Demo|"), 0);

  // Text compares without regard to case and umlauts' case, keys without braces or case.
  EXPECT_NE(Sqlite("SELECT count(*) FROM boersenobj o JOIN Boersen b ON b.DSN = o.boersen_dsn "
                   "WHERE b.boersen_name = 'immoportal demo' AND o.letzte_uebertragung IS NOT "
                   "NULL"),
            "0\n");
  const std::string key = Sqlite("SELECT DSN FROM ben WHERE login_name = 'demo'");
  ASSERT_GT(key.size(), 3u);
  std::string bare;
  for (char c : key)
    if (c != '{' && c != '}' && c != '\n') bare += static_cast<char>(std::tolower(c));
  EXPECT_EQ(Sqlite("SELECT count(*) FROM ben WHERE DSN = '" + bare + "'"), "1\n");
  EXPECT_EQ(Sqlite("SELECT count(*) FROM ben WHERE login_name LIKE 'DE%'"), "1\n");

  // The README's query on the database the run wrote.
  ASSERT_EQ(commands[1].size(), 1u);
  ProcessResult query = Shell(Local(commands[1][0]));
  ASSERT_TRUE(query.Succeeded()) << query.err;
  EXPECT_NE(query.out.find("ImmoPortal Demo|5\n"), std::string::npos) << query.out;
}

}  // namespace
}  // namespace fern::testing
