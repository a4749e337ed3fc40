// Whole runs of the web-site export against loopback FTP, php -S and MariaDB.
#include <gtest/gtest.h>

#include "website_fixture.h"

namespace fern::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPortal =
    "boersen_dsn in (select DSN from Boersen where boersen_name='Eigene Homepage')";

TEST_F(WebsiteTest, OwnServerRunImportsTheSiteAndThenWritesTheStatus) {
  StartSite();
  RunPortal();
  EXPECT_EQ(Errors(), "") << php->Log();
  EXPECT_TRUE(Said("Ende der Übertragung an:"));
  EXPECT_EQ(php->Complaints(), "");
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
  EXPECT_GT(Count(std::string("select count(*) from boersenobj where status=1 and ") + kPortal), 0);
  // Nothing of the transfer stays: no container on the site, no work folder here.
  for (const auto& e : fs::recursive_directory_iterator(www()))
    EXPECT_NE(e.path().extension(), ".big") << e.path();
  EXPECT_FALSE(fs::exists(dir / "work" / "kvws" / "WS_Eigene_Homepage"));
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
      {"import dies with 500", [](WebsiteTest& t) { t.Fault("/kvws_import1.php 500"); },
       "Datenimportscript 1 konnte nicht ausgeführt werden. (HTTP 500)"},
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
    lines.clear();
    std::error_code ec;
    fs::remove(dir / "faults.txt", ec);
    Ini("WebServer", "DEBUGMODE", "0");
    if (!ftp) StartSite();
    Ini("WebServer", "HTTP_PORT", std::to_string(php->port()));
    Exec("update Boersen set webdb_host='" + Database().host() +
         "' where boersen_name='Eigene Homepage'");
    c.arrange(*this);
    RunPortal();
    EXPECT_TRUE(Said(c.said)) << Errors();
    EXPECT_FALSE(Said("Ende der Übertragung an:"));
    EXPECT_EQ(Count(std::string("select count(*) from boersenobj where status<>0 and ") + kPortal),
              0);
    EXPECT_FALSE(Said("PASSWORT=")) << "a query in a message";
  }
  EXPECT_EQ(php->Complaints(), "");
}

TEST_F(WebsiteTest, ServiceModeRunsThroughTheHostingService) {
  StartSite("anonymous", "K4711");
  Exec("update Boersen set zipping=1, loginname='K4711', password='" + Cipher("svc pw&1") +
       "' where boersen_name='Eigene Homepage'");
  Ini("WebServer", "SERVICE_HOST", "127.0.0.1:" + std::to_string(php->port()));
  Ini("WebServer", "SERVICE_WEBROOT", www().string());
  // Nobody would see a browser: the unattended run names the site's address instead.
  SetMessageAnswerer(
      std::make_shared<UnattendedAnswerer>([](const std::string&, const std::string&) {}));
  // The hosting service: account check, copy from the incoming folder with the site's own
  // scripts, import start, statistics; its master connection is the test's database.
  ScratchDir& d = dir;
  const fs::path site = fs::path(FERN_SOURCE_DIR) / "demo" / "website" / "system" / "webserver";
  d.Write("www/kvadmin_v2/kvws_checkpwd.php",
          "<?php if ($_GET['PASSWORT'] !== 'svc pw&1' || $_GET['KDNR'] !== 'K4711') { echo "
          "'OKFalsches Passwort#'; exit; }"
          " echo 'OKOK#SERVER' . $_SERVER['HTTP_HOST'] . '#ALIASbuero#MAXZIP5#';");
  d.Write("www/kvadmin_v2/kvws_dbconnectmaster.php",
          "<?php $master_host='" + Database().host() + "'; $master_dbname='" + database +
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
  fs::copy(site, www() / "kvadmin_v2" / "site", fs::copy_options::recursive);
  RunPortal();
  EXPECT_EQ(Errors(), "");
  EXPECT_TRUE(Said("Sie finden Ihre Objekte unter < 127.0.0.1:" + std::to_string(php->port()) +
                   "/buero >"));
  EXPECT_TRUE(Said("http://127.0.0.1:" + std::to_string(php->port()) + "/buero"));
  EXPECT_EQ(php->Complaints(), "");
  EXPECT_NE(Columns("kv_k4711dat").find("Wohnflaeche_VON"), std::string::npos);
  EXPECT_GT(Count(std::string("select count(*) from boersenobj where status=1 and ") + kPortal), 0);
  EXPECT_FALSE(fs::exists(www() / "kvkunden" / "K4711" / "K4711_1.big"));
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

}  // namespace
}  // namespace fern::testing
