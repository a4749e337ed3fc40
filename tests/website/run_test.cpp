// Whole runs of the web-site export against loopback FTP, php -S and MariaDB.
#include <gtest/gtest.h>

#include <sstream>

#include "website_fixture.h"

namespace fern::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPortal =
    "boersen_dsn in (select DSN from Boersen where boersen_name='Eigene Homepage')";

// The query counting the portal's listing links whose status meets `condition`.
std::string PortalLinks(const std::string& condition) {
  return "select count(*) from boersenobj where " + condition + " and " + kPortal;
}

// The files of a transfer on an own server, as a GET names them.
std::vector<std::string> TransferFiles(int containers, int importScripts) {
  std::vector<std::string> out = {"kv_webserver/transfer.php", "kv_webserver/transfer.dir"};
  for (int k = 1; k <= containers; ++k)
    for (const char* ext : {".php", ".big"})
      out.push_back("kv_webserver/transfer_" + std::to_string(k) + ext);
  for (int k = 1; k <= importScripts; ++k)
    out.push_back("kv_webserver/db/kvws_import" + std::to_string(k) + ".php");
  return out;
}

TEST_F(WebsiteTest, OwnServerRunImportsTheSiteAndThenWritesTheStatus) {
  StartSite();
  // What an earlier run with more containers and import scripts left on the site.
  for (const char* left :
       {"transfer_2.php", "transfer_2.big", "transfer_3.php", "db/kvws_import9.php"})
    dir.Write(www() / "kv_webserver" / left, "<?php echo 'earlier';");
  // A site's older clean-up removes the containers only: the rest is the run's to remove.
  dir.Write(host() / "system" / "webserver" / "kvws_unusedfiles.php",
            "<?php foreach (glob(__DIR__ . '/*.big') as $f) unlink($f);");
  RunPortal();
  EXPECT_EQ(Errors(), "") << php->Log();
  EXPECT_TRUE(Said("Ende der Übertragung an:"));
  EXPECT_TRUE(Said("Sie finden Ihre Objekte unter"));
  EXPECT_EQ(php->Complaints(), "");
  // Every listing arrived, with its texts and pictures.
  const int listings = ListingsToSend();
  ASSERT_GT(listings, 0);
  EXPECT_EQ(SiteRows("kv_webserverdat"), listings);
  EXPECT_EQ(SiteRows("kv_webserverdat where KURZEXPOSE is null or EXPOSE is null"), 0);
  EXPECT_GT(SiteRows("kv_webserverpic"), 0);
  EXPECT_GT(SiteRows("kv_webserverfart"), 0);
  // Nothing of the transfer stays runnable or downloadable; the site's configuration does.
  for (const std::string& file : TransferFiles(3, web->ImportFileCount() + 9))
    EXPECT_EQ(HttpStatus(file), 404) << file;
  EXPECT_EQ(SiteFiles("transfer") + SiteFiles("kvws_import"), "");
  EXPECT_TRUE(fs::exists(www() / "kv_webserver" / "classes" / "dbdata.php"));
  EXPECT_TRUE(fs::exists(www() / "kv_webserver" / "classes" / "data.php"));
  // The import ran: the listing table has the site's own columns and those of the field types.
  EXPECT_EQ(Columns("kv_webserverdat"),
            "DSN\nMEMBER\nKENNUNG\nINTERN\nEART\nKOLLEGE_KENNUNG\nKURZ\nLANG\nADRESSE\nOBJDSN\n"
            "PROVINT\nPROVANB\nEXPOSE\nKURZEXPOSE\nTEXTOBJEKT\nTEXTLAGE\nTEXTAUSSTATTUNG\n"
            "TEXTBEBAUBARKEIT\nTEXTERSCHLIESSUNG\nTEXTFREI\nTEXTEXTRA1\nTEXTEXTRA2\nTEXTEXTRA3\n"
            "TEXTEXTRA4\nAnsprechpartner\nAusstattung\nAusstattung_LCID2057\nAusstattungWERT\n"
            "Baujahr_VON\nBaujahr\nBesonderheiten\nGrundstuecksflaeche_VON\n"
            "Grundstuecksflaeche\nKaltmiete_VON\nKaltmiete\n"
            "Kaufpreis_VON\nKaufpreis\nLand_PLZ_Ort\nProjekt\nStrasse\nUeberschrift\n"
            "Ueberschrift_LCID2057\nWohnflaeche_VON\nWohnflaeche\nZimmer_VON\nZimmer\n"
            "EXPOSE_LCID2057\nKURZEXPOSE_LCID2057\nTEXTOBJEKT_LCID2057\nTEXTLAGE_LCID2057\n"
            "TEXTAUSSTATTUNG_LCID2057\nTEXTBEBAUBARKEIT_LCID2057\nTEXTERSCHLIESSUNG_LCID2057\n"
            "TEXTFREI_LCID2057\nTEXTEXTRA1_LCID2057\nTEXTEXTRA2_LCID2057\nTEXTEXTRA3_LCID2057\n"
            "TEXTEXTRA4_LCID2057\n");
  EXPECT_EQ(Database().Query("select data_type from information_schema.columns where "
                             "table_schema='" +
                                 database + "' and column_name='Kaufpreis'",
                             database),
            "double\n");
  EXPECT_EQ(Columns("kv_webserverinteressenten"),
            "INT_DSN\nINT_HEADLINE\nINT_DETAILS\nINT_ART\nINT_PLZ\nINT_ORT\n"
            "INT_HEADLINE_LCID2057\nINT_DETAILS_LCID2057\n");
  EXPECT_GT(Count(PortalLinks("status=1")), 0);
  EXPECT_FALSE(fs::exists(dir / "work" / "kvws" / "WS_Eigene_Homepage"));
}

