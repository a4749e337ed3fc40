#include "services/cWinINetV2.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "services/ftp_fixture.h"
#include "services/transfer_events.h"
#include "support/ftp_server.h"
#include "support/test_files.h"
#include "support/vsftpd_server.h"

namespace fern {
namespace {

using testing_events::EventLog;
using testing_files::FilesBelow;
using testing_files::RandomBytes;
using testing_files::ReadAll;
using testing_files::WriteAll;
using testing_servers::FtpServer;
using testing_servers::FtpServerOptions;

// The port rides in the proxy text, as the passive layer reads it.
std::string PortProxy(const FtpServer& server) { return ":" + std::to_string(server.port()); }

class PassiveFtp : public testing_servers::FtpFolders<> {
 protected:
  PassiveFtp() {
    ShortLimits(ftp_.Limits());
    log_.Attach(ftp_);
  }
  bool Send(const FtpServer& server, const std::string& remote, const std::string& extensions,
            const std::string& host = "127.0.0.1", const std::string& password = "s3cret-pw",
            bool strict = true) {
    return ftp_.PassiveFtpTransfer(host, "fern", password, local_.string(), remote, extensions,
                                   strict, PortProxy(server));
  }
  // A server that takes files over protected data channels only; false without openssl.
  bool TlsOptions(FtpServerOptions& o) {
    o = Options();
    o.cert = root_ / "cert.pem";
    o.key = root_ / "key.pem";
    return testing_servers::MakeSelfSignedCert(o.cert, o.key);
  }

