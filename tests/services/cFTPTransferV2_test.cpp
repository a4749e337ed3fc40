#include "services/cFTPTransferV2.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <thread>

#include "host/cUtil.h"
#include "platform/process.h"
#include "platform/waits.h"
#include "services/ftp_fixture.h"
#include "services/transfer_events.h"
#include "support/ftp_server.h"
#include "support/http_server.h"
#include "support/scratch_dir.h"
#include "support/test_files.h"

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
using testing_servers::HttpServer;

constexpr char kPassword[] = "s3cret-pw";

// --- encoding and formatting ----------------------------------------------------------------

TEST(FtpTransferEncoding, Base64VectorsAndDecimalPoint) {
  // Raw bytes, including those Windows-1252 has no character for, pass unchanged.
  const std::pair<std::string, std::string> vectors[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"foobar", "Zm9vYmFy"},
      {std::string("\x00\x81\x8d\xff", 4), "AIGN/w=="},
      {"\xfb\xff", "+/8="}};
  for (const auto& [raw, encoded] : vectors)
    EXPECT_EQ(cFTPTransferV2::Encode(raw), encoded) << encoded;
  EXPECT_EQ(cFTPTransferV2::FormatDecimal("0.00", "12,5"), "12.50");
  EXPECT_EQ(cFTPTransferV2::FormatDecimal("0.##", "7"), "7");
}

TEST(FtpTransferEncoding, EncodeFileMatchesTheBase64Tool) {
  const fern::testing::ScratchDir scratch;
  const fs::path& dir = scratch.path();
  for (const size_t size : {size_t{1}, size_t{120}, size_t{121}, size_t{5000}}) {
    const fs::path file = dir / ("f" + std::to_string(size));
    WriteAll(file, RandomBytes(size, static_cast<unsigned>(size)));
    ProcessOptions capture;
    capture.captureStdout = true;
    const ProcessResult tool = RunProcess({"base64", "-w0", file.string()}, capture);
    ASSERT_TRUE(tool.Succeeded());
    EXPECT_EQ(cFTPTransferV2::EncodeFile(file.string()), tool.out) << size;
  }
  WriteAll(dir / "empty", "");
  EXPECT_EQ(cFTPTransferV2::EncodeFile((dir / "empty").string()), "");
  EXPECT_EQ(cFTPTransferV2::EncodeFile((dir / "missing").string()), "");
}

// --- FTP, both modes -------------------------------------------------------------------------

class FtpTransfer : public testing_servers::FtpFolders<::testing::TestWithParam<bool>> {
 protected:
  void SetUp() override {
    FtpFolders::SetUp();
    hostFolder_ = root_ / "host";
    fs::create_directories(hostFolder_);
    WriteAll(hostFolder_ / "kavantor.ini", Active() ? "[FTP]\r\nACTIVE_FTP=1\r\n" : "");
    TransferHost host;
    host.Util = &util_;
    host.Folder = hostFolder_.string();
    ftp_.Init("", host);
    ShortLimits(ftp_.Limits());
    log_.Attach(ftp_);
  }
  void TearDown() override {
    EXPECT_FALSE(log_.Mentions(kPassword)) << log_.Dump();
    FtpFolders::TearDown();
  }
  bool Active() const { return GetParam(); }
  // Calls `then` after each file that arrived, with the count so far.
  void AfterEachFile(std::function<void(int)> then) {
    ftp_.InternalState = [this, then, internal = ftp_.InternalState, files = 0](
                             int16_t s, const std::string& t) mutable {
      internal(s, t);
      if (Active() ? (s == 20 && t.rfind("PUT ", 0) == 0) : s == 22) then(++files);
    };
  }

  FtpServerOptions Options() const {
    FtpServerOptions o = FtpFolders::Options();
    o.password = kPassword;
    return o;
  }
  // Passive mode takes the port from the proxy text, active mode from the host text.
  bool Send(const FtpServer& server, const std::string& remote, const std::string& extensions,
            const std::string& password = kPassword, bool strict = true) {
    const std::string proxy = Active() ? "" : ":" + std::to_string(server.port());
    const std::string host = Active() ? server.host() : "127.0.0.1";
    return ftp_.FtpSendFolder(host, "fern", password, local_.string(), remote, extensions, proxy,
                              strict);
  }

