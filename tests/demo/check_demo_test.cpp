// demo/check-demo after a real run from the demo host names exactly the portals not delivered.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "db/connection.h"
#include "demo/demo_host.h"
#include "host/host_database.h"
#include "platform/process.h"
#include "support/ftp_server.h"
#include "support/scratch_dir.h"

namespace fern {
namespace {

ProcessResult RunCaptured(const std::vector<std::string>& argv) {
  ProcessOptions options;
  options.captureStdout = options.captureStderr = true;
  options.timeout = std::chrono::seconds(60);
  return RunProcess(argv, options);
}

// The portals its last line names as not delivered.
std::set<std::string> NotDelivered(const std::string& out) {
  std::set<std::string> names;
  const std::string mark = "== not delivered: ";
  const size_t at = out.rfind(mark);
  if (at == std::string::npos) return names;
  std::istringstream list(out.substr(at + mark.size(), out.find('\n', at) - at - mark.size()));
  for (std::string name; std::getline(list, name, ',');)
    names.insert(name.substr(name.find_first_not_of(' ')));
  return names;
}

TEST(CheckDemo, NamesEachPortalWhoseDeliveryIsMissing) {
  testing::ScratchDir dir;
  const std::filesystem::path host = dir / "host";
  host::BuildDemoHost(host);
  std::filesystem::create_directories(host / "ftp-inbox" / "in");
  testing_servers::FtpServerOptions options;
  options.home = host / "ftp-inbox";
  options.user = "immo";
  options.password = "immo-demo";
  testing_servers::FtpServer ftp(options);
  host::DemoUploadServers servers;
  servers.ftpPort = ftp.port();
  ASSERT_EQ(host::AddDemoUploadPortals(host, servers), 1);
  host::CloseDatabases();

  // The failures by design run too: theirs are the only errors the check allows.
  const ProcessResult run =
      RunCaptured({"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", FERN_DISPATCHER_EXE, "/PATHKV",
                   host.string(), "/USERKV", "DEMO", "/PORTAL",
                   "ImmoPortal§Demo|ImmoPortal§FTP§Demo|Remax§Demo|IS24§XML§Demo"});
  ASSERT_EQ(run.exitCode, 1) << run.err;
  const std::string check = std::string(FERN_SOURCE_DIR) + "/demo/check-demo";
  ProcessResult checked;
  const auto notDelivered = [&] {
    checked = RunCaptured({check, host.string()});
    EXPECT_EQ(checked.exitCode, 1) << checked.out << checked.err;
    return NotDelivered(checked.out);
  };
  std::set<std::string> expected = {"Eigene Homepage", "Wohnen HTTP Demo", "ImmoPortal SFTP Demo",
                                    "ImmoPortal FTPS Demo", "ImmobilienScout24"};
  EXPECT_EQ(notDelivered(), expected) << checked.out;

  for (const auto& e : std::filesystem::directory_iterator(host / "ftp-inbox" / "in"))
    std::filesystem::remove(e.path());
  expected.insert("ImmoPortal FTP Demo");
  EXPECT_EQ(notDelivered(), expected) << checked.out;
  EXPECT_NE(checked.out.find("FAILED  ImmoPortal FTP Demo: 0 archives"), std::string::npos)
      << checked.out;

  // A listing of the portal without a network that carries an earlier run's time.
  db::Connection::Open((host / "DAT" / "kavantor.db").string())
      ->Execute(
          "UPDATE boersenobj SET letzte_uebertragung = '2026-01-02 03:04:05' WHERE "
          "boersen_dsn = '{DE000001-0000-4000-8000-000000000002}' AND "
          "obj_dsn = '{DE000002-0000-4000-8000-000000000003}'");
  expected.insert("ImmoPortal Demo");
  EXPECT_EQ(notDelivered(), expected) << checked.out;
  EXPECT_NE(checked.out.find("letzte_uebertragung: FB-1003"), std::string::npos) << checked.out;

  EXPECT_EQ(RunCaptured({check, (dir / "nothing").string()}).exitCode, 2);
}

}  // namespace
}  // namespace fern
