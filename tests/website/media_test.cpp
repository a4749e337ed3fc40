// Pictures, documents and viewing appointments of the site's listings: the files in the work
// tree, the statements written and the rows MariaDB holds after the import.
#include <gtest/gtest.h>

#include <ctime>

#include "demo/demo_data.h"
#include "platform/host_path.h"
#include "platform/text.h"
#include "platform/text_file.h"
#include "website/sql_literals.h"
#include "website_fixture.h"

namespace fern::testing {
namespace {

namespace fs = std::filesystem;
using host::demo_data::Key;
using host::demo_data::kObj;

class MediaTest : public WebsiteTest {
 protected:
  // An exporter as the listing step has it: settings loaded, the work tree made and the import
  // writer pointed at the tree's db folder.
  void Prepare(bool serviceMode = false) {
    PrepareExporter(serviceMode);
    web->ImportWriter().SetFolder(Site() / "db");
    web->ImportWriter().SetLimits("0", "100000", "0");
  }
  fs::path Site() const { return ResolveHostPath(web->SiteFolder()); }
  // The listing row as the listing step selects it.
  std::shared_ptr<db::Recordset> Listing(int n) {
    return Rows(
        "select STATUS, KURZ, LANG, ADRESSE_ZEIGEN, LETZTE_UEBERTRAGUNG, OBJ.* from BOERSENOBJ "
        "inner join OBJ on BOERSENOBJ.OBJ_DSN = OBJ.DSN where BOERSEN_DSN = '" +
        cUtil::k(portal->Value("DSN")) + "' and OBJ.DSN = '" + Key(kObj, n) + "'");
  }
  void Pictures(int n) {
    auto rs = Listing(n);
    web->currentListingKey = website::StripBraces(Key(kObj, n));
    web->TransferObjectPictures(*rs, *portal);
  }
  // The SQL of every statement line of the first import file, as PHP receives it.
  std::vector<std::string> Statements() {
    web->ImportWriter().CreateImportFooter();
    std::vector<std::string> out;
    const std::string head = "mysqli_query($dbconnection, \"";
    for (const std::string& line : text::SplitLines(ReadText(Site() / "db" / "kvws_import1.php")))
      if (line.rfind(head, 0) == 0)
        out.push_back(line.substr(head.size(), line.find("\") or die(") - head.size()));
    return out;
  }
  // Runs the import file against a fresh database holding the site's two tables.
  std::string Import(const std::string& query) {
    StartSite();
    portal = Rows("select * from Boersen where boersen_name='Eigene Homepage'");
    EXPECT_TRUE(web->CreateDBDataScript(*portal));
    Database().Query(
        "create table kv_webserverpic (DSN VARCHAR(40), URL TEXT, BESCHREIBUNG TEXT, TYP INT, "
        "TYPE INT) DEFAULT CHARSET=latin1; create table kv_webservertermine (TERM_DSN "
        "VARCHAR(40), TERM_DATUM DATETIME, TERM_ENDE VARCHAR(5), TERM_DAT_DSN VARCHAR(40)) "
        "DEFAULT CHARSET=latin1",
        database);
    ProcessOptions o;
    o.captureStdout = o.captureStderr = true;
    o.workingDir = Site() / "db";
    o.timeout = std::chrono::seconds(30);
    o.cancelOnEsc = false;
    const ProcessResult r = RunProcess({"php", "-r", "include 'kvws_import1.php';"}, o);
    EXPECT_EQ(r.out + r.err, "");
    return Database().Query(query, database);
  }
  std::string Files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(Site() / "pic.obj"))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    std::string out;
    for (const std::string& n : names) out += n + "\n";
    return out;
  }
  fs::path HostPictures() const { return host() / "pic.obj" / "fb"; }
};

const char* const kHostileTitle = "Blick 'Süd' \"Garten\" \\ $x {${phpinfo()}} € <b>Terrasse</b>";