  fs::path hostFolder_;
  cUtil util_;
  cFTPTransferV2 ftp_;
  EventLog log_;
};

INSTANTIATE_TEST_SUITE_P(Modes, FtpTransfer, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "Active" : "Passive"; });

TEST_P(FtpTransfer, NestedTreeWithFilter) {
  WriteAll(local_ / "site_1.big", RandomBytes(130000, 1));
  WriteAll(local_ / "site.dir", RandomBytes(700, 2));
  WriteAll(local_ / "unpack.PHP", "<?php ?>");
  WriteAll(local_ / "photo.jpg", RandomBytes(100, 3));
  WriteAll(local_ / "Makefile", "no extension");
  WriteAll(local_ / "a" / "b" / "deep.big", RandomBytes(3000, 4));
  WriteAll(local_ / "a" / "skip.bigger", "x");
  WriteAll(local_ / "a" / "none.dir", "");
  ASSERT_TRUE(fs::create_directories(local_ / "a" / "empty"));
  FtpServer server(Options());

  ASSERT_TRUE(Send(server, "", "BIG DIR PHP")) << log_.Dump();
  EXPECT_EQ(FilesBelow(home_), (std::set<std::string>{"site_1.big", "site.dir", "unpack.PHP",
                                                      "a/b/deep.big", "a/none.dir"}));
  for (const char* f : {"site_1.big", "site.dir", "unpack.PHP", "a/b/deep.big", "a/none.dir"})
    EXPECT_EQ(ReadAll(home_ / f), ReadAll(local_ / f)) << f;
  EXPECT_TRUE(log_.Has(true, 0, Active() ? "Use ActiveFTP" : "Use PassiveFTP"));
  // One login serves the whole tree.
  server.Stop();
  const std::string serverLog = ReadAll(root_ / "server.log");
  EXPECT_EQ(serverLog.find("logged in"), serverLog.rfind("logged in")) << serverLog;
  EXPECT_NE(serverLog.find("logged in"), std::string::npos) << serverLog;
  if (Active()) {
    // The filtered-out file is still announced.
    EXPECT_TRUE(log_.Has(true, 0, "PUT " + (local_ / "photo.jpg").string() + " photo.jpg"));
    EXPECT_TRUE(log_.Has(false, 20, "PUT " + (local_ / "a/b/deep.big").string() + " a/b/deep.big"));
  } else {
    // Block-wise: three progress lines for the 130,000 bytes, one for each small file.
    EXPECT_EQ(log_.Texts(false, 8).size(), 3u + 3u) << log_.Dump();
    EXPECT_TRUE(log_.Has(false, 8, "100% übertragen von 130.000 Bytes")) << log_.Dump();
    EXPECT_TRUE(log_.Has(false, 22, "Fertig mit Übertragung von Datei site_1.big"));
  }
}

TEST_P(FtpTransfer, NamesWithBlanksArriveInTheChosenMode) {
  WriteAll(local_ / "ImmoPortal Demo-K-1.zip", RandomBytes(2000, 5));
  WriteAll(local_ / "Mein Ordner" / "a b.xml", "<x/>");
  FtpServer server(Options());
  ASSERT_TRUE(Send(server, "in box", "")) << log_.Dump();
  EXPECT_EQ(FilesBelow(home_), (std::set<std::string>{"in box/ImmoPortal Demo-K-1.zip",
                                                      "in box/Mein Ordner/a b.xml"}));
  // The data connections were opened the way the mode says, as the server saw them.
  server.Stop();
  const std::string serverLog = ReadAll(root_ / "server.log");
  const bool port = serverLog.find("CMD PORT") != std::string::npos ||
                    serverLog.find("CMD EPRT") != std::string::npos;
  const bool pasv = serverLog.find("CMD PASV") != std::string::npos ||
                    serverLog.find("CMD EPSV") != std::string::npos;
  EXPECT_EQ(port, Active()) << serverLog;
  EXPECT_EQ(pasv, !Active()) << serverLog;
}

