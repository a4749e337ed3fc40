#include "services/cWinINetV2.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "platform/waits.h"
#include "services/ftp_fixture.h"
#include "services/ftp_server.h"
#include "services/test_files.h"
#include "services/transfer_events.h"

namespace fern {
namespace {

namespace fs = std::filesystem;
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
  PassiveFtp() : FtpFolders("fern_wininet") {}
  static void ShortLimits(cWinINetV2& ftp) { FtpFolders::ShortLimits(ftp.Limits()); }
};

TEST(WinINetParts, ProxyTextGivesProxyNameAndPort) {
  EXPECT_EQ(cWinINetV2::GetHostPart("proxy.example:8021", ""), "proxy.example");
  EXPECT_EQ(cWinINetV2::GetPortPart("proxy.example:8021", 21), 8021);
  EXPECT_EQ(cWinINetV2::GetHostPart("", ""), "");
  EXPECT_EQ(cWinINetV2::GetPortPart("", 21), 21);
  EXPECT_EQ(cWinINetV2::GetPortPart(" name: ", 21), 21);
  EXPECT_EQ(cWinINetV2::GetHostPart(" :2121", "none"), "none");
  EXPECT_EQ(cWinINetV2::GetHostPart(" plain ", ""), "plain");
}

TEST(WinINetParts, TransferTypeByExtension) {
  EXPECT_EQ(cWinINetV2::TransferType("a/b.php"), 0);
  EXPECT_EQ(cWinINetV2::TransferType("a/b.txt"), 1);
  EXPECT_EQ(cWinINetV2::TransferType("a/b.CSV"), 1);
  EXPECT_EQ(cWinINetV2::TransferType("a/b.php4"), 1);
  EXPECT_EQ(cWinINetV2::TransferType("a/b.jpg"), 2);
  EXPECT_EQ(cWinINetV2::TransferType("a/b.Gif"), 2);
  EXPECT_EQ(cWinINetV2::TransferType("a/b"), 0);
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
  EXPECT_EQ(w.GetWinINetErrorText(12035), "");
  EXPECT_EQ(w.GetWinINetErrorText(2), "");
  EXPECT_EQ(w.GetWinINetErrorText(12037), "(ERROR_INTERNET_SEC_CERT_DATE_INVALID)");
  EXPECT_EQ(w.GetWinINetErrorText(12156), "(ERROR_HTTP_REDIRECT_FAILED)");
  EXPECT_EQ(w.GetWinINetErrorText(12111),
            "Der FTP-Vorgang konnte nicht abgeschlossen werden, da die Sitzung beendet wurde "
            "(ERROR_FTP_DROPPED).");
}

TEST_F(PassiveFtp, NestedTreeWithFilterArrivesByteForByte) {
  const std::string big = RandomBytes(120000, 1);
  WriteAll(local_ / "data_1.big", big);
  WriteAll(local_ / "data.dir", RandomBytes(500, 2));
  WriteAll(local_ / "unpack.PHP", "<?php echo 1; ?>\n");
  WriteAll(local_ / "photo.jpg", RandomBytes(300, 3));
  WriteAll(local_ / "README", "no extension");
  WriteAll(local_ / "bigger.bigx", "not a big file");
  WriteAll(local_ / "sub" / "deeper" / "x.big", RandomBytes(1000, 4));
  WriteAll(local_ / "sub" / "notes.txt", "skip me");
  WriteAll(local_ / "sub" / "empty.dir", "");
  FtpServer server(Options());

  cWinINetV2 ftp;
  EventLog log;
  log.Attach(ftp);
  ASSERT_TRUE(ftp.PassiveFtpTransfer("127.0.0.1", "fern", "s3cret-pw", local_.string(), "",
                                     "BIG DIR PHP", true, PortProxy(server)))
      << log.Dump();

  EXPECT_EQ(FilesBelow(home_), (std::set<std::string>{"data_1.big", "data.dir", "unpack.PHP",
                                                      "sub/deeper/x.big", "sub/empty.dir"}));
  EXPECT_EQ(ReadAll(home_ / "data_1.big"), big);
  EXPECT_EQ(ReadAll(home_ / "data.dir"), ReadAll(local_ / "data.dir"));
  EXPECT_EQ(ReadAll(home_ / "unpack.PHP"), ReadAll(local_ / "unpack.PHP"));
  EXPECT_EQ(ReadAll(home_ / "sub/deeper/x.big"), ReadAll(local_ / "sub/deeper/x.big"));

  // 120000 bytes go in three blocks, each with its progress line.
  int bigLines = 0;
  for (const std::string& t : log.Texts(false, 8))
    if (t.find("übertragen von 120.000 Bytes") != std::string::npos) ++bigLines;
  EXPECT_EQ(bigLines, 3) << log.Dump();
  EXPECT_TRUE(log.Has(false, 8, "100% übertragen von 120.000 Bytes")) << log.Dump();
  EXPECT_TRUE(log.Has(false, 22, "Fertig mit Übertragung von Datei data_1.big"));
  EXPECT_FALSE(log.Mentions("s3cret-pw"));
}

TEST_F(PassiveFtp, MissingRemoteFolderIsCreatedLevelByLevel) {
  WriteAll(local_ / "a.big", "A");
  WriteAll(local_ / "inner" / "b.php", "B");
  FtpServer server(Options());
  cWinINetV2 ftp;
  ASSERT_TRUE(ftp.PassiveFtpTransfer("127.0.0.1", "fern", "s3cret-pw", local_.string(),
                                     "site/upload", "", true, PortProxy(server)));
  EXPECT_EQ(FilesBelow(home_), (std::set<std::string>{"site/upload/a.big",
                                                      "site/upload/inner/b.php"}));
}

TEST_F(PassiveFtp, NothingToSendIsNoSuccess) {
  WriteAll(local_ / "photo.jpg", "J");
  FtpServer server(Options());
  cWinINetV2 ftp;
  EXPECT_FALSE(ftp.PassiveFtpTransfer("127.0.0.1", "fern", "s3cret-pw", local_.string(), "",
                                      "BIG", true, PortProxy(server)));
  EXPECT_TRUE(FilesBelow(home_).empty());
}

TEST_F(PassiveFtp, WrongPasswordIsReportedWithoutThePassword) {
  WriteAll(local_ / "a.big", "A");
  FtpServer server(Options());
  for (const bool strict : {true, false}) {
    cWinINetV2 ftp;
    EventLog log;
    log.Attach(ftp);
    EXPECT_FALSE(ftp.PassiveFtpTransfer("127.0.0.1", "fern", "wrong-password", local_.string(), "",
                                        "", strict, PortProxy(server)));
    const int16_t state = strict ? 102 : -1;
    EXPECT_TRUE(log.Has(strict, state, ">>>> Fehler:12014 ")) << log.Dump();
    EXPECT_TRUE(log.Has(strict, state, "bei Verbindungsaufbau zu 127.0.0.1")) << log.Dump();
    EXPECT_FALSE(log.Mentions("wrong-password")) << log.Dump();
  }
  EXPECT_TRUE(FilesBelow(home_).empty());
}

TEST_F(PassiveFtp, DroppedConnectionFailsThatFileAndTheWalkGoesOn) {
  WriteAll(local_ / "a_drop.big", RandomBytes(400000, 5));
  WriteAll(local_ / "b_after.big", RandomBytes(2000, 6));
  FtpServerOptions o = Options();
  o.dropAfter = 60000;
  FtpServer server(o);
  cWinINetV2 ftp;
  ShortLimits(ftp);
  EventLog log;
  log.Attach(ftp);
  EXPECT_FALSE(ftp.PassiveFtpTransfer("127.0.0.1", "fern", "s3cret-pw", local_.string(), "", "",
                                      true, PortProxy(server)));
  EXPECT_TRUE(log.Has(true, 102, "Übertragen von Datei ")) << log.Dump();
  EXPECT_EQ(ReadAll(home_ / "b_after.big"), ReadAll(local_ / "b_after.big"));
}

TEST_F(PassiveFtp, StalledServerEndsInATimeout) {
  WriteAll(local_ / "a.big", "A");
  FtpServerOptions o;
  o.stall = true;
  FtpServer server(o);
  cWinINetV2 ftp;
  ShortLimits(ftp);
  ftp.Limits().connectTimeoutMs = 500;
  EventLog log;
  log.Attach(ftp);
  EXPECT_FALSE(ftp.PassiveFtpTransfer("127.0.0.1", "fern", "s3cret-pw", local_.string(), "", "",
                                      true, PortProxy(server)));
  EXPECT_TRUE(log.Has(true, 102, ">>>> Fehler:12002 Zeitlimit der Anfrage erreicht")) << log.Dump();
}

TEST_F(PassiveFtp, EscStopsTheWalk) {
  for (int i = 0; i < 6; ++i) WriteAll(local_ / ("f" + std::to_string(i) + ".big"), "x");
  FtpServer server(Options());
  cWinINetV2 ftp;
  int done = 0;
  ftp.InternalState = [&](int16_t state, const std::string&) {
    if (state == 22 && ++done == 2) SetEsc();
  };
  EXPECT_FALSE(ftp.PassiveFtpTransfer("127.0.0.1", "fern", "s3cret-pw", local_.string(), "", "",
                                      true, PortProxy(server)));
  EXPECT_EQ(FilesBelow(home_).size(), 2u);
}

TEST_F(PassiveFtp, SingleCommandsPutAndDir) {
  WriteAll(local_ / "one file.big", "12345");
  WriteAll(home_ / "x.big", "1");
  WriteAll(home_ / "y.txt", "2");
  FtpServer server(Options());
  cWinINetV2 ftp;
  const Variant put = ftp.FtpCommand(server.host(), "fern", "s3cret-pw",
                                     "PUT " + (local_ / "one file.big").string() + " put.big",
                                     true, "");
  EXPECT_TRUE(put.type() == VType::Boolean && put.boolVal());
  EXPECT_EQ(ReadAll(home_ / "put.big"), "12345");

  const Variant dir = ftp.FtpCommand(server.host(), "fern", "s3cret-pw", "DIR *.big", true, "");
  const std::string listing = dir.type() == VType::String ? dir.str() : std::string();
  EXPECT_EQ(listing.rfind("\r\n", 0), 0u) << listing;
  EXPECT_NE(listing.find("\r\nput.big "), std::string::npos) << listing;
  EXPECT_NE(listing.find("\r\nx.big "), std::string::npos) << listing;
  EXPECT_EQ(listing.find("y.txt"), std::string::npos) << listing;
  EXPECT_EQ(ftp.GetListingText(), listing);
}

TEST_F(PassiveFtp, ExplicitTlsLoginNeedsATrustedCertificate) {
  const fs::path cert = root_ / "cert.pem", key = root_ / "key.pem";
  if (!testing_servers::MakeSelfSignedCert(cert, key)) GTEST_SKIP() << "openssl not available";
  FtpServerOptions o = Options();
  o.cert = cert;
  o.key = key;
  FtpServer server(o);
  const std::string proxy = PortProxy(server);

  cWinINetV2 plain;
  ShortLimits(plain);
  EXPECT_NE(plain.TestFtpZugang("127.0.0.1", "fern", "s3cret-pw", proxy), "");

  cWinINetV2 untrusted;
  ShortLimits(untrusted);
  EXPECT_NE(untrusted.TestFtpZugang("ftpes://127.0.0.1", "fern", "s3cret-pw", proxy), "");

  cWinINetV2 trusted;
  ShortLimits(trusted);
  trusted.Limits().caFile = cert.string();
  EXPECT_EQ(trusted.TestFtpZugang("ftpes://127.0.0.1", "fern", "s3cret-pw", proxy), "");
}

TEST_F(PassiveFtp, ExplicitTlsUploadsTheFolderOverProtectedDataChannels) {
  const fs::path cert = root_ / "cert.pem", key = root_ / "key.pem";
  if (!testing_servers::MakeSelfSignedCert(cert, key)) GTEST_SKIP() << "openssl not available";
  const std::string big = RandomBytes(120000, 5);
  WriteAll(local_ / "data_1.big", big);
  WriteAll(local_ / "sub" / "x.big", RandomBytes(700, 6));
  WriteAll(local_ / "sub" / "skip.txt", "not sent");
  FtpServerOptions o = Options();
  o.cert = cert;
  o.key = key;
  FtpServer server(o);

  // The server takes files over protected data channels only, so what arrives came over TLS.
  cWinINetV2 ftp;
  ShortLimits(ftp);
  ftp.Limits().caFile = cert.string();
  EventLog log;
  log.Attach(ftp);
  ASSERT_TRUE(ftp.PassiveFtpTransfer("ftpes://127.0.0.1", "fern", "s3cret-pw", local_.string(),
                                     "up", "BIG", true, PortProxy(server)))
      << log.Dump() << ReadAll(root_ / "server.log");
  EXPECT_EQ(FilesBelow(home_), (std::set<std::string>{"up/data_1.big", "up/sub/x.big"}));
  EXPECT_EQ(ReadAll(home_ / "up" / "data_1.big"), big);
  EXPECT_EQ(ReadAll(home_ / "up" / "sub" / "x.big"), ReadAll(local_ / "sub" / "x.big"));
}

TEST_F(PassiveFtp, TestFtpZugangGivesAdviceOnlyOnFailure) {
  FtpServer server(Options());
  cWinINetV2 ftp;
  EXPECT_EQ(ftp.TestFtpZugang("127.0.0.1", "fern", "s3cret-pw", PortProxy(server)), "");
  const std::string advice = ftp.TestFtpZugang("127.0.0.1", "fern", "nope", PortProxy(server));
  EXPECT_EQ(advice.rfind("\r\nBitte überprüfen Sie die Schreibweise", 0), 0u) << advice;
}

}  // namespace
}  // namespace fern
