// What a run leaves on the site: on servers that list without MLSD or not at all, after a stop,
// and when the web server does not run PHP.
#include <gtest/gtest.h>

#include <chrono>

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
