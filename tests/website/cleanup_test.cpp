// What a run leaves on the site: on servers that list without MLSD or not at all, after a stop,
// and when the web server does not run PHP.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>

#include "platform/text.h"
#include "platform/waits.h"
#include "website_fixture.h"

namespace fern::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPortal =
    "boersen_dsn in (select DSN from Boersen where boersen_name='Eigene Homepage')";

class SiteCleanUpTest : public WebsiteTest {
 public:
  void TearDown() override {
    SetPumpHook(nullptr);
    ResetEsc();
  }
  std::string TransferLeft() const { return SiteFiles("transfer") + SiteFiles("kvws_import"); }
  int StatusWritten() {
    return Count(std::string("select count(*) from boersenobj where status<>0 and ") + kPortal);
  }
  // A run stopped (Esc and SIGTERM set the same flag) once `file` is on the site leaves nothing.
  void RunStoppedWhenThere(const std::string& file) {
    ResetEsc();
    const fs::path marker = www() / "kv_webserver" / file;
    SetPumpHook([marker] {
      if (!EscPressed() && fs::exists(marker)) SetEsc();
    });
    const auto start = std::chrono::steady_clock::now();
    RunPortal();
    SetPumpHook(nullptr);
    EXPECT_TRUE(EscPressed());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_FALSE(Said("auf dem Webserver nicht")) << Errors();
    EXPECT_EQ(TransferLeft(), "");
    EXPECT_EQ(StatusWritten(), 0);
  }
};

TEST_F(SiteCleanUpTest, OnAServerWithoutMlsdTheRunRemovesItsUploadsAndEarlierLeftovers) {
  StartSiteOnVsftpd();
  for (const char* left : {"transfer_2.big", "transfer_2.php", "db/kvws_import9.php"})
    dir.Write(www() / "kv_webserver" / left, "<?php echo 'earlier';");
  // The site's own clean-up removes nothing: what goes is the run's doing.
  dir.Write(host() / "system" / "webserver" / "kvws_unusedfiles.php", "<?php");
  RunPortal();
  EXPECT_EQ(Errors(), "");
  EXPECT_TRUE(Said("Sie finden Ihre Objekte unter"));
  EXPECT_GT(StatusWritten(), 0);
  EXPECT_EQ(TransferLeft(), "");
  EXPECT_NE(vsftpd->Log().find("500 Unknown command"), std::string::npos);
  EXPECT_NE(vsftpd->Commands("NLST"), "");
}

// A failed run removes its containers, one of which unpacks to the database password, by name.
TEST_F(SiteCleanUpTest, OnAServerThatListsNothingTheUploadsStillGoAndTheListingIsReported) {
  StartSiteOnVsftpd({"dirlist_enable=NO"});
  Fault("/transfer_1.php 200 kaputt");
  RunPortal();
  EXPECT_TRUE(Said("transfer_1.php konnte nicht gestartet werden.")) << Errors();
  EXPECT_TRUE(Said("Der Ordner kv_webserver konnte auf dem Webserver nicht gelesen werden."))
      << Errors();
  EXPECT_FALSE(Said("nicht gelöscht werden")) << Errors();
  EXPECT_EQ(HttpStatus("kv_webserver/transfer_1.big"), 404);
  EXPECT_EQ(TransferLeft(), "");
  EXPECT_EQ(StatusWritten(), 0);
}

// A refused delete of a file that is gone (SIZE says so too) is no error; the folders that
// could not be checked for leftovers are.
TEST_F(SiteCleanUpTest, OnAServerThatListsNothingACompleteImportCountsOnlyTheUnlistedFolders) {
  StartSiteOnVsftpd({"dirlist_enable=NO"});
  RunPortal();
  EXPECT_TRUE(Said("Sie finden Ihre Objekte unter")) << Errors();
  EXPECT_EQ(Errors(),
            "Fehler: Der Ordner kv_webserver konnte auf dem Webserver nicht gelesen werden.\n"
            "Fehler: Der Ordner kv_webserver/db konnte auf dem Webserver nicht gelesen werden.\n");
  EXPECT_NE(vsftpd->Commands("SIZE"), "");
  EXPECT_EQ(TransferLeft(), "");
  EXPECT_GT(StatusWritten(), 0);
}