  cWinINetV2 ftp_;
  EventLog log_;
};

TEST(WinINetParts, ProxyTextAndTransferType) {
  EXPECT_EQ(cWinINetV2::GetHostPart("proxy.example:8021", ""), "proxy.example");
  EXPECT_EQ(cWinINetV2::GetPortPart("proxy.example:8021", 21), 8021);
  EXPECT_EQ(cWinINetV2::GetHostPart("", ""), "");
  EXPECT_EQ(cWinINetV2::GetPortPart("", 21), 21);
  EXPECT_EQ(cWinINetV2::GetPortPart(" name: ", 21), 21);
  EXPECT_EQ(cWinINetV2::GetHostPart(" :2121", "none"), "none");
  EXPECT_EQ(cWinINetV2::GetHostPart(" plain ", ""), "plain");

  const std::pair<const char*, int> types[] = {{"a/b.php", 0},  {"a/b.txt", 1}, {"a/b.CSV", 1},
                                               {"a/b.php4", 1}, {"a/b.jpg", 2}, {"a/b.Gif", 2},
                                               {"a/b", 0}};
  for (const auto& [path, type] : types) EXPECT_EQ(cWinINetV2::TransferType(path), type) << path;
}

TEST(WinINetParts, ErrorTableHoldsTheFiftyNineNumbers) {
  cWinINetV2 w;
  int rows = 0;
  for (int32_t code = 12000; code <= 12200; ++code) {
    const std::string text = w.GetWinINetErrorText(code);
    if (text.empty()) continue;
    ++rows;
    EXPECT_NE(text.find("(ERROR_"), std::string::npos) << code;
  }
  EXPECT_EQ(rows, 59);
  EXPECT_EQ(w.GetWinINetErrorText(12034), "");
  EXPECT_EQ(w.GetWinINetErrorText(12111),
            "Der FTP-Vorgang konnte nicht abgeschlossen werden, da die Sitzung beendet wurde "
            "(ERROR_FTP_DROPPED).");
}

TEST_F(PassiveFtp, NothingToSendIsNoSuccess) {
  WriteAll(local_ / "photo.jpg", "J");
  FtpServer server(Options());
  EXPECT_FALSE(Send(server, "", "BIG"));
  EXPECT_TRUE(FilesBelow(home_).empty());
}

TEST_F(PassiveFtp, WrongPasswordIsReportedWithoutThePassword) {
  WriteAll(local_ / "a.big", "A");
  FtpServer server(Options());
  for (const bool strict : {true, false}) {
    log_.events.clear();
    EXPECT_FALSE(Send(server, "", "", "127.0.0.1", "wrong-password", strict));
    const int16_t state = strict ? 102 : -1;
    EXPECT_TRUE(log_.Has(strict, state, ">>>> Fehler:12014 ")) << log_.Dump();
    EXPECT_TRUE(log_.Has(strict, state, "bei Verbindungsaufbau zu 127.0.0.1")) << log_.Dump();
    EXPECT_FALSE(log_.Mentions("wrong-password")) << log_.Dump();
  }
  EXPECT_TRUE(FilesBelow(home_).empty());
}

TEST_F(PassiveFtp, SingleCommandsAndTheAccessTest) {
  WriteAll(local_ / "one file.big", "12345");
  FtpServer server(Options());
  const Variant put =
      ftp_.FtpCommand(server.host(), "fern", "s3cret-pw",
                      "PUT " + (local_ / "one file.big").string() + " put.big", true, "");
  EXPECT_TRUE(put.type() == VType::Boolean && put.boolVal());
  EXPECT_EQ(ReadAll(home_ / "put.big"), "12345");

  // Advice only on failure.
  EXPECT_EQ(ftp_.TestFtpZugang("127.0.0.1", "fern", "s3cret-pw", PortProxy(server)), "");
  const std::string advice = ftp_.TestFtpZugang("127.0.0.1", "fern", "nope", PortProxy(server));
  EXPECT_EQ(advice.rfind("\r\nBitte überprüfen Sie die Schreibweise", 0), 0u) << advice;
}

// The lines of a listing text (each entry begins with CR LF), in any order.
std::set<std::string> Entries(const std::string& listing) {
  std::set<std::string> out;
  for (size_t at = listing.find("\r\n"); at != std::string::npos;) {
    const size_t next = listing.find("\r\n", at + 2);
    out.insert(listing.substr(at + 2, next - at - 2));
    at = next;
  }
  return out;
}

// A "DIR" on a server that doesn't know MLSD: NLST's bare names, or LIST's lines where NLST is
// refused too; folders are left out only where the answer tells them apart.
TEST_F(PassiveFtp, DirOnAServerWithoutMlsdFallsBackToNlstAndThenList) {
  WriteAll(home_ / "up" / "a b.big", "1");
  WriteAll(home_ / "up" / "c.big", "2");
  WriteAll(home_ / "up" / "c.php", "3");
  std::filesystem::create_directories(home_ / "up" / "sub.big");
  const struct {
    const char* refused;
    std::set<std::string> entries;  // the name and the empty date
  } cases[] = {
      {"", {"a b.big ", "c.big ", "sub.big "}},
      {"NLST", {"a b.big ", "c.big "}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.refused);
    std::vector<std::string> extra;
    if (*c.refused) extra.push_back(std::string("cmds_denied=") + c.refused);
    testing_servers::Vsftpd server({home_, root_ / ("vsftpd" + std::string(c.refused)), extra});
    log_.events.clear();
    const Variant dir = ftp_.FtpCommand(server.host(), testing_servers::Vsftpd::kUser, "x",
                                        "DIR up/*.big", true, "");
    ASSERT_TRUE(dir.IsString()) << log_.Dump();
    EXPECT_EQ(Entries(dir.str()), c.entries) << dir.str();
    EXPECT_FALSE(log_.Mentions("Fehler")) << log_.Dump();
    EXPECT_NE(server.Commands("MLSD"), "");
  }
  // Refused by every command: one error, for the listing.
  testing_servers::Vsftpd none({home_, root_ / "vsftpd-none", {"dirlist_enable=NO"}});
  log_.events.clear();
  ftp_.FtpCommand(none.host(), testing_servers::Vsftpd::kUser, "x", "DIR up/*", true, "");
  EXPECT_TRUE(log_.Has(true, 102, "bei DIR up/*")) << log_.Dump();
  EXPECT_NE(none.Commands("LIST"), "");
}

TEST_F(PassiveFtp, ExplicitTlsLoginNeedsATrustedCertificate) {
  FtpServerOptions o;
  if (!TlsOptions(o)) GTEST_SKIP() << "openssl not available";
  FtpServer server(o);
  const std::string proxy = PortProxy(server);
  for (const char* host : {"127.0.0.1", "ftpes://127.0.0.1"}) {
    cWinINetV2 untrusted;
    ShortLimits(untrusted.Limits());
    EXPECT_NE(untrusted.TestFtpZugang(host, "fern", "s3cret-pw", proxy), "") << host;
  }
  ftp_.Limits().caFile = o.cert.string();
  EXPECT_EQ(ftp_.TestFtpZugang("ftpes://127.0.0.1", "fern", "s3cret-pw", proxy), "");
}

TEST_F(PassiveFtp, ExplicitTlsUploadsTheFolderOverProtectedDataChannels) {
  FtpServerOptions o;
  if (!TlsOptions(o)) GTEST_SKIP() << "openssl not available";
  WriteAll(local_ / "data_1.big", RandomBytes(120000, 5));
  WriteAll(local_ / "sub" / "x.big", RandomBytes(700, 6));
  WriteAll(local_ / "sub" / "skip.txt", "not sent");
  FtpServer server(o);
  // What arrives came over TLS: the server takes nothing else.
  ftp_.Limits().caFile = o.cert.string();
  ASSERT_TRUE(Send(server, "up", "BIG", "ftpes://127.0.0.1"))
      << log_.Dump() << ReadAll(root_ / "server.log");
  EXPECT_EQ(FilesBelow(home_), (std::set<std::string>{"up/data_1.big", "up/sub/x.big"}));
  EXPECT_EQ(ReadAll(home_ / "up" / "data_1.big"), ReadAll(local_ / "data_1.big"));
}

}  // namespace
}  // namespace fern