TEST_P(FtpTransfer, AMissingLocalFolderIsNamed) {
  FtpServer server(Options());
  local_ /= "fehlt";
  EXPECT_FALSE(Send(server, "in", ""));
  EXPECT_TRUE(
      log_.Has(true, 102,
               ">>>> Lokaler Ordner '" + local_.string() + "' für die Übertragung nicht gefunden"))
      << log_.Dump();
}

TEST_P(FtpTransfer, MissingRemoteFolderIsCreated) {
  WriteAll(local_ / "x.php", "1");
  WriteAll(local_ / "in" / "y.php", "2");
  FtpServer server(Options());
  ASSERT_TRUE(Send(server, "web/import", "")) << log_.Dump();
  EXPECT_EQ(FilesBelow(home_), (std::set<std::string>{"web/import/x.php", "web/import/in/y.php"}));
  // Sending again into the existing folders is no error.
  log_.events.clear();
  EXPECT_TRUE(Send(server, "web/import", "")) << log_.Dump();
  EXPECT_TRUE(log_.Texts(true, 102).empty()) << log_.Dump();
}

// A file where the folder should be: the folder can't be made. Strict, the failure is an error of
// the run; otherwise a detail of an attempt. Either way nothing is sent, in the chosen mode.
TEST_P(FtpTransfer, RemoteFolderThatCannotBeMadeFails) {
  WriteAll(local_ / "x.php", "1");
  WriteAll(home_ / "web", "a file");
  for (const bool strict : {true, false}) {
    SCOPED_TRACE(strict ? "strict" : "not strict");
    log_.events.clear();
    FtpServer server(Options());
    EXPECT_FALSE(Send(server, "web/import", "", kPassword, strict));
    EXPECT_EQ(FilesBelow(home_), (std::set<std::string>{"web"}));
    if (Active()) {
      const std::string line = "Ausführen von 'MKDIR' web/import fehlgeschlagen!";
      EXPECT_EQ(log_.Has(true, 102, line), strict) << log_.Dump();
      EXPECT_EQ(log_.Has(false, 0, "FTPVersuch: " + line), !strict) << log_.Dump();
    } else {
      EXPECT_EQ(log_.Texts(true, 102).empty(), !strict) << log_.Dump();
      const std::string line = "bei Übertragen von Datei " + (local_ / "x.php").string();
      EXPECT_EQ(log_.Has(true, 102, line), strict) << log_.Dump();
      EXPECT_EQ(log_.Has(false, -1, line), !strict) << log_.Dump();
    }
    server.Stop();
    const std::string serverLog = ReadAll(root_ / "server.log");
    EXPECT_NE(serverLog.find("CMD MKD"), std::string::npos) << serverLog;
    if (Active()) {
      EXPECT_EQ(serverLog.find("CMD PASV"), std::string::npos) << serverLog;
      EXPECT_EQ(serverLog.find("CMD EPSV"), std::string::npos) << serverLog;
    }
  }
}

TEST_P(FtpTransfer, EmptyRemoteFolderMeansTheLoginFolder) {
  WriteAll(local_ / "top.php", "1");
  WriteAll(local_ / "sub" / "inner.php", "2");
  fs::create_directories(home_ / "kunde");
  FtpServerOptions o = Options();
  o.loginDir = "kunde";
  FtpServer server(o);
  ASSERT_TRUE(Send(server, "", "PHP")) << log_.Dump();
  EXPECT_EQ(FilesBelow(home_), (std::set<std::string>{"kunde/top.php", "kunde/sub/inner.php"}));
}