// The site holds every row: a leftover the run can't remove is said, but the status still goes
// back, or every night would send everything again.
TEST_F(WebsiteTest, ALeftoverTheServerKeepsAfterAGoodImportIsSaidAndTheStatusStillWritten) {
  Hook(R"VBS(
Class After
  Public Function Callback_AfterTransfer(rs, urls)
    urls = "/hook.php"
  End Function
End Class
Application.EventsConsumers.Add New After
)VBS");
  StartSite();
  dir.Write(www() / "kv_webserver" / "hook.php",
            "<?php file_put_contents(__DIR__ . '/hooked.txt', 'x');");
  dir.Write(host() / "system" / "webserver" / "kvws_unusedfiles.php", "<?php");
  // The FTP server refuses to delete a name that leads out of the user's folder.
  dir.Write(dir / "outside.php", "<?php");
  fs::create_symlink(dir / "outside.php", www() / "kv_webserver" / "transfer_3.php");
  RunPortal();
  EXPECT_TRUE(
      Said("Fehler: Die Datei kv_webserver/transfer_3.php konnte auf dem Webserver nicht "
           "gelöscht werden. ("))
      << Errors();
  EXPECT_NE(Errors().find("550"), std::string::npos) << Errors();
  EXPECT_EQ(SiteRows("kv_webserverdat"), ListingsToSend());
  EXPECT_GT(Count(PortalLinks("status=1")), 0);
  EXPECT_TRUE(fs::exists(www() / "kv_webserver" / "hooked.txt"));
  EXPECT_TRUE(Said("Sie finden Ihre Objekte unter"));
  // Everything else of the transfer went.
  EXPECT_TRUE(fs::is_symlink(www() / "kv_webserver" / "transfer_3.php"));
  for (const std::string& file : TransferFiles(1, web->ImportFileCount()))
    EXPECT_EQ(HttpStatus(file), 404) << file;
}

