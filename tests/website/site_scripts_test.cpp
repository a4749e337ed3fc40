// The configuration scripts and import scripts as PHP runs them.
#include <gtest/gtest.h>

#include "platform/cp1252.h"
#include "platform/text_file.h"
#include "website/sql_literals.h"
#include "website_fixture.h"

namespace fern::testing {
namespace {

namespace fs = std::filesystem;

class SiteScriptsTest : public WebsiteTest {
 protected:
  // An exporter with settings loaded and the work tree made, as the run has it before the import.
  void Prepare(const std::string& id = "") {
    Ini("WebServer", "ID", id);
    PrepareExporter();
  }
  fs::path Site() const {
    return dir / "work" / "kvws" / "WS_Eigene_Homepage" / web->settings.customerFolder;
  }
  ProcessResult Php(const std::string& code) {
    ProcessOptions o;
    o.captureStdout = o.captureStderr = true;
    o.workingDir = Site() / "db";
    o.timeout = std::chrono::seconds(30);
    o.cancelOnEsc = false;
    return RunProcess(
        {"php", "-d", "error_reporting=E_ALL", "-d", "display_errors=stderr", "-r", code}, o);
  }
};

TEST_F(SiteScriptsTest, ConfigurationScriptsParseAndHoldAwkwardValues) {
  const std::string awkward = "it's C:\\dir\\ $HOME {${x}} \"q\"";
  Exec(
      "update Boersen set webdb_host='h''st\\', webdb_database='d$b', webdb_user='u''\\$', "
      "webdb_password='" +
      Cipher(awkward) + "' where boersen_name='Eigene Homepage'");
  Exec("update std set FIRMA1NAME='Müller''s \\ $Immobilien', WSCSSDATEI='Style.CSS'");
  Session().g_StdRS = Rows("select * from std");
  Prepare("K'1");  // the exporter refuses such an ID in a run; the scripts must still parse
  ASSERT_TRUE(web->CreateDBDataScript(*portal));
  ASSERT_TRUE(web->CreateDataScript(*portal));
  for (const char* script : {"classes/dbdata.php", "classes/data.php"}) {
    const ProcessResult lint = RunTool({"php", "-l", (Site() / script).string()});
    EXPECT_TRUE(lint.Succeeded()) << script << lint.out;
  }
  const ProcessResult r =
      Php("include '../classes/dbdata.php'; include '../classes/data.php'; echo implode('|', "
          "array($host, $dbname, $user, $passwd, $trackingpwd, $eigenname, $eigenwscssdatei, "
          "$table_dat, $table_akttrack, $schaltergesuche, $languages['2057']));");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(cp1252::ToUtf8(r.out), "h'st\\|d$b|u'\\$|" + awkward + "|" + awkward +
                                       "|Müller&#39;s \\ $Immobilien|css/style.css|kv_k'1dat|"
                                       "kv_k'1akttrack|0|English");
}

TEST_F(SiteScriptsTest, ImportScriptsBuildTheColumnsAndKeepHostileValues) {
  StartSite();
  Prepare();
  ASSERT_TRUE(web->CreateDBDataScript(*portal));
  Exec("delete from FLDART");
  const char* fields[][3] = {{"Preis", "1", "1"},   {"select", "6", "1"}, {"2024", "6", "2"},
                             {"Flaeche", "6", "1"}, {"Fläche", "1", "3"}, {"Art", "0", "2"},
                             {"Ärger", "3", "1"},   {"Notiz", "6", "0"}};
  int n = 0;
  for (const auto& f : fields)
    Exec(
        "insert into FLDART (DSN, KÜRZEL, TYP, WEBSERVERSTATUS, AKTIV, OBJ) values "
        "('{00000000-0000-"
        "0000-0000-" +
        std::to_string(100000000000 + ++n) + "}', " + cUtil::SqlStr(Variant(f[0])) + ", " + f[1] +
        ", " + f[2] + ", 1, 1)");
  ASSERT_TRUE(web->CreateFLDARTList());
  // The site's table as its set-up script leaves it, then what the import adds and writes.
  Database().Query(
      "create table kv_webserverdat (DSN VARCHAR(40), KENNUNG TEXT, EXPOSE TEXT) "
      "DEFAULT CHARSET=latin1; create table kv_webserverinteressenten (INT_DSN VARCHAR(40)) "
      "DEFAULT CHARSET=latin1",
      database);
  const std::string hostile = "O'Neill \"q\" \\ \\' $x {${phpinfo()}} äöü € \r\nEnde\\";
  web->dataSteps.clear();
  web->dataSteps.push_back({"Hostile", [&](db::Recordset&) {
                              web->WriteImportStatement(
                                  "insert into $table_dat (DSN, KENNUNG, Preis) values ('h1', " +
                                  website::SqlValue(Variant(hostile)) + ", 1234567.25)");
                            }});
  ASSERT_TRUE(web->CreateImportScript(*portal));
  ASSERT_EQ(web->ImportFileCount(), 1);
  const ProcessResult r = Php("include 'kvws_import1.php';");
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(Columns("kv_webserverdat"),
            "DSN\nKENNUNG\nEXPOSE\n2024\nAerger\nAerger_LCID2057\nArt\nArt_LCID2057\nArtWERT\n"
            "Flaeche_VON\nFlaeche\nPreis\nselect\nEXPOSE_LCID2057\nKURZEXPOSE_LCID2057\n"
            "TEXTOBJEKT_LCID2057\nTEXTLAGE_LCID2057\nTEXTAUSSTATTUNG_LCID2057\n"
            "TEXTBEBAUBARKEIT_LCID2057\nTEXTERSCHLIESSUNG_LCID2057\nTEXTFREI_LCID2057\n"
            "TEXTEXTRA1_LCID2057\nTEXTEXTRA2_LCID2057\nTEXTEXTRA3_LCID2057\nTEXTEXTRA4_LCID2057\n");
  EXPECT_TRUE(Said("Die Feldart 'Flaeche' kommt doppelt vor!"));
  std::string expected = cp1252::FromUtf8(hostile);
  for (char& c : expected)
    if (c == '"') c = ' ';
  std::string hex;
  for (unsigned char c : expected) {
    static const char* digits = "0123456789ABCDEF";
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  EXPECT_EQ(Database().Query("select hex(KENNUNG), Preis from kv_webserverdat", database),
            hex + "\t1234567.25\n");
}

TEST_F(SiteScriptsTest, AFailingStepInAnUnattendedRunStopsTheImport) {
  SetMessageAnswerer(
      std::make_shared<UnattendedAnswerer>([](const std::string&, const std::string&) {}));
  Prepare();
  web->dataSteps.clear();
  web->dataSteps.push_back({"Kaputt", [](db::Recordset&) { throw HostError(5, "kaputt", "x"); }});
  bool later = false;
  web->dataSteps.push_back({"Danach", [&](db::Recordset&) { later = true; }});
  ASSERT_TRUE(web->CreateFLDARTList());
  EXPECT_FALSE(web->CreateImportScript(*portal));
  EXPECT_FALSE(later);
  EXPECT_TRUE(Said("ERROR - in Sub (Kaputt): kaputt"));
  EXPECT_TRUE(Said("Trotzdem fortsezten?"));
}

TEST_F(SiteScriptsTest, LineBreaksInsideValuesStayAsTheyAre) {
  // A lone LF in a company name, a lone CR in the raw partner links, CR LF in a site text.
  Exec(
      "update std set FIRMA1NAME='Haus\nGarten', WSPARTNERLINKS='<a>x</a>\r<a>y</a>', "
      "WSHOME='eins\r\nzwei'");
  Session().g_StdRS = Rows("select * from std");
  Prepare();
  ASSERT_TRUE(web->CreateDataScript(*portal));
  const std::string bytes = ReadBytes(Site() / "classes" / "data.php");
  EXPECT_NE(bytes.find("$eigenname='Haus\nGarten'; \r\n"), std::string::npos);
  EXPECT_NE(bytes.find("'<a>x</a>\r<a>y</a>'; \r\n"), std::string::npos);
  EXPECT_NE(bytes.find("'eins<BR>zwei'; \r\n"), std::string::npos);
  // Between the lines CR LF, and nowhere else a lone line end.
  size_t lone = 0;
  for (size_t i = 0; i < bytes.size(); ++i)
    if ((bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r')) ||
        (bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n')))
      ++lone;
  EXPECT_EQ(lone, 2u);
  const ProcessResult lint = RunTool({"php", "-l", (Site() / "classes" / "data.php").string()});
  EXPECT_TRUE(lint.Succeeded()) << lint.out;
}

TEST_F(SiteScriptsTest, AnImportFileThatCantBeWrittenFailsTheImport) {
  Ini("WebServer", "MAXLINES", "1");  // one statement per file
  Prepare();
  ASSERT_TRUE(web->CreateFLDARTList());
  ASSERT_TRUE(web->CreateImportScript(*portal));
  // A file of the listing step: the one with the second listing row.
  int middle = 0, rows = 0;
  for (int k = 1; k <= web->ImportFileCount() && !middle; ++k)
    if (ReadText(Site() / "db" / ("kvws_import" + std::to_string(k) + ".php"))
                .find("insert into $table_dat") != std::string::npos &&
        ++rows == 2)
      middle = k;
  ASSERT_GT(middle, 0);
  const int whole = web->ImportFileCount();
  ASSERT_GT(whole, middle + 1);

  lines.clear();
  Prepare();
  ASSERT_TRUE(web->CreateFLDARTList());
  fs::create_symlink("/dev/full",
                     Site() / "db" / ("kvws_import" + std::to_string(middle) + ".php"));
  EXPECT_FALSE(web->CreateImportScript(*portal));
  EXPECT_TRUE(Said("konnte nicht geschrieben werden")) << Errors();
  // Nothing written after the failure.
  EXPECT_FALSE(fs::exists(Site() / "db" / ("kvws_import" + std::to_string(middle + 1) + ".php")));
}

TEST_F(SiteScriptsTest, TheDemoCleanUpRemovesTransferFilesAndPicturesNoRowNames) {
  StartSite();
  Prepare();
  ASSERT_TRUE(web->CreateDBDataScript(*portal));
  const fs::path site = www() / "kv_webserver";
  fs::copy(fs::path(FERN_SOURCE_DIR) / "demo" / "website" / "system" / "webserver", site,
           fs::copy_options::recursive);
  fs::copy(Site() / "classes", site / "classes", fs::copy_options::recursive);
  Database().Query(
      "create table kv_webserverpic (DSN VARCHAR(40), URL TEXT, BESCHREIBUNG TEXT, TYP INT, "
      "TYPE INT); insert into kv_webserverpic values ('a', 'pic.obj/a.jpg', '', 1, 0), "
      "('a', 'pic.obj/a-doc1#plan.pdf', '', 1, 1)",
      database);
  for (const char* file :
       {"pic.obj/a.jpg", "pic.obj/tn_a.jpg", "pic.obj/a-doc1#plan.pdf", "pic.obj/b.jpg",
        "pic.obj/tn_b.jpg", "transfer.php", "transfer_1.php", "transfer_2.big", "transfer.dir",
        "db/kvws_import1.php", "db/kvws_import12.php"})
    dir.Write(site / file, "x");
  EXPECT_EQ(HttpStatus("kv_webserver/kvws_unusedfiles.php?countFiles=1&transfer=transfer"), 200);
  EXPECT_EQ(SiteFiles("pic.obj"),
            "kv_webserver/pic.obj/a-doc1#plan.pdf\nkv_webserver/pic.obj/a.jpg\n"
            "kv_webserver/pic.obj/tn_a.jpg\n");
  EXPECT_EQ(SiteFiles("transfer") + SiteFiles("kvws_import"), "");
  EXPECT_TRUE(fs::exists(site / "db" / "kvws_checkdb.php"));
  EXPECT_TRUE(fs::exists(site / "classes" / "dbdata.php"));
  // Without the picture table nothing tells which pictures are unused: they all stay.
  Database().Query("drop table kv_webserverpic", database);
  dir.Write(site / "pic.obj" / "c.jpg", "x");
  EXPECT_EQ(HttpStatus("kv_webserver/kvws_unusedfiles.php?countFiles=1&transfer=transfer"), 200);
  EXPECT_EQ(SiteFiles("pic.obj"),
            "kv_webserver/pic.obj/a-doc1#plan.pdf\nkv_webserver/pic.obj/a.jpg\n"
            "kv_webserver/pic.obj/c.jpg\nkv_webserver/pic.obj/tn_a.jpg\n");
  EXPECT_EQ(php->Complaints(), "");
}

}  // namespace
}  // namespace fern::testing
