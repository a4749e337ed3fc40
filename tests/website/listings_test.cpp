// Listing rows, texts, field values, options, requests and members as the import writes them,
// and as MariaDB reads them back.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "demo/demo_data.h"
#include "platform/cp1252.h"
#include "website/sql_literals.h"
#include "website/text_helpers.h"
#include "website_fixture.h"

namespace fern::testing {
namespace {

namespace fs = std::filesystem;
using host::demo_data::Key;
using host::demo_data::Table;

const std::string kAwkward = "O'Neill \"Villa\" \\ $x {${phpinfo()}} äöü € <b>fett</b>\r\nZeile 2";

std::string Guid(Table t, int n) { return website::StripBraces(Key(t, n)); }

class ListingsTest : public WebsiteTest {
 protected:
  // An exporter as the run has it before the import: settings, work tree, web field list. The
  // teaser and request templates are empty, so the statements don't hang on the placeholders.
  void Prepare() {
    PrepareExporter();
    web->settings.OBJ_KURZEXPOSE.clear();
    web->settings.ANF.clear();
    web->settings.MAXLINES = "100000";
    web->settings.MAXBYTES = "100000";
    ASSERT_TRUE(web->CreateFLDARTList());
  }
  fs::path Db() const {
    return dir / "work" / "kvws" / "WS_Eigene_Homepage" / web->settings.customerFolder / "db";
  }
  // Writes the import with only the steps named, and returns its statements as the file holds
  // them (PHP-escaped), without the column statements and the teaser and key-facts updates,
  // which other parts of the exporter fill.
  std::vector<std::string> Import(const std::vector<std::string>& steps) {
    std::vector<cWebserverV2::ImportStep> keep;
    for (const auto& s : web->dataSteps)
      for (const auto& name : steps)
        if (s.name == name) keep.push_back(s);
    web->dataSteps = keep;
    EXPECT_TRUE(web->CreateImportScript(*portal));
    std::vector<std::string> out;
    for (int f = 1; f <= web->ImportFileCount(); ++f) {
      std::ifstream in(Db() / ("kvws_import" + std::to_string(f) + ".php"), std::ios::binary);
      std::string line;
      const std::string head = "mysqli_query($dbconnection, \"";
      while (std::getline(in, line)) {
        if (line.rfind(head, 0) != 0) continue;
        std::string sql =
            cp1252::ToUtf8(line.substr(head.size(), line.find("\") or die(") - head.size()));
        if (sql.rfind("alter table", 0) == 0 || sql.rfind("SET SESSION", 0) == 0) continue;
        if (sql.find("set KURZEXPOSE=") != std::string::npos ||
            sql.find("set EXPOSE=") != std::string::npos)
          continue;
        out.push_back(sql);
      }
    }
    return out;
  }
  static std::vector<std::string> Matching(const std::vector<std::string>& all,
                                           const std::string& part) {
    std::vector<std::string> out;
    for (const auto& s : all)
      if (s.find(part) != std::string::npos) out.push_back(s);
    return out;
  }
  // The site's tables as its set-up script makes them.
  void SiteTables() {
    Database().Query(
        "create table kv_webserverdat (DSN VARCHAR(40) PRIMARY KEY, MEMBER INT, KENNUNG TEXT, "
        "INTERN TEXT, EART INT, KOLLEGE_KENNUNG TEXT, KURZ INT, LANG INT, ADRESSE INT, "
        "OBJDSN VARCHAR(40), PROVINT TEXT, PROVANB TEXT, EXPOSE TEXT, KURZEXPOSE TEXT, "
        "TEXTOBJEKT TEXT, TEXTLAGE TEXT, TEXTAUSSTATTUNG TEXT, TEXTBEBAUBARKEIT TEXT, "
        "TEXTERSCHLIESSUNG TEXT, TEXTFREI TEXT, TEXTEXTRA1 TEXT, TEXTEXTRA2 TEXT, "
        "TEXTEXTRA3 TEXT, TEXTEXTRA4 TEXT) DEFAULT CHARSET=latin1;"
        "create table kv_webserverfart (DSN VARCHAR(40), KUERZEL TEXT, SPALTENNAME TEXT, "
        "WERT TEXT, BEZEICHNUNG TEXT) DEFAULT CHARSET=latin1;"
        "create table kv_webserverinteressenten (INT_DSN VARCHAR(40) PRIMARY KEY, "
        "INT_HEADLINE TEXT, INT_DETAILS TEXT, INT_ART TEXT, INT_PLZ TEXT, INT_ORT TEXT) "
        "DEFAULT CHARSET=latin1;"
        "create table kv_webserveruser (USER_DSN VARCHAR(40), USER_EMAIL TEXT, USER_NAME TEXT, "
        "USER_ACTIVE CHAR(1)) DEFAULT CHARSET=latin1;"
        "create table kv_webservertermine (TERM_DSN VARCHAR(40), TERM_DATUM DATETIME, "
        "TERM_ENDE VARCHAR(5), TERM_DAT_DSN VARCHAR(40)) DEFAULT CHARSET=latin1;"
        "create table kv_webserverpic (DSN VARCHAR(40), URL TEXT, BESCHREIBUNG TEXT, TYP INT, "
        "TYPE INT) DEFAULT CHARSET=latin1",
        database);
  }
  std::string RunImport() {
    ProcessOptions o;
    o.captureStdout = o.captureStderr = true;
    o.workingDir = Db();
    o.timeout = std::chrono::seconds(60);
    o.cancelOnEsc = false;
    std::string out;
    for (int f = 1; f <= web->ImportFileCount(); ++f) {
      const ProcessResult r =
          RunProcess({"php", "-d", "error_reporting=E_ALL", "-d", "display_errors=stderr", "-r",
                      "include 'kvws_import" + std::to_string(f) + ".php';"},
                     o);
      out += r.out + r.err;
    }
    return out;
  }
  // A site value as the host's text in UTF-8.
  std::string Site(const std::string& column, const std::string& rest) {
    std::string hex = Database().Query("select hex(" + column + ") " + rest, database);
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size() && hex[i] != '\n'; i += 2)
      bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return cp1252::ToUtf8(bytes);
  }
};

TEST(SplitPlzOrt, SplitsPrefixPostcodeAndTown) {
  const struct {
    const char* in;
    const char* country;
    const char* plz;
    const char* ort;
  } cases[] = {
      {"D-50667 Köln", "D-", "50667", "Köln"},
      {"50667 bis 50999 Köln", "", "50", "Köln"},
      {"50667 BIS  50999   Bad  Münster", "", "50", "Bad Münster"},
      {"5 bis 6", "", "", ""},
      {"Köln", "", "", "Köln"},
      {"50667", "", "50667", ""},
      {"", "", "", ""},
  };
  for (const auto& c : cases) {
    std::string plz = "x", ort = "x", country = "x";
    cWebserverV2::SplitPlzOrt(c.in, plz, ort, country);
    EXPECT_EQ(country + "|" + plz + "|" + ort, std::string(c.country) + "|" + c.plz + "|" + c.ort)
        << c.in;
  }
}

TEST_F(ListingsTest, StatementsOfTheDemoListingsRequestsAndMembers) {
  Prepare();
  const auto sql =
      Import({"", "CreateImportScript_InsertTable_INTERESSENTEN",
              "CreateImportScript_InsertTable_FART", "CreateImportScript_InsertTable_USER"});
  const std::string k41 = Guid(host::demo_data::kObj, 41), k1 = Guid(host::demo_data::kObj, 1);

  // The awkward unit: NULL for its missing kind and address flag, its parent's key, the member
  // zone's "Ja"; texts as HTML, escaped for SQL and for the PHP literal.
  EXPECT_EQ(Matching(sql, "insert into $table_dat").back(),
            "insert into $table_dat (DSN,MEMBER,KENNUNG,INTERN,EART,KOLLEGE_KENNUNG,KURZ,LANG,"
            "ADRESSE,OBJDSN,PROVINT,PROVANB) values('" +
                k41 +
                "',1,'FB-2041-''Süd''','intern &#34;geheim&#34;<BR>O&#39;Neill &#34;Villa&#34; "
                "\\\\ \\$x {\\${phpinfo()}} äöü € <b>fett</b><BR>Zeile 2',NULL,'K''1 \\$k "
                "\\\\',1,1,NULL,'" +
                k1 +
                "','3,57 % inkl. MwSt. ''brutto''','O''Neill  Villa  \\\\ \\$x {\\${phpinfo()}} "
                "äöü € <b>fett</b>\\r\\nZeile 2')");
  const auto own = Matching(sql, "where DSN='" + k41 + "'");
  // Inherited texts: the parent's location in both languages, its English equipment.
  EXPECT_EQ(Matching(own, "set TEXTLAGE=")[0],
            "update $table_dat set TEXTLAGE='Zentrale Lage in Hamburg',TEXTLAGE_LCID2057='Central "
            "location in Hamburg' where DSN='" +
                k41 + "'");
  EXPECT_EQ(Matching(own, "set TEXTOBJEKT=")[0],
            "update $table_dat set TEXTOBJEKT='O&#39;Neill &#34;Villa&#34; \\\\ \\$x "
            "{\\${phpinfo()}} äöü € <b>fett</b><BR>Zeile 2',TEXTOBJEKT_LCID2057='Flat with "
            "&#34;view&#34; & &#39;balcony&#39;' where DSN='" +
                k41 + "'");
  // Field values: a range without upper bound, several options joined once, a text; no column
  // for the interval on an option field (Heizungsart) or on a yes/no field (Balkon).
  // Field values, the missing ones from the parent: a range without upper bound, options, a
  // text; no column for the interval on an option field (Heizungsart) or on a yes/no field
  // (Balkon).
  EXPECT_EQ(
      Matching(own, "`Besonderheiten`")[0],
      "update $table_dat set `Wohnflaeche_VON`=151,`Wohnflaeche`=151,`Zimmer_VON`=6,"
      "`Zimmer`=6,`Kaufpreis_VON`=1261000,`Kaufpreis`=1261000,`Baujahr_VON`=1967,"
      "`Baujahr`=1967,`Ueberschrift`='Haus in Hamburg',`Strasse`='Mönckebergstraße 1',"
      "`Land_PLZ_Ort`='DEU-20095 Hamburg',`Ansprechpartner`='Dana Demo',"
      "`Ausstattung`='Garage,Kamin',`AusstattungWERT`='GARAGE,KAMIN',`Grundstuecksflaeche_VON`=250,"
      "`Grundstuecksflaeche`=NULL,`Besonderheiten`='O&#39;Neill &#34;Villa&#34; \\\\ "
      "\\$x {\\${phpinfo()}} äöü € <b>fett</b><BR>Zeile 2' where DSN='" +
          k41 + "'");
  EXPECT_EQ(Matching(own, "_LCID2057`=")[0],
            "update $table_dat set `Ueberschrift_LCID2057`='House in Hamburg',"
            "`Ausstattung_LCID2057`='Garage,Kamin',`AusstattungWERT`='GARAGE,KAMIN' where DSN='" +
                k41 + "'");
  // Several options of a listing of its own are joined in one literal.
  for (const auto& s : Matching(sql, "update $table_dat")) {
    EXPECT_EQ(s.find("Heizungsart"), std::string::npos) << s;
    EXPECT_EQ(s.find("Balkon"), std::string::npos) << s;
  }

  EXPECT_EQ(Matching(sql, "'" + Guid(host::demo_data::kAnf, 600) + "'")[0],
            "insert into $table_interessenten (INT_DSN,INT_HEADLINE,INT_HEADLINE_LCID2057,"
            "INT_DETAILS,INT_DETAILS_LCID2057,INT_ART,INT_PLZ,INT_ORT) values ('" +
                Guid(host::demo_data::kAnf, 600) +
                "','O&#39;Neill &#34;Villa&#34; \\\\ \\$x {\\${phpinfo()}} äöü € "
                "<b>fett</b><BR>Zeile 2','O&#39;Neill &#34;Villa&#34; \\\\ \\$x "
                "{\\${phpinfo()}} äöü € <b>fett</b><BR>Zeile 2',NULL,NULL,'sonstiges','50',"
                "'Köln')");
  EXPECT_EQ(Matching(sql, Guid(host::demo_data::kFldartop, 601))[0],
            "insert into $table_fart (DSN,KUERZEL,SPALTENNAME,WERT,BEZEICHNUNG) values ('" +
                Guid(host::demo_data::kFldartop, 601) +
                "', 'Ausstattung','Ausstattung','GARAGE','Garage')");
  EXPECT_EQ(Matching(sql, "insert into $table_user"),
            (std::vector<std::string>{
                "insert into $table_user (USER_DSN,USER_EMAIL,USER_NAME,USER_ACTIVE) values('" +
                    Guid(host::demo_data::kAd, 601) +
                    "','mara@example.invalid','Frau Mara Mitglied','Y')",
                "insert into $table_user (USER_DSN,USER_EMAIL,USER_NAME,USER_ACTIVE) values('" +
                    Guid(host::demo_data::kAd, 602) +
                    "','egon@example.invalid','Herr Egon Ehemalig','N')",
                "insert into $table_user (USER_DSN,USER_EMAIL,USER_NAME,USER_ACTIVE) values('" +
                    Guid(host::demo_data::kAd, 603) +
                    "','o''brien@example.invalid''--','Mr O''Brien''), (''x'',''y'',''z'',''Y "
                    "); \\$x \\\\','Y')"}));
  EXPECT_TRUE(Said("Es werden 11 Feldarten übertragen."));
  // One tracking entry per listing written, in the order of the rows.
  ASSERT_EQ(web->trackingArray.size(), Matching(sql, "insert into $table_dat").size());
  EXPECT_EQ(web->trackingArray.back().dsn, Key(host::demo_data::kObj, 41));
  EXPECT_EQ(web->trackingArray.back().kennung, "FB-2041-&#39;Süd&#39;");
}

TEST_F(ListingsTest, HostileValuesReachTheSiteTablesUnchanged) {
  StartSite();
  // A field type whose column would be the site's own INTERN: the listing's INTERN stays.
  Exec(
      "insert into FLDART (DSN, KÜRZEL, TYP, WEBSERVERSTATUS, AKTIV, OBJ) values "
      "('{00000000-0000-0000-0000-000000000077}', 'intern', 6, 1, 1, 1)");
  Exec(
      "insert into ObjDet (DSN, Obj_Dsn, Fldart_Dsn, EINGABE) values "
      "('{00000000-0000-0000-0000-000000000078}', '" +
      Key(host::demo_data::kObj, 41) + "', '{00000000-0000-0000-0000-000000000077}', 'falsch')");
  // Listing 13's first option has no caption: the value that follows still stands quoted.
  Exec(
      "insert into FLDARTOP (DSN, FLDART_DSN, WERT, BEZEICHNUNG) values "
      "('{00000000-0000-0000-0000-000000000079}', '" +
      Key(host::demo_data::kFldart, 602) + "', NULL, NULL)");
  for (const char* op : {"{00000000-0000-0000-0000-000000000079}", "x"})
    Exec(std::string("insert into ObjDet (DSN, Obj_Dsn, Fldart_Dsn, Fldartop_DSN) values (") +
         "'{00000000-0000-0000-0000-0000000000" + (*op == 'x' ? "81" : "80") + "}', '" +
         Key(host::demo_data::kObj, 13) + "', '" + Key(host::demo_data::kFldart, 602) + "', '" +
         (*op == 'x' ? Key(host::demo_data::kFldartop, 600) : std::string(op)) + "')");
  Prepare();
  ASSERT_TRUE(web->CreateDBDataScript(*portal));
  SiteTables();
  Import({"", "CreateImportScript_InsertTable_INTERESSENTEN", "CreateImportScript_InsertTable_FART",
          "CreateImportScript_InsertTable_USER"});
  ASSERT_EQ(RunImport(), "");
  const std::string where =
      " from kv_webserverdat where DSN='" + Guid(host::demo_data::kObj, 41) + "'";
  const std::string html = website::StringToHTML(Variant(kAwkward));
  std::string plain = kAwkward;  // a double quote reaches no statement
  for (char& c : plain)
    if (c == '"') c = ' ';
  EXPECT_EQ(Site("TEXTOBJEKT", where), html);
  EXPECT_EQ(Site("PROVANB", where), plain);
  EXPECT_EQ(Site("KOLLEGE_KENNUNG", where), "K'1 $k \\");
  EXPECT_EQ(Site("INTERN", where), "intern &#34;geheim&#34;<BR>" + html);
  EXPECT_EQ(Site("Besonderheiten", where), html);
  EXPECT_EQ(Database().Query("select EART, ADRESSE, MEMBER, Grundstuecksflaeche_VON, "
                             "Ausstattung, AusstattungWERT" +
                                 where,
                             database),
            "NULL\tNULL\t1\t250\tGarage,Kamin\tGARAGE,KAMIN\n");
  EXPECT_EQ(Database().Query("select Ausstattung, AusstattungWERT from kv_webserverdat where "
                             "DSN='" +
                                 Guid(host::demo_data::kObj, 13) + "'",
                             database),
            "Keller\tKELLER\n");
  EXPECT_EQ(Database().Query("select count(*), sum(MEMBER) from kv_webserverdat", database),
            "30\t3\n");
  EXPECT_EQ(Site("INT_HEADLINE", "from kv_webserverinteressenten where INT_PLZ='50'"), html);
  EXPECT_EQ(Database().Query("select USER_ACTIVE, count(*) from kv_webserveruser group by "
                             "USER_ACTIVE order by 1",
                             database),
            "N\t1\nY\t2\n");
  EXPECT_EQ(Site("USER_NAME", "from kv_webserveruser where USER_EMAIL like 'o%'"),
            "Mr O'Brien'), ('x','y','z','Y ); $x \\");
}

TEST_F(ListingsTest, AWholeRunFillsEverySiteTable) {
  StartSite();
  RunPortal();
  EXPECT_EQ(Errors(), "") << php->Log();
  std::string counts;
  for (const char* t : {"dat", "fart", "interessenten", "user", "pic", "termine", "objtrack",
                        "akttrack", "trackfiles"})
    counts +=
        std::string(counts.empty() ? "" : ", ") + "(select count(*) from kv_webserver" + t + ")";
  EXPECT_EQ(Database().Query("select " + counts, database), "30\t11\t3\t3\t94\t15\t3\t9\t3\n");
  // Teasers and key facts are built per listing and language.
  EXPECT_EQ(Database().Query("select count(*) from kv_webserverdat where KURZEXPOSE <> '' and "
                             "EXPOSE like '%<%' and KURZEXPOSE_LCID2057 <> ''",
                             database),
            "30\n");
  EXPECT_EQ(Database().Query("select INT_ART, INT_PLZ, INT_ORT from kv_webserverinteressenten "
                             "order by INT_PLZ",
                             database),
            "kauf\t10115\tBerlin\nsonstiges\t50\tKöln\nmiete\t80331\tMünchen\n");
}

TEST_F(ListingsTest, AParentCycleEndsAndEachTextComesFromTheNearestAncestor) {
  const std::string k1 = Key(host::demo_data::kObj, 1), k41 = Key(host::demo_data::kObj, 41);
  Exec("update obj set OBJ_DSN='" + k41 + "', TEXTFREI=NULL, TEXTEXTRA3='von 1' where DSN='" + k1 +
       "'");
  Exec("update obj set TEXTEXTRA3=NULL where DSN='" + k41 + "'");
  Prepare();
  const auto sql = Import({""});
  const auto own = Matching(sql, "where DSN='" + website::StripBraces(k41) + "'");
  EXPECT_EQ(Matching(own, "set TEXTEXTRA3=")[0],
            "update $table_dat set TEXTEXTRA3='von 1',TEXTEXTRA3_LCID2057='von 1' where DSN='" +
                website::StripBraces(k41) + "'");
  EXPECT_EQ(Matching(own, "set TEXTFREI=")[0],
            "update $table_dat set TEXTFREI=NULL,TEXTFREI_LCID2057='Viewing by appointment.' "
            "where DSN='" +
                website::StripBraces(k41) + "'");
  // Without inheritance nothing comes from the parent, and the parent key is NULL.
  Ini("OPTIONS", "VERERBTE_FELDARTENPLATZHALTER", "0");
  Prepare();
  const auto alone = Matching(Import({""}), "where DSN='" + website::StripBraces(k41) + "'");
  EXPECT_EQ(Matching(alone, "set TEXTLAGE=")[0],
            "update $table_dat set TEXTLAGE=NULL,TEXTLAGE_LCID2057=NULL where DSN='" +
                website::StripBraces(k41) + "'");
}

TEST_F(ListingsTest, LookUpsOfMemberZoneAndMembershipEnd) {
  Prepare();
  const std::string zone = web->GetFldArtDsn();
  EXPECT_EQ(zone, Key(host::demo_data::kFldart, 601));
  EXPECT_EQ(web->GetObjDetYesNo(Key(host::demo_data::kObj, 4), zone), 1);
  EXPECT_EQ(web->GetObjDetYesNo(Key(host::demo_data::kObj, 7), zone), 0) << "lower-case ja";
  EXPECT_EQ(web->GetObjDetYesNo("", zone), 0);
  const std::string details = Key(host::demo_data::kDetails, 601);
  const auto until = [&](const std::string& text) {
    Exec("update detailsdet set EINGABE=" + cUtil::SqlStr(Variant(text)) + " where details_Dsn='" +
         details + "' and EINGABE<>'Ja'");
    return web->IsBisDateValid(details);
  };
  const double today = std::floor(vb::Now());
  EXPECT_EQ(until(vb::DateToText(today)), "Y");
  EXPECT_EQ(until(vb::DateToText(today - 1)), "N");
  EXPECT_EQ(until("kein Datum"), "N");
  EXPECT_EQ(web->IsBisDateValid(Key(host::demo_data::kDetails, 999)), "N");
  web->settings.MEMBERZONE = "Mitglieder'bereich";  // quoted for the host, not broken
  EXPECT_EQ(web->GetFldArtDsn(), "");
}

}  // namespace
}  // namespace fern::testing