TEST_F(WebsiteTest, AnImportTheDatabaseRefusesFailsTheRunAndLeavesTheStatusAlone) {
  StartSite();
  Ini("WebServer", "MAXLINES", "40");  // several import scripts
  const struct {
    const char* what;
    const char* privileges;
    const char* limits;
    const char* said;
  } cases[] = {
      // The tables are made and altered, but no row may go in.
      {"rows refused", "SELECT, CREATE, DROP, ALTER, DELETE", "", "INSERT command denied"},
      // The database check and the set-up take the first two connections, the import scripts
      // one each.
      {"database gone half-way", "ALL", "WITH MAX_CONNECTIONS_PER_HOUR 4",
       "Es konnte keine Verbindung zum Datenbankserver"},
  };
  int account = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    lines.clear();
    const std::string password = "pw-" + std::to_string(++account) + "-geheim";
    UseAccount("site" + std::to_string(account), password, c.privileges, c.limits);
    const size_t logged = php->Log().size();
    RunPortal();
    ASSERT_GT(web->ImportFileCount(), 3);
    EXPECT_TRUE(Said(c.said)) << Errors();
    EXPECT_TRUE(Said("Datenimportscript")) << Errors();
    EXPECT_FALSE(Said("Sie finden Ihre Objekte"));
    EXPECT_FALSE(Said("Ende der Übertragung an:"));
    EXPECT_EQ(Errors().find(password), std::string::npos);
    EXPECT_EQ(Count(PortalLinks("status<>0")), 0);
    // The scripts after the failing one were not requested, and none stays on the site.
    EXPECT_EQ(
        php->Log().find("kvws_import" + std::to_string(web->ImportFileCount()) + ".php", logged),
        std::string::npos);
    for (const std::string& file : TransferFiles(1, web->ImportFileCount()))
      EXPECT_EQ(HttpStatus(file), 404) << file;
  }
  // With all privileges the same account's run imports the site.
  lines.clear();
  UseAccount("site9", "pw-9-geheim", "ALL");
  Ini("WebServer", "DEBUGMODE", "1");
  RunPortal();
  EXPECT_EQ(Errors(), "");
  EXPECT_EQ(SiteRows("kv_webserverdat"), ListingsToSend());
  EXPECT_GT(Count(PortalLinks("status=1")), 0);
}

TEST_F(WebsiteTest, PicturesOfListingsThatLeftTheSiteGoInTheSameRun) {
  StartSite();
  RunPortal();
  ASSERT_EQ(Errors(), "");
  std::vector<std::string> keys;
  std::istringstream in(
      Db().Query("select DSN from kv_webserverpic group by DSN order by DSN", database));
  for (std::string key; std::getline(in, key);) keys.push_back(key);
  ASSERT_GE(keys.size(), 3u);
  // One listing withdrawn from the portal, one archived.
  Exec("update boersenobj set kurz=0, lang=0 where obj_dsn='{" + keys[0] + "}'");
  Exec("update obj set FArchiv=2 where DSN='{" + keys[1] + "}'");
  lines.clear();
  RunPortal();
  EXPECT_EQ(Errors(), "");
  EXPECT_EQ(SiteRows("kv_webserverpic where DSN in ('" + keys[0] + "', '" + keys[1] + "')"), 0);
  EXPECT_GT(SiteRows("kv_webserverpic where DSN = '" + keys[2] + "'"), 0);
}