// A file that is there but can't be deleted is named, each one once. So is every refused name
// where SIZE is refused too: gone or not, the server doesn't say.
TEST_F(SiteCleanUpTest, WhereTheServerListsNothingARefusedNameCountsUnlessSizeSaysItIsGone) {
  const struct {
    const char* server;
    std::vector<std::string> vsftpd;  // none: pyftpdlib with the permissions below
    const char* perm;
    bool siteCleansUp;
    bool sizeRefused;
  } cases[] = {
      {"vsftpd, no DELE", {"dirlist_enable=NO", "cmds_denied=DELE"}, "", false, false},
      {"vsftpd, no DELE and SIZE", {"dirlist_enable=NO", "cmds_denied=DELE,SIZE"}, "", true, true},
      {"pyftpdlib, no listing", {}, "eradfmw", true, true},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.server);
    NextCase();
    std::error_code ec;
    fs::remove_all(www() / "kv_webserver", ec);
    fs::remove(host() / "system" / "webserver" / "kvws_unusedfiles.php", ec);
    if (!k.siteCleansUp)
      dir.Write(host() / "system" / "webserver" / "kvws_unusedfiles.php", "<?php");
    if (k.vsftpd.empty())
      StartSite("web", "web-demo", k.perm);
    else
      StartSiteOnVsftpd(k.vsftpd);
    RunPortal();
    const std::string errors = Errors();
    std::set<std::string> named;
    const std::string prefix = "Fehler: Die Datei ";
    for (size_t at = 0; (at = errors.find(prefix, at)) != std::string::npos; ++at) {
      const size_t from = at + prefix.size();
      named.insert(errors.substr(from, errors.find(' ', from) - from));
    }
    std::set<std::string> left;
    for (const std::string& line : text::SplitLines(TransferLeft()))
      if (!line.empty()) left.insert(line);
    EXPECT_TRUE(Said("Der Ordner kv_webserver konnte auf dem Webserver nicht gelesen werden."))
        << errors;
    if (k.sizeRefused) {
      EXPECT_TRUE(std::includes(named.begin(), named.end(), left.begin(), left.end())) << errors;
      EXPECT_EQ(named.count("kv_webserver/transfer_1.big"), 1u) << errors;
    } else {
      EXPECT_FALSE(left.empty());
      EXPECT_EQ(named, left) << errors;
    }
  }
}

TEST_F(SiteCleanUpTest, AStopDuringUploadOrImportStillRemovesTheUploads) {
  StartSite();
  for (const char* stopWhenThere : {"transfer.php", "db/kvws_import1.php"}) {
    SCOPED_TRACE(stopWhenThere);
    NextCase();
    RunStoppedWhenThere(stopWhenThere);
    std::error_code ec;
    fs::remove_all(www() / "kv_webserver", ec);
  }
}

TEST_F(SiteCleanUpTest, AStopOnASlowServerWithoutMlsdStillRemovesTheUploads) {
  StartSiteOnVsftpd({"delay_successful_login=1"});
  RunStoppedWhenThere("db/kvws_import1.php");
}

TEST_F(SiteCleanUpTest, AfterAStopTheCleanUpEndsAtItsDeadlineOnAServerThatNeverAnswers) {
  testing_servers::FtpServerOptions o;
  o.stall = true;
  testing_servers::FtpServer stalled(o);
  cImmoHelperV2 helper;
  website::SiteTransport transport(helper);
  transport.cleanUpSeconds = 1;
  SetEsc();
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::string> names;
  EXPECT_FALSE(transport.ListFiles(stalled.host(), "web", "pw", "kv_webserver", "", names));
  const std::string why =
      transport.RemoveFile(stalled.host(), "web", "pw", "kv_webserver/transfer_1.big", "");
  EXPECT_EQ(why, "keine Zeit mehr nach dem Abbruch");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST_F(SiteCleanUpTest, AWebServerThatServesPhpAsTextFailsTheStubWithThatReason) {
  StartSite();
  const int port = FreePort();
  pid_t server = StartServer({"python3", "-m", "http.server", "--bind", "127.0.0.1", "--directory",
                              www().string(), std::to_string(port)},
                             dir / "http.log");
  for (int i = 0; i < 100 && !Listening(port); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  Ini("WebServer", "HTTP_PORT", std::to_string(port));
  RunPortal();
  StopChildGroup(server);
  EXPECT_TRUE(
      Said("transfer_1.php konnte nicht gestartet werden. (Der Webserver hat das PHP-Skript "
           "unter 127.0.0.1:" +
           std::to_string(port) + "/kv_webserver/transfer_1.php nicht ausgeführt"))
      << Errors();
  EXPECT_FALSE(Said("mySQL")) << Errors();
  EXPECT_EQ(StatusWritten(), 0);
  EXPECT_EQ(TransferLeft(), "");
}

}  // namespace
}  // namespace fern::testing