TEST_P(FtpTransfer, SingleCommands) {
  WriteAll(home_ / "old.big", "1");
  WriteAll(home_ / "y.txt", "2");
  FtpServer server(Options());
  if (Active()) {
    const Variant code = ftp_.FtpExecute(server.host(), "fern", kPassword, "MKDIR made/here");
    EXPECT_EQ(code.longVal(), 0) << log_.Dump();
    EXPECT_TRUE(fs::is_directory(home_ / "made" / "here"));
    EXPECT_EQ(ftp_.FtpExecute(server.host(), "fern", kPassword, "CD missing").longVal(), 550);
  } else {
    // Passive "DIR" goes to the passive layer; its listing is the response text.
    const Variant listing = ftp_.FtpExecute(server.host(), "fern", kPassword, "DIR *.big");
    EXPECT_EQ(listing.str().rfind("\r\nold.big ", 0), 0u) << log_.Dump();
    EXPECT_EQ(listing.str().find("y.txt"), std::string::npos) << listing.str();
    EXPECT_EQ(ftp_.GetResponseText(), listing.str());
  }
}

TEST_P(FtpTransfer, WrongPasswordFails) {
  WriteAll(local_ / "x.big", "1");
  FtpServer server(Options());
  EXPECT_FALSE(Send(server, "", "", "not-the-password"));
  EXPECT_TRUE(log_.Has(true, 102, Active() ? "Fehlercode: 530" : ">>>> Fehler:12014 "))
      << log_.Dump();
  EXPECT_FALSE(log_.Mentions("not-the-password")) << log_.Dump();
  EXPECT_TRUE(FilesBelow(home_).empty());
}

TEST_P(FtpTransfer, DroppedConnectionFailsTheUpload) {
  WriteAll(local_ / "a_drop.big", RandomBytes(500000, 9));
  WriteAll(local_ / "b.big", RandomBytes(1000, 10));
  FtpServerOptions o = Options();
  o.dropAfter = 50000;
  FtpServer server(o);
  EXPECT_FALSE(Send(server, "", ""));
  // The session ended mid-file (12111), and the partial file was removed.
  if (Active()) {
    EXPECT_TRUE(log_.Has(true, 102, "Fehlercode: 12111")) << log_.Dump();
    EXPECT_TRUE(log_.Has(false, 20, "DELETE a_drop.big")) << log_.Dump();
  } else {
    EXPECT_TRUE(log_.Has(true, 102, ">>>> Fehler:12111 ")) << log_.Dump();
    EXPECT_TRUE(log_.Has(true, 102, "bei Übertragen von Datei " + (local_ / "a_drop.big").string()))
        << log_.Dump();
    EXPECT_TRUE(log_.Has(false, 0, "Unvollständige Datei a_drop.big auf dem Server gelöscht"))
        << log_.Dump();
  }
  // The next file goes over a new connection; the cut one is not left for a portal to import.
  EXPECT_EQ(ReadAll(home_ / "b.big"), ReadAll(local_ / "b.big")) << log_.Dump();
  EXPECT_FALSE(fs::exists(home_ / "a_drop.big")) << log_.Dump();
}

TEST_P(FtpTransfer, StalledServerTimesOut) {
  WriteAll(local_ / "a.big", "1");
  FtpServerOptions o;
  o.stall = true;
  FtpServer server(o);
  ftp_.Limits().connectTimeoutMs = 500;
  EXPECT_FALSE(Send(server, "", ""));
  EXPECT_TRUE(
      log_.Has(true, 102,
               Active() ? "Fehlercode: 12002" : ">>>> Fehler:12002 Zeitlimit der Anfrage erreicht"))
      << log_.Dump();
}

TEST_P(FtpTransfer, EscStopsTheWholeWalk) {
  for (int i = 0; i < 5; ++i) WriteAll(local_ / "first" / ("f" + std::to_string(i) + ".big"), "x");
  for (int i = 0; i < 5; ++i) WriteAll(local_ / "second" / ("g" + std::to_string(i) + ".big"), "y");
  FtpServer server(Options());
  AfterEachFile([](int files) {
    if (files == 2) SetEsc();
  });
  EXPECT_FALSE(Send(server, "", ""));
  EXPECT_LE(FilesBelow(home_).size(), 2u);
  EXPECT_FALSE(fs::exists(home_ / "second")) << log_.Dump();
  EXPECT_TRUE(log_.Has(true, 100, "Prozess extern beendet")) << log_.Dump();
}