TEST_F(WebsiteTest, WhatAFailedRunUploadedIsRemovedFromTheSite) {
  const struct {
    const char* what;
    std::function<void(WebsiteTest&)> arrange;
  } cases[] = {
      {"stubs can't run",
       [](WebsiteTest& t) { t.Ini("WebServer", "HTTP_PORT", std::to_string(FreePort())); }},
      {"a stub fails", [](WebsiteTest& t) { t.Fault("/transfer_1.php 200 kaputt"); }},
      // The upload breaks off at the stub, after the library, index and container went.
      {"upload cut off",
       [](WebsiteTest& t) { fs::create_directories(t.www() / "kv_webserver" / "transfer_1.php"); }},
      // The passive upload takes the FTP port from the proxy setting: the clean-up must too.
      {"server reached through the FTP proxy setting",
       [](WebsiteTest& t) {
         t.Ini("WebServer", "FTP_PORT", std::to_string(FreePort()));
         t.Ini("WebServer", "FTP_PROXY", "127.0.0.1:" + std::to_string(t.ftp->port()));
         t.Fault("/transfer_1.php 200 kaputt");
       }},
  };
  StartSite();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    NextCase();
    std::error_code ec;
    fs::remove_all(www() / "kv_webserver", ec);
    Ini("WebServer", "HTTP_PORT", std::to_string(php->port()));
    Ini("WebServer", "FTP_PORT", std::to_string(ftp->port()));
    Ini("WebServer", "FTP_PROXY", "");
    c.arrange(*this);
    RunPortal();
    EXPECT_NE(Errors(), "");
    EXPECT_FALSE(Said("auf dem Webserver nicht")) << Errors();
    EXPECT_EQ(SiteFiles(".big") + SiteFiles("transfer") + SiteFiles("kvws_import"), "");
  }
}

// In active mode the upload goes through a real proxy, which the clean-up can't use: it says so.
TEST_F(WebsiteTest, ACleanUpThatCantGoThroughTheProxySaysSo) {
  StartSite();
  Ini("FTP", "ACTIVE_FTP", "1");
  Ini("WebServer", "FTP_PROXY", "127.0.0.1:" + std::to_string(FreePort()));
  RunPortal();
  EXPECT_TRUE(
      Said("Die übertragenen Dateien im Ordner kv_webserver konnten nicht über den "
           "FTP-Proxy 127.0.0.1:"))
      << Errors();
  EXPECT_EQ(Count(PortalLinks("status<>0")), 0);
}

TEST_F(WebsiteTest, AFailingSiteLeavesTheStatusAlone) {
  const struct {
    const char* what;
    std::function<void(WebsiteTest&)> arrange;
    const char* said;
  } cases[] = {
      {"unreachable site",
       [](WebsiteTest& t) { t.Ini("WebServer", "HTTP_PORT", std::to_string(FreePort())); },
       "transfer_1.php konnte nicht gestartet werden."},
      {"stub answers 500", [](WebsiteTest& t) { t.Fault("/transfer_1.php 500"); },
       "transfer_1.php konnte nicht gestartet werden. (HTTP 500)"},
      {"database check says ERROR", [](WebsiteTest& t) { t.Fault("/kvws_checkdb.php 200 ERROR"); },
       "Verbindung zur mySQL-Datenbank konnte nicht hergestellt werden."},
      // A dying PHP script answers 200 with its last words.
      {"import prints an error",
       [](WebsiteTest& t) {
         t.Fault("/kvws_import1.php 200 kvws_import1.php, line 9: Unknown column");
       },
       "Datenimportscript 1 konnte nicht ausgeführt werden. (kvws_import1.php: "
       "kvws_import1.php, line 9: Unknown column)"},
      {"import answers ERROR in debug mode",
       [](WebsiteTest& t) {
         t.Ini("WebServer", "DEBUGMODE", "1");
         t.Fault("/kvws_import1.php 200 ERROR");
       },
       "Datenimportscript 1 konnte nicht ausgeführt werden."},
      {"database unreachable",
       [](WebsiteTest& t) {
         t.Exec("update Boersen set webdb_host='127.0.0.1:" + std::to_string(FreePort()) +
                "' where boersen_name='Eigene Homepage'");
       },
       "Verbindung zur mySQL-Datenbank konnte nicht hergestellt werden."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    NextCase();
    Ini("WebServer", "DEBUGMODE", "0");
    if (!ftp) StartSite();
    Ini("WebServer", "HTTP_PORT", std::to_string(php->port()));
    Exec("update Boersen set webdb_host='" + Database().host() +
         "' where boersen_name='Eigene Homepage'");
    c.arrange(*this);
    RunPortal();
    EXPECT_TRUE(Said(c.said)) << Errors();
    EXPECT_FALSE(Said("Ende der Übertragung an:"));
    EXPECT_EQ(Count(PortalLinks("status<>0")), 0);
    EXPECT_FALSE(Said("PASSWORT=")) << "a query in a message";
  }
  EXPECT_EQ(php->Complaints(), "");
}

// What an import script answers decides whether the import went in.
TEST_F(WebsiteTest, AnImportReplyOtherThanLineBreaksFailsTheRunAndIsNamed) {
  const struct {
    const char* what;
    const char* rule;
    const char* said;
  } cases[] = {
      // The host's PHP shows the error as HTML; the message names the error, not the markup.
      {"PHP dies showing its error", "/kvws_import1.php fatal",
       "(kvws_import1.php: Fatal error:  Uncaught Error: Call to undefined function "
       "kvws_undefined()"},
      {"blanks", "/kvws_import1.php run   ",
       "Datenimportscript 1 konnte nicht ausgeführt werden. (kvws_import1.php: Antwort ohne "
       "lesbaren Text)"},
      {"blanks and a tab", "/kvws_import1.php run  \\t ",
       "Datenimportscript 1 konnte nicht ausgeführt werden. (kvws_import1.php: Antwort ohne "
       "lesbaren Text)"},
      // Line breaks alone are what many hosts add to an empty page.
      {"line breaks only", "/kvws_import1.php run \\r\\n\\n", ""},
  };
  StartSite();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    NextCase();
    Fault(c.rule);
    Exec(std::string("update boersenobj set status=0 where ") + kPortal);
    RunPortal();
    const bool good = std::string(c.said).empty();
    if (good) {
      EXPECT_EQ(Errors(), "");
    } else {
      EXPECT_TRUE(Said(c.said)) << Errors();
    }
    EXPECT_EQ(Said("Sie finden Ihre Objekte"), good);
    EXPECT_EQ(Count(PortalLinks("status<>0")) > 0, good);
  }
}