TEST_F(MediaTest, PicturesAndDocumentsGoIntoTheWorkTreeUnderTheirSiteNames) {
  // A work folder whose name has capitals and umlauts: only the files' names are changed.
  fs::create_directories(dir / "Überträge");
  Ini("OPTIONS", "TRANSFERPATH", (dir / "Überträge").string());
  const fs::path pics = HostPictures();
  fs::copy_file(pics / "fb3_0.jpg", pics / "Haus Müller_0.JPG");
  fs::copy_file(pics / "fb3_1.jpg", pics / "Haus Müller_1.jpg");
  WriteTextFile(pics / "Haus Müller.txt", std::string(kHostileTitle) + "\nGrundriss\n");
  std::ofstream(pics / "Haus Müller-doc1#Grundriß $x 'EG'.PDF") << "pdf";
  std::ofstream(pics / "haus müller-Doc4.txt") << "text";
  std::ofstream(pics / "Haus Müller-doc3#Skript.php") << "<?php";
  // Names the site can't take: a quote the import would blank out, a letter outside Windows-1252.
  std::ofstream(pics / "Haus Müller-doc5#Plan \"A\".pdf") << "pdf";
  std::ofstream(pics / "Haus Müller-doc6#Łódź.pdf") << "pdf";
  Exec("update obj set DATEI='fb\\Haus Müller' where DSN='" + Key(kObj, 3) + "'");

  const char* pictures =
      "haus mueller_0.jpg\nhaus mueller_1.jpg\ntn_haus mueller_0.jpg\ntn_haus mueller_1.jpg\n";
  // A script among the documents goes to the customer's own server only.
  for (bool service : {true, false}) {
    SCOPED_TRACE(service ? "service mode" : "own server");
    Prepare(service);
    Pictures(3);
    EXPECT_EQ(Files(), std::string("haus mueller-doc1#grundriss $x 'eg'.pdf\n") +
                           (service ? "" : "haus mueller-doc3#skript.php\n") +
                           "haus mueller-doc4.txt\n" + pictures);
  }
  // The own server's run, as the site's import takes it.
  const std::string key = website::StripBraces(Key(kObj, 3));
  const std::vector<std::string> expected = {
      "delete from $table_pic where DSN = '" + key + "'",
      "insert into $table_pic (DSN, URL, BESCHREIBUNG, TYP, TYPE) values ('" + key +
          "','pic.obj/haus mueller_0.jpg','Blick &#39;Süd&#39; &#34;Garten&#34; \\\\ \\$x "
          "{\\${phpinfo()}} € <b>Terrasse</b>',1, 0)",
      "insert into $table_pic (DSN, URL, BESCHREIBUNG, TYP, TYPE) values ('" + key +
          "','pic.obj/haus mueller_1.jpg','Grundriss',2, 0)",
      "insert into $table_pic (DSN, URL, BESCHREIBUNG, TYP, TYPE) values ('" + key +
          "','pic.obj/haus mueller-doc1#grundriss \\$x ''eg''.pdf','Grundriß \\$x &#39;EG&#39;',1, "
          "1)",
      "insert into $table_pic (DSN, URL, BESCHREIBUNG, TYP, TYPE) values ('" + key +
          "','pic.obj/haus mueller-doc3#skript.php','Skript',2, 1)",
      "insert into $table_pic (DSN, URL, BESCHREIBUNG, TYP, TYPE) values ('" + key +
          "','pic.obj/haus mueller-doc4.txt','',3, 1)",
  };
  EXPECT_EQ(Statements(), expected);
  EXPECT_TRUE(Said("Das Bild " + (pics / "Haus Müller_0.JPG").string() + " wird bereitgestellt."));
  EXPECT_TRUE(Said("\\Haus Müller-doc6#Łódź.pdf konnte nicht"));
  EXPECT_EQ(Import("select URL, BESCHREIBUNG, TYP, TYPE from kv_webserverpic order by TYPE, TYP"),
            "pic.obj/haus mueller_0.jpg\tBlick &#39;Süd&#39; &#34;Garten&#34; \\\\ $x "
            "{${phpinfo()}} € <b>Terrasse</b>\t1\t0\n"
            "pic.obj/haus mueller_1.jpg\tGrundriss\t2\t0\n"
            "pic.obj/haus mueller-doc1#grundriss $x 'eg'.pdf\tGrundriß $x &#39;EG&#39;\t1\t1\n"
            "pic.obj/haus mueller-doc3#skript.php\tSkript\t2\t1\n"
            "pic.obj/haus mueller-doc4.txt\t\t3\t1\n");
}

TEST_F(MediaTest, OnlyChangedListingsSendPicturesAndUnitsMayTakeTheirParents) {
  // Listing 26 is a unit of listing 1 and has no pictures of its own.
  Exec("update obj set DATEI='fb\\keine' where DSN='" + Key(kObj, 26) + "'");
  Exec(
      "update boersenobj set letzte_uebertragung=(select TOUCH from obj where obj.DSN="
      "boersenobj.obj_dsn) where obj_dsn='" +
      Key(kObj, 5) + "'");
  struct Case {
    int listing;
    const char* inherit;
    std::vector<std::string> urls;  // of the rows written; none at all without the delete
    bool written;
  };
  const Case cases[] = {
      {5, "1", {}, false},  // unchanged since its last transfer
      {1,
       "1",
       {"pic.obj/fb1_online.jpg", "pic.obj/fb1_1.jpg", "pic.obj/fb1_2.jpg",
        "pic.obj/fb1-doc1#grundriss erdgeschoss.pdf", "pic.obj/fb1-doc2.pdf"},
       true},
      {26, "1", {"pic.obj/fb1_online.jpg", "pic.obj/fb1_1.jpg", "pic.obj/fb1_2.jpg"}, true},
      {26, "0", {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.listing) + " inherit " + c.inherit);
    Ini("OPTIONS", "VERERBTE_OBJEKTBILDER", c.inherit);
    Prepare();
    Pictures(c.listing);
    web->ImportWriter().CreateImportFooter();
    const fs::path file = Site() / "db" / "kvws_import1.php";
    ASSERT_EQ(fs::exists(file), c.written);
    if (!c.written) {
      EXPECT_EQ(Files(), "");
      continue;
    }
    std::vector<std::string> urls;
    for (const std::string& s : Statements()) {
      const size_t p = s.find("','pic.obj/");
      if (p != std::string::npos) urls.push_back(s.substr(p + 3, s.find('\'', p + 3) - p - 3));
    }
    EXPECT_EQ(urls, c.urls);
  }
}