TEST_P(FtpTransfer, ForceCancelDuringTheUploadStopsIt) {
  for (int i = 0; i < 6; ++i) WriteAll(local_ / ("f" + std::to_string(i) + ".big"), "x");
  FtpServer server(Options());
  AfterEachFile([this](int files) {
    if (files == 1) ftp_.ForceCancel();
  });
  EXPECT_FALSE(Send(server, "", ""));
  EXPECT_LT(FilesBelow(home_).size(), 6u);
  EXPECT_TRUE(log_.Has(true, 100, "Prozess extern beendet")) << log_.Dump();
  // Once the transfer is over there is nothing left to cancel.
  ftp_.ForceCancel();
  EXPECT_EQ(log_.events.back().text, "\r\nProzess bereits beendet");
}

TEST_P(FtpTransfer, AStopInTheMiddleOfAFileRemovesWhatArrivedOfIt) {
  // Large enough that the stop comes long before the end.
  std::ofstream(local_ / "big.big").close();
  fs::resize_file(local_ / "big.big", 512u << 20);
  FtpServer server(Options());
  SetPumpHook([this] {
    std::error_code ec;
    if (fs::file_size(home_ / "big.big", ec) > 0 && !ec) SetEsc();
  });
  EXPECT_FALSE(Send(server, "", ""));
  SetPumpHook(nullptr);
  EXPECT_TRUE(EscPressed()) << "the upload ended before the stop";
  EXPECT_FALSE(fs::exists(home_ / "big.big")) << log_.Dump();
  EXPECT_TRUE(log_.Has(false, 0, "Unvollständige Datei big.big auf dem Server gelöscht"))
      << log_.Dump();
  // The stop is told once, and it is no failure of the server.
  EXPECT_EQ(log_.Texts(true, 100), std::vector<std::string>{"\r\nProzess extern beendet"})
      << log_.Dump();
  EXPECT_TRUE(log_.Texts(true, 102).empty()) << log_.Dump();
}

// --- HTTP ------------------------------------------------------------------------------------

class HttpTransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetEsc();
    ftp_.Limits().connectTimeoutMs = 1500;
    ftp_.Limits().lowSpeedSeconds = 2;
    log_.Attach(ftp_);
  }
  void TearDown() override {
    ResetEsc();
    SetPumpHook(nullptr);
  }
  HttpServer http_;  // outlives the client, whose kept-alive connection it would wait for
  cFTPTransferV2 ftp_;
  EventLog log_;
};

TEST_F(HttpTransferTest, GetChainReadsEachAnswerToTheEnd) {
  // A run of blanks longer than one read piece sits inside the second answer.
  const std::string padded = "begin" + std::string(3000, ' ') + "end";
  http_.server.Get("/unpack.php", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("  OK unpack\r\n", "text/plain");
  });
  http_.server.Get("/import.php", [&](const httplib::Request& req, httplib::Response& res) {
    res.set_content(req.get_param_value("step") == "2" ? padded : "wrong step", "text/plain");
  });
  http_.Start();

  ASSERT_TRUE(ftp_.HttpTransfer(http_.Address("/unpack.php"), "GET", ""));
  EXPECT_EQ(ftp_.GetResponseText(), "OK unpack\r\n");
  ASSERT_TRUE(ftp_.HttpTransfer("http://" + http_.Address("/import.php?step=2"), "GET", ""));
  EXPECT_EQ(ftp_.GetResponseText(), padded);
  EXPECT_TRUE(log_.Has(false, 22, "Letzte Aktion erfolgreich durchgeführt")) << log_.Dump();
  EXPECT_TRUE(log_.Texts(true, 102).empty());
}

TEST_F(HttpTransferTest, ServerErrorIsAFailureAndItsAnswerStaysReadable) {
  http_.server.Get("/broken.php", [](const httplib::Request&, httplib::Response& res) {
    res.status = 500;
    res.set_content("database down", "text/plain");
  });
  http_.server.Get("/ping", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("pong", "text/plain");
  });
  http_.Start();
  EXPECT_FALSE(ftp_.HttpTransfer(http_.Address("/broken.php"), "GET", ""));
  EXPECT_TRUE(log_.Has(true, 102, "Fehlercode: 500")) << log_.Dump();
  EXPECT_EQ(ftp_.GetResponseText(), "database down");
  EXPECT_TRUE(ftp_.IsOnline(http_.Address("/ping"), 5));
  EXPECT_FALSE(ftp_.IsOnline(http_.Address("/nothing-here"), 5));
}