// The hosting service on the test's site: account check, copy from the incoming folder with the
// site's own scripts, import start, statistics; its master connection is the test's database.
void StartHostingService(WebsiteTest& t) {
  t.StartSite("anonymous", "K4711");
  t.Exec("update Boersen set zipping=1, loginname='K4711', password='" +
         WebsiteTest::Cipher("svc pw&1") + "' where boersen_name='Eigene Homepage'");
  t.Ini("WebServer", "SERVICE_HOST", "127.0.0.1:" + std::to_string(t.php->port()));
  t.Ini("WebServer", "SERVICE_WEBROOT", t.www().string());
  // Nobody would see a browser: the unattended run names the site's address instead.
  SetMessageAnswerer(
      std::make_shared<UnattendedAnswerer>([](const std::string&, const std::string&) {}));
  ScratchDir& d = t.dir;
  const fs::path site = fs::path(FERN_SOURCE_DIR) / "demo" / "website" / "system" / "webserver";
  d.Write("www/kvadmin_v2/kvws_checkpwd.php",
          "<?php if ($_GET['PASSWORT'] !== 'svc pw&1' || $_GET['KDNR'] !== 'K4711') { echo "
          "'OKFalsches Passwort#'; exit; }"
          " echo 'OKOK#SERVER' . $_SERVER['HTTP_HOST'] . '#ALIASbuero#MAXZIP5#';");
  d.Write("www/kvadmin_v2/kvws_dbconnectmaster.php",
          "<?php $master_host='" + Database().host() + "'; $master_dbname='" + t.database +
              "'; $master_user='site'; $master_passwd='x';");
  d.Write("www/kvadmin_v2/kvws_copytransfer.php",
          "<?php $id = basename($_GET['KdNr']); $to = __DIR__ . '/../kvkunden/' . $id;"
          " @mkdir($to . '/db', 0755, true);"
          " foreach (glob(__DIR__ . '/../incoming/' . $id . '*') as $f) rename($f, $to . '/' . "
          "basename($f));"
          " foreach (glob(__DIR__ . '/site/db/*.php') as $f) copy($f, $to . '/db/' . basename($f));"
          " copy(__DIR__ . '/site/kvws_unusedfiles.php', $to . '/kvws_unusedfiles.php');"
          " file_put_contents($to . '/kvws_stat.php', '<?php');");
  d.Write("www/kvadmin_v2/kvws_importstart.php", "<?php");
  d.Write("www/kvadmin_v2/kvws_uebertragen.php", "<?php");
  fs::copy(site, t.www() / "kvadmin_v2" / "site", fs::copy_options::recursive);
}

