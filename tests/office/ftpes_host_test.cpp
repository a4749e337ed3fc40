// An OpenImmo portal whose host is "ftpes://host:port/folder": the real program on a demo host
// sends over explicit TLS, and a server without TLS never sees the password.
#include <filesystem>
#include <memory>
#include <string>

#include "core/startup.h"
#include "office_fixture.h"
#include "platform/cp1252.h"
#include "support/ftp_server.h"

namespace fern::testing {
namespace {

namespace fs = std::filesystem;

class FtpesHost : public OfficeTest {
 protected:
  // The portal "ImmoPortal Demo" on a pyftpdlib server, with explicit TLS required or without
  // any; the server's log names every command it received.
  void StartServer(bool tls) {
    fs::create_directories(dir / "ftp" / "in");
    testing_servers::FtpServerOptions o;
    o.home = dir / "ftp";
    o.user = "immo";
    o.password = "immo-demo";
    o.log = dir / "server.log";
    if (tls) {
      ASSERT_TRUE(
          testing_servers::MakeSelfSignedCert(o.cert = dir / "cert.pem", o.key = dir / "key.pem"));
    }
    server_ = std::make_unique<testing_servers::FtpServer>(o);
    Sql("UPDATE Boersen SET boersen_host = 'ftpes://" + server_->host() +
        "/in', zipping = 0 WHERE boersen_name = 'ImmoPortal Demo'");
  }
  ProcessResult RunPortal() {
    return Program({"/PATHKV", host().string(), "/USERKV", "DEMO", "/PORTAL", "ImmoPortal§Demo"});
  }
  std::string Log(const std::string& name) const {
    return cp1252::ToUtf8(testing_files::ReadAll(host() / "DAT" / name));
  }
  std::string ServerLog() const { return testing_files::ReadAll(dir / "server.log"); }

  std::unique_ptr<testing_servers::FtpServer> server_;
};

TEST_F(FtpesHost, EveryFileArrivesWholeAndThePasswordOnlyAfterAuthTls) {
  StartServer(true);
  const ProcessResult run = RunPortal();
  const std::string sent = Log("Send.log");
  EXPECT_EQ(run.exitCode, exitcode::kOk) << run.err << sent << Log("Error.log");
  EXPECT_NE(sent.find("DoUploadToFtpSByWinScp: Verbindung über TLS"), std::string::npos) << sent;
  const std::string commands = ServerLog();
  const size_t auth = commands.find("CMD AUTH");
  const size_t pass = commands.find("CMD PASS");
  EXPECT_NE(auth, std::string::npos) << commands;
  EXPECT_TRUE(pass != std::string::npos && pass > auth) << commands;
  EXPECT_GT(WholeFilesIn(dir / "ftp" / "in"), 1);  // the document and its pictures
}

TEST_F(FtpesHost, AServerWithoutTlsIsNamedAndNeverGetsThePassword) {
  StartServer(false);
  const ProcessResult run = RunPortal();
  const std::string errors = Log("Error.log");
  EXPECT_EQ(run.exitCode, exitcode::kErrors) << run.err << Log("Send.log");
  EXPECT_NE(errors.find(server_->host() + " bietet kein TLS an"), std::string::npos) << errors;
  const std::string commands = ServerLog();
  EXPECT_EQ(commands.find("CMD PASS"), std::string::npos) << commands;
  EXPECT_EQ(commands.find("CMD STOR"), std::string::npos) << commands;
  EXPECT_TRUE(fs::is_empty(dir / "ftp" / "in"));
}

}  // namespace
}  // namespace fern::testing