TEST_F(HttpTransferTest, TransportErrorIsAFailure) {
  http_.Start();
  const std::string dead = http_.Address("/");
  http_.server.stop();
  EXPECT_FALSE(ftp_.IsOnline(dead, 5));
  EXPECT_FALSE(ftp_.HttpTransfer(dead, "GET", ""));
  EXPECT_TRUE(log_.Has(true, 102, "Fehler aufgetreten bei Übertragung an 127.0.0.1"))
      << log_.Dump();
}

TEST_F(HttpTransferTest, StalledServerTimesOut) {
  FtpServerOptions o;
  o.stall = true;
  FtpServer silent(o);
  ftp_.Limits().lowSpeedSeconds = 1;
  EXPECT_FALSE(ftp_.HttpTransfer(silent.host() + "/x", "GET", ""));
  EXPECT_TRUE(log_.Has(true, 102, "12002")) << log_.Dump();
}

TEST_F(HttpTransferTest, EscCancelsAWaitingRequest) {
  http_.server.Get("/slow", [](const httplib::Request&, httplib::Response& res) {
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    res.set_content("late", "text/plain");
  });
  http_.Start();
  int pumps = 0;
  SetPumpHook([&] {
    if (++pumps == 3) SetEsc();
  });
  EXPECT_FALSE(ftp_.HttpTransfer(http_.Address("/slow"), "GET", ""));
  EXPECT_TRUE(log_.Has(true, 100, "Prozess extern beendet")) << log_.Dump();
}

class XmlPost : public HttpTransferTest {
 protected:
  void SetUp() override {
    HttpTransferTest::SetUp();
    folder_ = scratch_.path();
    body_ = XmlDocument::Create();
    ASSERT_TRUE(body_->loadXML("<openimmo><objekt nr=\"Ä1\"/></openimmo>"));
  }
  void TearDown() override {
    EXPECT_FALSE(log_.Mentions("portal-pw")) << log_.Dump();
    HttpTransferTest::TearDown();
  }
  XmlDocumentPtr Post(const std::string& path) {
    std::string user = "portal-user";
    return ftp_.HTTPRequest("POST", body_, folder_.string(), "my export", http_.Address(path), user,
                            "portal-pw");
  }
  fern::testing::ScratchDir scratch_;
  fs::path folder_;
  XmlDocumentPtr body_;
};

TEST_F(XmlPost, XmlAnswerIsReturnedAndKept) {
  std::string received, auth;
  http_.server.Post("/in", [&](const httplib::Request& req, httplib::Response& res) {
    received = req.body;
    auth = req.get_header_value("Authorization");
    res.set_content("<?xml version=\"1.0\"?><answer><status>OK</status></answer>", "text/xml");
  });
  http_.Start();
  const XmlDocumentPtr answer = Post("/in");
  ASSERT_TRUE(answer) << log_.Dump();
  EXPECT_EQ(answer->selectSingleNode("/answer/status")->text(), "OK");
  EXPECT_NE(received.find("<objekt nr=\"Ä1\"/>"), std::string::npos) << received;
  EXPECT_EQ(auth.rfind("Basic ", 0), 0u);
  const fs::path kept = folder_ / "my_exportanswer.xml";
  ASSERT_TRUE(fs::exists(kept));
  EXPECT_NE(ReadAll(kept).find("<status>OK</status>"), std::string::npos);
  EXPECT_TRUE(log_.Has(true, 10, "Die Datei my export wird gesendet - warten auf Antwort"));
  EXPECT_TRUE(log_.Has(true, 12, "Datei my export: Antwort erhalten"));
}