TEST_F(WebsiteTest, ServiceModeRunsThroughTheHostingService) {
  StartHostingService(*this);
  RunPortal();
  EXPECT_EQ(Errors(), "");
  EXPECT_EQ(SiteRows("kv_k4711dat"), ListingsToSend());
  EXPECT_GT(SiteRows("kv_k4711pic"), 0);
  EXPECT_TRUE(Said("Sie finden Ihre Objekte unter < 127.0.0.1:" + std::to_string(php->port()) +
                   "/buero >"));
  EXPECT_TRUE(Said("http://127.0.0.1:" + std::to_string(php->port()) + "/buero"));
  EXPECT_EQ(php->Complaints(), "");
  EXPECT_NE(Columns("kv_k4711dat").find("Wohnflaeche_VON"), std::string::npos);
  EXPECT_GT(Count(PortalLinks("status=1")), 0);
  EXPECT_FALSE(fs::exists(www() / "kvkunden" / "K4711" / "K4711_1.big"));
}

TEST_F(WebsiteTest, ServiceModeRemovesAnUploadTheServiceDidNotTake) {
  StartHostingService(*this);
  Fault("/kvws_copytransfer.php 500");
  RunPortal();
  EXPECT_TRUE(Said("kvws_copytransfer.php konnte nicht gestartet werden.")) << Errors();
  EXPECT_EQ(SiteFiles("incoming"), "");
  EXPECT_EQ(Count(PortalLinks("status<>0")), 0);
}

TEST_F(WebsiteTest, ACustomerIdThatIsNoPlainFolderNameIsRefusedBeforeAnythingIsBuilt) {
  for (const char* id : {"../up", "a/b", "it's", "x\\y"}) {
    lines.clear();
    Ini("WebServer", "ID", id);
    RunPortal();
    EXPECT_TRUE(Said("ist kein gültiger Ordnername")) << id;
    EXPECT_FALSE(fs::exists(dir / "work" / "kvws")) << id;
  }
}

TEST_F(WebsiteTest, ACustomerIdThatMakesNoPlainTableNameIsRefusedInBothModes) {
  StartSite();
  for (const char* id : {"K-1001", "Büro", "a b", "k.1"}) {
    for (const bool service : {false, true}) {
      SCOPED_TRACE(std::string(id) + (service ? " (service mode)" : ""));
      lines.clear();
      Ini("WebServer", "ID", service ? "" : id);
      Exec(std::string("update Boersen set zipping=") + (service ? "1" : "0") + ", loginname=" +
           cUtil::SqlStr(Variant(std::string(id))) + " where boersen_name='Eigene Homepage'");
      Ini("WebServer", "SERVICE_HOST", "127.0.0.1:" + std::to_string(php->port()));
      RunPortal();
      EXPECT_TRUE(Said("Die Kundennummer '" + std::string(id) +
                       "' ergibt keinen gültigen Tabellennamen: erlaubt sind nur die Buchstaben "
                       "a-z, die Ziffern 0-9 und _."))
          << Errors();
      EXPECT_FALSE(fs::exists(dir / "work" / "kvws"));
      EXPECT_EQ(SiteFiles(""), "");
    }
  }
}

}  // namespace
}  // namespace fern::testing
