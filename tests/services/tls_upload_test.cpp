// Uploads over FTP with TLS against a strict server (Debian's vsftpd) and a lenient one
// (pyftpdlib): many files of about 300 KB over one connection, on every road that speaks FTP
// over TLS, each file compared byte for byte with what the server keeps.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <tuple>

#include "core/state_events.h"
#include "host/cUtil.h"
#include "platform/host_error.h"
#include "services/cFTPTransferV2.h"
#include "services/ftp_fixture.h"
#include "services/portal_upload.h"
#include "support/child_process.h"
#include "support/ftp_server.h"
#include "support/scratch_dir.h"
#include "support/test_files.h"
#include "support/vsftpd_server.h"

namespace fern {
namespace {

namespace fs = std::filesystem;
using testing_files::RandomBytes;
using testing_files::ReadAll;
using testing_files::WriteAll;
using testing_servers::FtpServer;
using testing_servers::FtpServerOptions;
using testing_servers::Vsftpd;

constexpr int kFiles = 12;

enum class Server { kVsftpd, kVsftpdImplicit, kPyftpdlib };
// The FTPS road (also SFTP with useTls), and the transfer layer's passive and active mode (the
// latter stays passive under TLS where libcurl can't protect an active data connection).
enum class Road { kFtps, kPassive, kActive };

std::string NameOf(Server s) {
  return s == Server::kVsftpd           ? "Vsftpd"
         : s == Server::kVsftpdImplicit ? "VsftpdImplicit"
                                        : "Pyftpdlib";
}
std::string NameOf(Road road) {
  return road == Road::kFtps ? "Ftps" : road == Road::kPassive ? "Passive" : "Active";
}

class TlsUpload
    : public testing_servers::FtpFolders<::testing::TestWithParam<std::tuple<Server, Road>>> {
 protected:
  void SetUp() override {
    FtpFolders::SetUp();
    cert_ = root_ / "cert.pem";
    key_ = root_ / "key.pem";
    ASSERT_TRUE(testing_servers::MakeSelfSignedCert(cert_, key_));
    events_.WorkState = [this](int16_t s, const std::string& t) {
      lines_ += std::to_string(s) + " " + t + "\n";
    };
  }

  // Starts the server of the test's parameter on home_ (pyftpdlib with `o`), with the login it
  // takes. Both read a little behind the client, so they still hold data when it closes.
  void StartServer(FtpServerOptions o) {
    if (std::get<0>(GetParam()) != Server::kPyftpdlib) {
      vsftpd_ = std::make_unique<Vsftpd>(testing_servers::VsftpdOptions{
          home_, root_ / "vsftpd", {"anon_max_rate=4000000"}, cert_, key_, Implicit()});
      port_ = vsftpd_->port();
      user_ = Vsftpd::kUser;
      password_ = "x";
      return;
    }
    o.cert = cert_;
    o.key = key_;
    o.slowRead = 0.002;
    pyftpd_ = std::make_unique<FtpServer>(o);
    port_ = pyftpd_->port();
    user_ = o.user;
    password_ = o.password;
  }

  bool Implicit() const { return std::get<0>(GetParam()) == Server::kVsftpdImplicit; }

  // home_/in as every road names it: vsftpd runs without chroot here, its paths are the real ones.
  std::string Remote() const { return vsftpd_ ? (home_ / "in").string() : "/in"; }

  // Sends every "*.jpg" of local_ into home_/in on the road of the test's parameter; the error of a
  // failed attempt, "" after success.
  std::string Send() {
    try {
      switch (std::get<1>(GetParam())) {
        case Road::kFtps: {
          services::UploadRouteSettings settings;
          settings.hostFolder = root_.string();
          ShortLimits(settings.limits);
          services::UploadRoutes routes(settings, nullptr, events_);
          const services::UploadTarget target{.server = "127.0.0.1:" + std::to_string(port_),
                                              .folder = Remote(),
                                              .user = user_,
                                              .password = password_,
                                              .options = Implicit() ? "-implicit" : ""};
          return routes.Ftps(target, local_.string(), "jpg") ? "" : "no success";
        }
        case Road::kPassive:
        case Road::kActive: {
          const bool active = std::get<1>(GetParam()) == Road::kActive;
          const fs::path host = root_ / "host";
          WriteAll(host / "kavantor.ini", active ? "[FTP]\r\nACTIVE_FTP=1\r\n" : "");
          cUtil util;
          TransferHost th;
          th.Util = &util;
          th.Folder = host.string();
          cFTPTransferV2 ftp;
          ftp.Init("", th);
          ShortLimits(ftp.Limits());
          ftp.Limits().caFile = cert_.string();
          ftp.WorkState = events_.WorkState;
          ftp.InternalState = events_.WorkState;
          // Passive mode takes the port from the proxy text, active mode from the host text.
          const std::string scheme = Implicit() ? "ftps://" : "ftpes://";
          const std::string hostText =
              scheme + "127.0.0.1" + (active ? ":" + std::to_string(port_) : "");
          const std::string proxy = active ? "" : ":" + std::to_string(port_);
          return ftp.FtpSendFolder(hostText, user_, password_, local_.string(), Remote(), "JPG",
                                   proxy, false)
                     ? ""
                     : "no success";
        }
      }
    } catch (const HostError& e) {
      return e.description();
    }
    return "unknown road";
  }

  // How many of the local files the server holds whole.
  int WholeOnServer() const {
    int whole = 0;
    for (const auto& e : fs::directory_iterator(local_))
      whole += ReadAll(home_ / "in" / e.path().filename()) == ReadAll(e.path());
    return whole;
  }

  // The server's files with their sizes, and its log.
  std::string ServerLog() const {
    std::string files;
    for (const std::string& f : testing_files::FilesBelow(home_))
      files += f + " " + std::to_string(fs::file_size(home_ / f)) + "\n";
    return files + (vsftpd_ ? vsftpd_->Log() : ReadAll(root_ / "server.log"));
  }

  fs::path cert_, key_;
  std::unique_ptr<Vsftpd> vsftpd_;
  std::unique_ptr<FtpServer> pyftpd_;
  int port_ = 0;
  std::string user_, password_;
  StateEvents events_;
  std::string lines_;
};

TEST_P(TlsUpload, ManyFilesOverOneConnectionArriveWhole) {
  for (int k = 0; k < kFiles; ++k)
    WriteAll(local_ / ("pic_" + std::to_string(k) + ".jpg"),
             RandomBytes(300000 + 1000 * static_cast<size_t>(k), static_cast<unsigned>(k) + 1));
  StartServer(Options());
  const std::string error = Send();
  EXPECT_EQ(error, "") << lines_;
  EXPECT_EQ(WholeOnServer(), kFiles) << error << lines_ << ServerLog();
}

INSTANTIATE_TEST_SUITE_P(
    Roads, TlsUpload,
    ::testing::Combine(::testing::Values(Server::kVsftpd, Server::kVsftpdImplicit,
                                         Server::kPyftpdlib),
                       ::testing::Values(Road::kFtps, Road::kPassive, Road::kActive)),
    [](const auto& p) { return NameOf(std::get<0>(p.param)) + NameOf(std::get<1>(p.param)); });

// The server's SIZE after each upload, on every road: pyftpdlib keeps half of the first "cut"
// file and answers 226 all the same.
class SizeCheck : public TlsUpload {};

TEST_P(SizeCheck, AFileTheServerHoldsOnlyInPartFailsTheUploadAndGoes) {
  const std::string whole = RandomBytes(300000, 7);
  WriteAll(local_ / "cut.jpg", whole);
  // Also where the file's time is refused after the SIZE.
  for (const char* perm : {"", "elradfmwM"}) {
    SCOPED_TRACE(perm);
    fs::remove_all(home_ / "in");
    lines_.clear();
    FtpServerOptions o = Options();
    o.cutOnce = true;
    o.perm = perm;
    StartServer(o);
    const std::string error = Send();
    if (std::get<1>(GetParam()) == Road::kFtps) {
      EXPECT_NE(error.find("The server holds 150000 of the 300000 bytes sent of 'cut.jpg'"),
                std::string::npos)
          << error;
      EXPECT_NE(lines_.find("Unvollständige Datei /in/cut.jpg auf dem Server gelöscht"),
                std::string::npos)
          << lines_;
    } else {
      EXPECT_NE(error, "");
      // Named with its figures, not as a dropped session.
      EXPECT_NE(lines_.find("The server holds 150000 of the 300000 bytes sent of '"),
                std::string::npos)
          << lines_;
      EXPECT_EQ(lines_.find("12111"), std::string::npos) << lines_;
    }
    EXPECT_FALSE(fs::exists(home_ / "in" / "cut.jpg"));
    // The caller's next attempt delivers it.
    EXPECT_EQ(Send(), "");
    EXPECT_EQ(ReadAll(home_ / "in" / "cut.jpg"), whole);
  }
}

TEST_P(SizeCheck, AServerWithoutSizeStillGetsItsUploadsCounted) {
  WriteAll(local_ / "a.jpg", RandomBytes(300000, 8));
  FtpServerOptions o = Options();
  o.noSize = true;
  StartServer(o);
  EXPECT_EQ(Send(), "");
  EXPECT_EQ(WholeOnServer(), 1);
  // Asked and refused.
  EXPECT_NE(ReadAll(root_ / "server.log").find("CMD SIZE"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Pyftpdlib, SizeCheck,
                         ::testing::Combine(::testing::Values(Server::kPyftpdlib),
                                            ::testing::Values(Road::kFtps, Road::kPassive,
                                                              Road::kActive)),
                         [](const auto& p) { return NameOf(std::get<1>(p.param)); });

// A server that takes only TLS 1.3 is asked again with 1.3 allowed, on every road. There a file
// whose size the server does not confirm is not delivered; a server that takes neither version
// gets an error that names both.
class OnlyTls : public TlsUpload {};

TEST_P(OnlyTls, Tls13AloneDeliversWholeFilesAndAnUnconfirmedSizeFails) {
  for (int k = 0; k < 4; ++k)
    WriteAll(local_ / ("pic_" + std::to_string(k) + ".jpg"),
             RandomBytes(300000, static_cast<unsigned>(k) + 20));
  FtpServerOptions o = Options();
  o.tlsOnly = "1.3";
  StartServer(o);
  EXPECT_EQ(Send(), "") << lines_;
  EXPECT_EQ(WholeOnServer(), 4) << lines_ << ServerLog();

  pyftpd_.reset();
  fs::remove_all(home_ / "in");
  lines_.clear();
  o.noSize = true;
  StartServer(o);
  const std::string error = Send();
  if (std::get<1>(GetParam()) == Road::kFtps)
    EXPECT_NE(error.find("The server did not confirm the size of 'pic_0.jpg' (300000 bytes sent "
                         "over TLS 1.3): not known to be whole"),
              std::string::npos)
        << error;
  else
    EXPECT_NE(lines_.find("not known to be whole"), std::string::npos) << lines_;
  EXPECT_NE(error, "");
  EXPECT_EQ(lines_.find("Fertig mit Übertragung von Datei"), std::string::npos) << lines_;
}

TEST_P(OnlyTls, AServerTakingNeitherVersionGetsAnErrorNamingBoth) {
  WriteAll(local_ / "a.jpg", RandomBytes(1000, 9));
  FtpServerOptions o = Options();
  o.tlsOnly = "1.1";
  StartServer(o);
  const std::string error = Send();
  const std::string said = std::get<1>(GetParam()) == Road::kFtps ? error : lines_;
  EXPECT_NE(said.find("(tried TLS 1.2, then TLS 1.3)"), std::string::npos) << error << lines_;
  EXPECT_NE(error, "");
}

INSTANTIATE_TEST_SUITE_P(Pyftpdlib, OnlyTls,
                         ::testing::Combine(::testing::Values(Server::kPyftpdlib),
                                            ::testing::Values(Road::kFtps, Road::kPassive,
                                                              Road::kActive)),
                         [](const auto& p) { return NameOf(std::get<1>(p.param)); });

// Only FTP is held at TLS 1.2: HTTPS (the REST service, the web site's pages) still gets 1.3.
TEST(TlsVersion, HttpsStillNegotiatesTls13) {
  const fern::testing::ScratchDir dir;
  const fs::path cert = dir.path() / "cert.pem", key = dir.path() / "key.pem";
  ASSERT_TRUE(testing_servers::MakeSelfSignedCert(cert, key));
  const int port = testing_servers::SshdServer::FreePort();
  // Its page names the protocol of the connection it came over.
  pid_t pid = fern::testing::SpawnInGroup({"openssl", "s_server", "-accept", std::to_string(port),
                                           "-www", "-cert", cert.string(), "-key", key.string()},
                                          {}, {}, dir.path() / "s_server.out");
  services::CurlSession session;
  session.limits.caFile = cert.string();
  services::HttpReply reply;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    reply = session.Get("https://127.0.0.1:" + std::to_string(port) + "/", 5);
    if (reply.result.ok() || std::chrono::steady_clock::now() >= end) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // not yet listening
  }
  fern::testing::StopChildGroup(pid);
  EXPECT_NE(reply.body.find("Protocol  : TLSv1.3"), std::string::npos)
      << reply.result.message << reply.body;
}

}  // namespace
}  // namespace fern