TEST_F(XmlPost, NonXmlAnswerIsKeptAsItCameAndAnUnreachableServerReported) {
  http_.server.Post("/in", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("Danke, 3 Objekte importiert.\n", "text/plain");
  });
  http_.Start();
  EXPECT_FALSE(Post("/in"));
  EXPECT_TRUE(log_.Has(true, 102, "Fehler bei HTTPRequest:")) << log_.Dump();
  EXPECT_EQ(ReadAll(folder_ / "my_exportanswer.xml"), "Danke, 3 Objekte importiert.\n");

  http_.server.stop();
  EXPECT_FALSE(Post("/in"));
  EXPECT_TRUE(log_.Has(true, 102, "Fehler bei HTTPRequest: 12029")) << log_.Dump();
}

// --- the session's own HTTP calls ----------------------------------------------------------------

TEST(CurlSessionHttp, GetAndPostGiveStatusAndAnswerAsTheServerSawThem) {
  HttpServer http;
  std::string seenType, seenBody, seenMethod;
  http.server.Get("/page", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("<p>hello</p>", "text/html");
  });
  http.server.Get("/slow", [](const httplib::Request&, httplib::Response& res) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    res.set_content("late", "text/plain");
  });
  http.server.Post("/import", [&](const httplib::Request& req, httplib::Response& res) {
    seenMethod = req.method;
    seenType = req.get_header_value("Content-Type");
    seenBody = req.body;
    res.status = 500;
    res.set_content("<fehler/>", "text/xml");
  });
  http.Start();

  services::CurlSession session;
  struct Case {
    std::string path;
    long totalSeconds;
    bool ok;
    long status;
    std::string body;
  };
  for (const Case& c : {Case{"/page", 0, true, 200, "<p>hello</p>"},
                        Case{"/missing", 0, true, 404, ""}, Case{"/slow", 1, false, 0, ""}}) {
    const services::HttpReply r = session.Get("  " + http.Address(c.path) + " ", c.totalSeconds);
    EXPECT_EQ(r.result.ok(), c.ok) << c.path << ": " << r.result.message;
    EXPECT_EQ(r.status, c.status) << c.path;
    if (c.ok) {
      EXPECT_EQ(r.body, c.body) << c.path;
    }
  }

  const std::string xml = "<?xml version=\"1.0\"?><openimmo>\xc3\xa4</openimmo>";
  const services::HttpReply r =
      session.PostXml(http.Address("/import"), xml, {"user", kPassword}, "post");
  EXPECT_TRUE(r.result.ok()) << r.result.message;
  EXPECT_EQ(r.status, 500);
  EXPECT_EQ(r.body, "<fehler/>");
  EXPECT_EQ(seenMethod, "POST");
  EXPECT_EQ(seenType, "text/xml; charset=UTF-8");
  EXPECT_EQ(seenBody, xml);
}

// The proxy rule decides where the request goes: the named proxy gets the site's address, and
// without a rule a proxy variable of the environment is not used.
TEST(CurlSessionHttp, GetGoesThroughTheRulesProxyOnly) {
  HttpServer proxy;
  std::string seenTarget;
  proxy.server.Get(R"(.*)", [&](const httplib::Request& req, httplib::Response& res) {
    seenTarget = req.target;
    res.set_content("via proxy", "text/plain");
  });
  proxy.Start();
  HttpServer site;
  site.server.Get("/page", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("direct", "text/plain");
  });
  site.Start();

  services::CurlSession session;
  const std::string proxyAddress = proxy.Address("");
  services::HttpReply r = session.Get(site.Address("/page"), 5, {}, proxyAddress);
  EXPECT_EQ(r.body, "via proxy") << r.result.message;
  EXPECT_EQ(seenTarget, "http://" + site.Address("/page"));

  seenTarget.clear();
  setenv("http_proxy", ("http://" + proxyAddress).c_str(), 1);
  r = session.Get(site.Address("/page"), 5, {}, "");
  unsetenv("http_proxy");
  EXPECT_EQ(r.body, "direct") << r.result.message;
  EXPECT_EQ(seenTarget, "");
}

}  // namespace
}  // namespace fern
