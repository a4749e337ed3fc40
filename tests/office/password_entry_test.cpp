// Entering passwords: what the program stores is what the run deciphers, read from standard
// input only, and nothing is stored when the entry is not clear.
#include "db/connection.h"
#include "demo/demo_host.h"
#include "host/host_cipher.h"
#include "office_fixture.h"
#include "platform/vb.h"
#include "support/ftp_server.h"

namespace fern::testing {
namespace {

class PasswordEntry : public OfficeTest {
 protected:
  std::vector<std::string> Entry(const std::string& option, const std::string& name) {
    return {"/PATHKV", host().string(), option, name};
  }
  // The stored text of a column in the row whose name column holds `name`.
  std::string Stored(const std::string& table, const std::string& nameColumn,
                     const std::string& column, const std::string& name) {
    auto conn = db::Connection::Open(Database().string());
    auto rs = conn->Query("SELECT COALESCE(" + column + ", '') FROM " + table + " WHERE " +
                          nameColumn + " = '" + name + "'");
    return rs->Eof() ? std::string("<no row>") : vb::CStr(rs->Value(size_t{0}));
  }
  std::string PortalPassword(const std::string& portal) {
    return Stored("Boersen", "boersen_name", "PASSWORD", portal);
  }
};

TEST_F(PasswordEntry, StoredPortalPasswordLogsInAtTheFtpServer) {
  const std::string password = "Neu geheim-ä7";
  std::filesystem::create_directories(dir / "ftp" / "in");
  testing_servers::FtpServerOptions options;
  options.home = dir / "ftp";
  options.user = "immo";
  options.password = password;
  testing_servers::FtpServer server(options);
  host::DemoUploadServers servers;
  servers.ftpPort = server.port();
  ASSERT_EQ(host::AddDemoUploadPortals(host(), servers), 1);
  const std::vector<std::string> night{"/PATHKV", host().string(), "/USERKV",
                                       "DEMO",    "/PORTAL",       "ImmoPortal§FTP§Demo"};

  // The portal's stored password is an old one: the server refuses the login.
  ProcessResult refused = Program(night);
  EXPECT_EQ(refused.exitCode, 1) << refused.err;
  EXPECT_TRUE(std::filesystem::is_empty(dir / "ftp" / "in"));

  ProcessResult entered = Program(Entry("/SETPASSWORD", "immoportal ftp demo"), password + "\n");
  ASSERT_EQ(entered.exitCode, 0) << entered.err;
  EXPECT_EQ(entered.err.find(password), std::string::npos) << entered.err;

  ProcessResult sent = Program(night);
  EXPECT_EQ(sent.exitCode, 0) << sent.err << testing_files::ReadAll(host() / "DAT" / "Error.log");
  EXPECT_EQ(RunLineErrors("ImmoPortal FTP Demo|"), 0);
  ASSERT_FALSE(std::filesystem::is_empty(dir / "ftp" / "in"));
  const auto arrived = std::filesystem::directory_iterator(dir / "ftp" / "in")->path();
  EXPECT_EQ(arrived.extension(), ".zip");
  EXPECT_GT(std::filesystem::file_size(arrived), 0u);
}

TEST_F(PasswordEntry, EachKindIsStoredWithTheKeyItsReaderUses) {
  ProcessResult webdb =
      Program(Entry("/SETWEBDBPASSWORD", "Eigene§Homepage"), "db-neu\r\nzweite Zeile\n");
  ASSERT_EQ(webdb.exitCode, 0) << webdb.err;
  EXPECT_EQ(host::Decipher(Stored("Boersen", "boersen_name", "webdb_password", "Eigene Homepage"),
                           host::kPortalPasswordKey),
            "db-neu");

  ProcessResult user = Program(Entry("/SETUSERPASSWORD", "demo"), "Anmeldung!1");
  ASSERT_EQ(user.exitCode, 0) << user.err;
  EXPECT_EQ(host::Decipher(Stored("ben", "login_name", "PASSWORT", "DEMO"), host::kUserPasswordKey),
            "Anmeldung!1");
}

TEST_F(PasswordEntry, UnclearEntriesStoreNothing) {
  const std::string before = PortalPassword("ImmoPortal Demo");
  Sql("INSERT INTO Boersen (DSN, boersen_name, boersentyp) VALUES "
      "('{DE000001-0000-4000-8000-0000000000F1}', 'Zweimal', 5), "
      "('{DE000001-0000-4000-8000-0000000000F2}', 'zweimal', 5)");
  Sql("UPDATE ben SET aktiv = 0 WHERE login_name = 'DEMO'");
  struct Case {
    std::vector<std::string> args;
    std::optional<std::string> input;
    const char* says;
  };
  const std::vector<Case> cases = {
      {Entry("/SETPASSWORD", "Niemand"), "x\n", "NIEMAND"},
      {Entry("/SETPASSWORD", "zweimal"), "x\n", "mehrdeutig"},
      {Entry("/SETUSERPASSWORD", "DEMO"), "x\n", "nicht aktiv"},
      {Entry("/SETPASSWORD", "ImmoPortal§Demo"), std::nullopt, "Kein Kennwort"},
      {Entry("/SETPASSWORD", "ImmoPortal§Demo"), "\n", "leer"},
      {Entry("/SETPASSWORD", "ImmoPortal§Demo"), std::string("a\tb\n"), "Steuerzeichen"},
      {{"/PATHKV", host().string(), "/SETPASSWORD", "ImmoPortal§Demo", "/SETWEBDBPASSWORD",
        "ImmoPortal§Demo"},
       "x\n",
       "nur eine"},
      {{"/PATHKV", host().string(), "/SETPASSWORD"}, "x\n", "fehlt der Name"},
      {{"/PATHKV", (dir / "kein-host").string(), "/SETPASSWORD", "ImmoPortal§Demo"},
       "x\n",
       "nicht gefunden"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    ProcessResult r = Program(c.args, c.input);
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
  EXPECT_EQ(PortalPassword("ImmoPortal Demo"), before);
  EXPECT_EQ(Stored("Boersen", "DSN", "PASSWORD", "{DE000001-0000-4000-8000-0000000000F1}"), "");
}

// On a terminal the password is asked twice and never shown.
TEST_F(PasswordEntry, TerminalAsksTwiceWithoutEcho) {
  // Types the given lines into the program on a pseudo-terminal and prints all it showed.
  static constexpr const char* kTerminal = R"PY(
import os, pty, sys, time
pid, fd = pty.fork()
if pid == 0:
    os.execv(sys.argv[1], sys.argv[1:sys.argv.index('--')])
shown = b''
def read_until(marker, seconds=20):
    global shown
    end = time.time() + seconds
    while marker not in shown and time.time() < end:
        try:
            chunk = os.read(fd, 4096)
        except OSError:
            return
        if not chunk:
            return
        shown += chunk
for line in sys.argv[sys.argv.index('--') + 1:]:
    read_until(b': ')
    shown_before = len(shown)
    time.sleep(0.1)
    os.write(fd, line.encode() + b'\r')
    read_until(b'\n')
    shown = shown[:shown_before] + b'<' + shown[shown_before:]
read_until(b'gespeichert', 5)
_, status = os.waitpid(pid, 0)
sys.stdout.buffer.write(shown)
sys.exit(os.waitstatus_to_exitcode(status))
)PY";
  const std::vector<std::string> entry = {"/PATHKV", host().string(), "/SETUSERPASSWORD", "DEMO"};
  auto typed = [&](std::vector<std::string> lines) {
    std::vector<std::string> argv{"/usr/bin/python3", "-c", kTerminal, FERN_DISPATCHER_EXE};
    argv.insert(argv.end(), entry.begin(), entry.end());
    argv.push_back("--");
    argv.insert(argv.end(), lines.begin(), lines.end());
    return Run(argv);
  };
  const std::string stored = Stored("ben", "login_name", "PASSWORT", "DEMO");

  ProcessResult differ = typed({"Erste-Eingabe", "Zweite-Eingabe"});
  EXPECT_EQ(differ.exitCode, 2) << differ.out;
  EXPECT_NE(differ.out.find("verschieden"), std::string::npos) << differ.out;
  EXPECT_EQ(Stored("ben", "login_name", "PASSWORT", "DEMO"), stored);

  ProcessResult same = typed({"Still-und-leise", "Still-und-leise"});
  EXPECT_EQ(same.exitCode, 0) << same.out;
  EXPECT_NE(same.out.find("wiederholen"), std::string::npos) << same.out;
  EXPECT_EQ(same.out.find("Still-und-leise"), std::string::npos) << same.out;
  EXPECT_EQ(host::Decipher(Stored("ben", "login_name", "PASSWORT", "DEMO"), host::kUserPasswordKey),
            "Still-und-leise");
}

}  // namespace
}  // namespace fern::testing