// The picture folder is searched once for all listings of a run; what changes in it between two
// listings counts for the next one.
TEST_F(MediaTest, DocumentsAddedOrRemovedBetweenListingsCountForTheNextListing) {
  const fs::path pics = HostPictures();
  Prepare();
  Pictures(1);
  std::ofstream(pics / "FB2-DOC7#Neu.Pdf") << "pdf";
  fs::create_directories(pics / "fb2-doc8.pdf");  // a folder is no document
  fs::remove(pics / "fb1-Doc2.PDF");
  Pictures(2);
  Pictures(1);
  std::vector<std::string> urls;
  for (const std::string& s : Statements()) {
    const size_t p = s.find("','pic.obj/fb");
    if (p != std::string::npos && s.find("-doc", p) != std::string::npos)
      urls.push_back(s.substr(p + 3, s.find('\'', p + 3) - p - 3));
  }
  EXPECT_EQ(urls, (std::vector<std::string>{
                      "pic.obj/fb1-doc1#grundriss erdgeschoss.pdf", "pic.obj/fb1-doc2.pdf",
                      "pic.obj/fb2-doc1#energieausweis.pdf", "pic.obj/fb2-doc7#neu.pdf",
                      "pic.obj/fb1-doc1#grundriss erdgeschoss.pdf"}));
}

// "yyyy-mm-dd" and "dd.mm.yyyy" of the day `offset` days from today.
std::pair<std::string, std::string> Day(int offset) {
  std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  t.tm_mday += offset;
  t.tm_hour = 12;
  std::mktime(&t);
  char iso[16], german[16];
  std::strftime(iso, sizeof iso, "%Y-%m-%d", &t);
  std::strftime(german, sizeof german, "%d.%m.%Y", &t);
  return {iso, german};
}

TEST_F(MediaTest, ComingAppointmentsOfTheListingAndItsParent) {
  // A kind name that a raw insertion into the host query would break.
  const std::string kind = "Termin 'Besichtigung' (Web)";
  Exec("update AKTIVITÄTENARTEN set Name=" + cUtil::SqlStr(Variant(kind)) +
       " where Name='Termin Besichtigung (Webserver)'");
  Ini("WebServer", "VISITATION", kind);
  Prepare();
  auto key = [](int n) { return website::StripBraces(Key(kObj, n)); };
  web->CreateImportScript_InsertTable_TERMINE(key(1), "");
  web->CreateImportScript_InsertTable_TERMINE(key(27), key(2));
  for (int n : {4, 5, 6}) web->CreateImportScript_InsertTable_TERMINE(key(n), "");

  auto akt = [](int n) { return website::StripBraces(Key(host::demo_data::kAkt, n)); };
  auto row = [&](int a, const std::string& start, const std::string& end, int listing) {
    return "insert into $table_termine (TERM_DSN,TERM_DATUM,TERM_ENDE,TERM_DAT_DSN) values('" +
           akt(a) + "','" + start + "'," + end + ",'" + key(listing) + "')";
  };
  const std::vector<std::string> expected = {
      row(101, Day(2).first + " 14:30", "NULL", 1),
      row(102, Day(9).first + " 10:00", "'11:30'", 1),
      row(104, Day(3).first + " 09:15", "NULL", 27),
      row(103, Day(5).first + " 16:00", "'17:00'", 27),
      row(105, Day(0).first + " 00:05", "NULL", 4),
  };
  EXPECT_EQ(Statements(), expected);
  EXPECT_TRUE(Said("Besichtigungstermin am " + Day(2).second + " um 14:30 wird bereitgestellt."));
  EXPECT_TRUE(Said("Besichtigungstermin am " + Day(9).second + " von 10:00 bis 11:30 wird"));
  EXPECT_EQ(Import("select TERM_DSN, TERM_DATUM, TERM_ENDE, TERM_DAT_DSN from "
                   "kv_webservertermine order by TERM_DATUM"),
            akt(105) + "\t" + Day(0).first + " 00:05:00\tNULL\t" + key(4) + "\n" +      //
                akt(101) + "\t" + Day(2).first + " 14:30:00\tNULL\t" + key(1) + "\n" +  //
                akt(104) + "\t" + Day(3).first + " 09:15:00\tNULL\t" + key(27) + "\n" + akt(103) +
                "\t" + Day(5).first + " 16:00:00\t17:00\t" + key(27) + "\n" + akt(102) + "\t" +
                Day(9).first + " 10:00:00\t11:30\t" + key(1) + "\n");
}

}  // namespace
}  // namespace fern::testing
