// Tracked listings, activities and their attachments, as the site's MariaDB receives them.
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "demo/demo_data.h"
#include "platform/cp1252.h"
#include "website/sql_literals.h"
#include "website_fixture.h"

namespace fern::testing {
namespace {

namespace fs = std::filesystem;
using host::demo_data::Key;
namespace dd = host::demo_data;

class TrackingTest : public WebsiteTest {
 protected:
  void SetUp() override {
    WebsiteTest::SetUp();
    database = Database().NewDatabase();
    Exec("update Boersen set webdb_host='" + Database().host() + "', webdb_database='" + database +
         "' where boersen_name='Eigene Homepage'");
    PrepareExporter();
    ASSERT_TRUE(web->CreateDBDataScript(*portal));
    ASSERT_TRUE(web->CreateFLDARTList());
    // The tracking steps alone, after a listing step that wrote every listing.
    std::vector<cWebserverV2::ImportStep> steps;
    for (auto& step : web->dataSteps)
      if (step.name.find("TRACK") != std::string::npos) steps.push_back(step);
    web->dataSteps = steps;
    for (int n = 1; n <= dd::kListings; ++n)
      web->trackingArray.push_back(
          {website::StripBraces(Key(dd::kObj, n)), "FB-" + std::to_string(1000 + n), 0});
    const std::string p = "kv_webserver";
    Site("create table " + p +
         "objtrack (OBJDSN VARCHAR(40), OBJKENNUNG TEXT, HEADLINE TEXT, STRASSE TEXT, PLZ TEXT, "
         "ORT TEXT, LOGIN TEXT, PASSWORT TEXT, USERFIRMA TEXT, USERNAME TEXT, USERSTRASSE TEXT, "
         "USERPLZ TEXT, USERORT TEXT, PARENTDSN VARCHAR(40)) DEFAULT CHARSET=latin1;"
         "create table " +
         p +
         "akttrack (AKTDSN VARCHAR(40), OBJDSN VARCHAR(40), OBJKENNUNG TEXT, DATUM DATETIME, "
         "BETREFF TEXT, NOTIZ TEXT, STATUS INT, AktArt TEXT) DEFAULT CHARSET=latin1;"
         "create table " +
         p +
         "trackfiles (AKTDSN VARCHAR(40), FILEDSN VARCHAR(40), FILENAME TEXT) DEFAULT "
         "CHARSET=latin1;"
         // The import adds the columns of the listing and request tables first.
         "create table " +
         p + "dat (DSN VARCHAR(40)) DEFAULT CHARSET=latin1; create table " + p +
         "interessenten (INT_DSN VARCHAR(40)) DEFAULT CHARSET=latin1;");
  }

