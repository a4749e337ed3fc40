// An FTPS portal whose server accepts only TLS 1.3: the real program on a demo host delivers to
// it, zipped and file by file, and every file lies whole on the server's disk.
#include <filesystem>
#include <memory>
#include <string>

#include "office_fixture.h"
#include "platform/cp1252.h"
#include "platform/vb.h"
#include "support/ftp_server.h"

namespace fern::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPortal = "ImmoPortal Demo";

class FtpsTls13 : public OfficeTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    fs::create_directories(dir / "ftp" / "in");
    testing_servers::FtpServerOptions o;
    o.home = dir / "ftp";
    o.user = "immo";
    o.password = "immo-demo";
    o.tlsOnly = "1.3";
    o.log = dir / "server.log";
    ASSERT_TRUE(
        testing_servers::MakeSelfSignedCert(o.cert = dir / "cert.pem", o.key = dir / "key.pem"));
    server_ = std::make_unique<testing_servers::FtpServer>(o);
    Sql("UPDATE Boersen SET boersen_host = 'ftps://" + server_->host() +
        "/in', zipping = " + (GetParam() ? "1" : "0") + " WHERE boersen_name = '" + kPortal + "'");
  }
  std::string Log(const std::string& name) const {
    return cp1252::ToUtf8(testing_files::ReadAll(host() / "DAT" / name));
  }

  std::unique_ptr<testing_servers::FtpServer> server_;
};

TEST_P(FtpsTls13, TheServerGetsEveryFileWhole) {
  const ProcessResult run =
      Program({"/PATHKV", host().string(), "/USERKV", "DEMO", "/PORTAL", "ImmoPortal§Demo"});
  const std::string sent = Log("Send.log");
  EXPECT_EQ(run.exitCode, 0) << run.err << sent << Log("Error.log");
  EXPECT_NE(sent.find("DoUploadToFtpSByWinScp: Verbindung über TLS 1.3"), std::string::npos)
      << sent;
  // The document and its pictures, or the one archive.
  EXPECT_EQ(WholeFilesIn(dir / "ftp" / "in") > 1, !GetParam());
}

INSTANTIATE_TEST_SUITE_P(Zipping, FtpsTls13, ::testing::Bool(),
                         [](const auto& p) { return p.param ? "Zipped" : "FileByFile"; });

}  // namespace
}  // namespace fern::testing