  fs::path SiteDir() const {
    return dir / "work" / "kvws" / "WS_Eigene_Homepage" / web->settings.customerFolder;
  }
  void Site(const std::string& sql) { Database().Query(sql, database); }
  // The query's rows as UTF-8, columns joined by "|": every byte as stored, through hex().
  std::string Read(const std::string& columns, const std::string& rest) {
    std::string select;
    std::string cols = columns + ",";
    for (size_t at = 0, comma; (comma = cols.find(',', at)) != std::string::npos; at = comma + 1)
      select += ",ifnull(" + cols.substr(at, comma - at) + ",'~')";
    const std::string out =
        Database().Query("select hex(concat_ws('|'" + select + ")) " + rest, database);
    std::string text;
    for (size_t i = 0; i + 1 < out.size(); i += 2) {
      if (out[i] == '\n') {
        text += '\n';
        --i;
        continue;
      }
      text += static_cast<char>(std::stoi(out.substr(i, 2), nullptr, 16));
    }
    return cp1252::ToUtf8(text);
  }
  // Runs the import as the site's web server would, every file in turn.
  void Import() {
    ASSERT_TRUE(web->CreateImportScript(*portal));
    for (int n = 1; n <= web->ImportFileCount(); ++n) {
      ProcessOptions o;
      o.captureStdout = o.captureStderr = true;
      o.workingDir = SiteDir() / "db";
      o.timeout = std::chrono::seconds(30);
      o.cancelOnEsc = false;
      const ProcessResult r =
          RunProcess({"php", "-d", "error_reporting=E_ALL", "-d", "display_errors=stderr", "-r",
                      "include 'kvws_import" + std::to_string(n) + ".php';"},
                     o);
      EXPECT_EQ(r.out + r.err, "") << n;
    }
  }
};

TEST_F(TrackingTest, OnlyTrackedListingsReachTheSiteWithTheirActivitiesAndAttachments) {
  // An attachment given by its path is copied; one stored empty is left out; an activity whose
  // last attachment went loses the row the site still has.
  const fs::path plan = dir / "Lageplan 2.txt";
  std::ofstream(plan) << "Lageplan";
  Exec("insert into AKTFILES (DSN, AKT_DSN, FILENAME, HASATTACH, BLOB_DSN) values ('" +
       Key(dd::kAktFile, 30) + "', '" + Key(dd::kAkt, 21) + "', " +
       cUtil::SqlStr(Variant(plan.string())) + ", 1, '" + Key(dd::kBlob, 30) + "')");
  Exec("insert into AKTFILES (DSN, AKT_DSN, FILENAME, HASATTACH, BLOB_DSN) values ('" +
       Key(dd::kAktFile, 31) + "', '" + Key(dd::kAkt, 21) + "', 'leer.txt', 1, '" +
       Key(dd::kBlob, 31) + "')");
  Exec("insert into KVBLOB (DSN, KIND, FILENAME, DATA) values ('" + Key(dd::kBlob, 31) +
       "', 'FILE', 'leer.txt', X'')");
  // One the host's store doesn't have is left out, and the attachments after it still go.
  Exec("insert into AKTFILES (DSN, AKT_DSN, FILENAME, HASATTACH, BLOB_DSN) values ('" +
       Key(dd::kAktFile, 32) + "', '" + Key(dd::kAkt, 21) + "', 'fehlt.txt', 1, '" +
       Key(dd::kBlob, 32) + "')");
  const std::string gone = website::StripBraces(Key(dd::kAkt, 3));  // status 4, no attachment
  Site("insert into kv_webservertrackfiles values ('" + gone + "', 'f', 'alt.txt')");

  Import();

  std::ifstream script(SiteDir() / "db" / "kvws_import1.php", std::ios::binary);
  const std::string statements =
      cp1252::ToUtf8(std::string(std::istreambuf_iterator<char>(script), {}));
  for (const char* statement :
       {"insert into $table_objtrack (OBJDSN, OBJKENNUNG, HEADLINE, STRASSE, PLZ, ORT, LOGIN, "
        "PASSWORT, USERFIRMA, USERNAME, USERSTRASSE, USERPLZ, USERORT, PARENTDSN ) values "
        "('DE000002-0000-4000-8000-000000000001','FB-1001','Haus in Hamburg',"
        "'Mönckebergstraße 1','20095','Hamburg','','','','','','','','')",
        "insert into $table_akttrack (AKTDSN, OBJDSN, OBJKENNUNG, DATUM, STATUS, AktArt) values "
        "('DE00000B-0000-4000-8000-000000000005', 'DE000002-0000-4000-8000-000000000003',"
        "'FB-1003','2026-11-15 10:00:00','1','Besichtigung')",
        "delete from $table_trackfiles where AKTDSN='DE00000B-0000-4000-8000-000000000004'",
        "insert into $table_akttrack (AKTDSN, OBJDSN, OBJKENNUNG, DATUM) values "
        "('DE00000B-0000-4000-8000-000000000004', 'DE000002-0000-4000-8000-000000000002',"
        "'FB-1002','2026-11-14 11:00:00')"})
    EXPECT_NE(statements.find(statement), std::string::npos) << statement;

  // The fields of headline and street carry codes of their own: their internal names count.
  EXPECT_EQ(Read("OBJKENNUNG,HEADLINE,STRASSE,PLZ,ORT,LOGIN,PASSWORT,USERFIRMA,USERNAME,"
                 "USERSTRASSE,USERPLZ,USERORT,PARENTDSN",
                 "from kv_webserverobjtrack order by OBJKENNUNG"),
            "FB-1001|Haus in Hamburg|Mönckebergstraße 1|20095|Hamburg||||||||\n"
            "FB-1002|Grundstück in München|Sendlinger Straße 2|80331|München||||||||\n"
            "FB-1003|Büro in Köln|Hohe Straße 3|50667|Köln|rita@eigentuemer.example|R2026\\$x|"
            "Röhrig & Söhne <GmbH> {${phpinfo()}}|Rita &#34;Röhrig&#34; O&#39;Brien|Am Bach 1|"
            "D-50667|Köln|");
  // Listing 4 is not tracked: its activity stays at home although the listing step listed it.
  // Notes arrive as text without markup; the status-5 row holds the date only.
  EXPECT_EQ(Read("OBJKENNUNG,DATUM,BETREFF,NOTIZ,STATUS,AktArt",
                 "from kv_webserverakttrack order by OBJKENNUNG, DATUM"),
            "FB-1001|2026-11-10 09:20:00|Preis &lt;b&gt;&#34;Verhandlung&#34;&lt;/b&gt; &amp; "
            "Co&#39;s $x|Angebot: 1.250 € &#34;fest&#34; für O&#39;Brien&#13;&#10;C:\\Daten\\ $x "
            "{${phpinfo()}} Größe &lt;100&gt;|3|Exposé versandt\n"
            "FB-1001|2026-11-11 09:21:00|Exposé mit Anlagen|Unterlagen anbei.&#13;&#10;Gruß|4|"
            "Telefonat\n"
            "FB-1001|2026-11-11 10:00:00|Besichtigung FB-1001|~|2|Besichtigung\n"
            "FB-1001|2026-11-12 11:00:00|Exposé versandt FB-1001|Interessent sehr angetan|3|"
            "Exposé versandt\n"
            "FB-1002|2026-11-13 10:00:00|Besichtigung FB-1002|Interessent sehr angetan|4|"
            "Besichtigung\n"
            "FB-1002|2026-11-14 11:00:00|~|~|~|~\n"
            "FB-1003|2026-11-12 09:22:00|~|~|~|~\n"
            "FB-1003|2026-11-15 10:00:00|~|~|1|Besichtigung\n"
            "FB-1003|2026-11-16 11:00:00|Exposé versandt FB-1003|~|2|Exposé versandt");
  EXPECT_TRUE(Said("WARNUNG: HTML-Script in Aktivität Exposé versandt A-20"));

  // The old row of activity 3 is gone; the empty file is neither listed nor left in the tree.
  const std::string a21 = website::StripBraces(Key(dd::kAkt, 21)), b = "DE00000D-0000-4000-8000-0";
  EXPECT_EQ(Read("AKTDSN,FILEDSN,FILENAME", "from kv_webservertrackfiles order by FILENAME"),
            a21 + "|" + b + "00000000015|Energieausweis.txt\n" + a21 + "|" + b +
                "00000000014|Grundriss_EG__final_.txt\n" + a21 + "|" + b +
                "0000000001E|Lageplan_2.txt\n" + website::StripBraces(Key(dd::kAkt, 22)) + "|" + b +
                "00000000017|Protokoll.txt");
  std::set<std::string> files;
  for (const auto& e : fs::directory_iterator(SiteDir() / "trackfiles")) {
    std::ifstream in(e.path());
    files.insert(e.path().filename().string() + "=" +
                 std::string(std::istreambuf_iterator<char>(in), {}));
  }
  EXPECT_EQ(files, (std::set<std::string>{
                       b + "00000000014-Grundriss_EG__final_.txt=Grundriss Erdgeschoss\r\n",
                       b + "00000000015-Energieausweis.txt=Energieausweis Klasse B\r\n",
                       b + "00000000017-Protokoll.txt=Besichtigung am Objekt\r\n",
                       b + "0000000001E-Lageplan_2.txt=Lageplan"}));
  EXPECT_TRUE(Said("0 KB große Datei"));
}

TEST(TrackingPlainText, NotesBecomeInertText) {
  const struct {
    const char* note;
    const char* text;
  } cases[] = {
      {"", ""},
      {"Anruf vom Eigentümer, Rückruf erbeten.", "Anruf vom Eigentümer, Rückruf erbeten."},
      {"<p>Interessent <b>sehr</b> angetan</p>", "Interessent sehr angetan"},
      {"vorher<script>alert('x')</script>nachher", "vorhernachher"},
      {"<img src=x onerror=alert(1)>Bild", "Bild"},
      {"Preis &lt;script&gt; &amp; mehr", "Preis &lt;script&gt; &amp; mehr"},
      {"O'Brien sagt \"ja\" zu $x {${phpinfo()}} C:\\Daten\\",
       "O'Brien sagt \"ja\" zu $x {${phpinfo()}} C:\\Daten\\"},
      {"a < b > c & d", "a &lt; b &gt; c &amp; d"},
      {"Zeile 1\r\n  Zeile 2", "Zeile 1\r\n  Zeile 2"},
  };
  for (const auto& c : cases) EXPECT_EQ(cWebserverV2::TrackingPlainText(c.note), c.text) << c.note;
}

}  // namespace
}  // namespace fern::testing
