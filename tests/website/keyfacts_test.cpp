#include <gtest/gtest.h>

#include <fstream>

#include "demo/demo_data.h"
#include "platform/cp1252.h"
#include "website_fixture.h"

namespace fern::testing {
namespace {

using host::demo_data::Key;
namespace dd = host::demo_data;

// One field row of a listing's details record.
struct Row {
  int expose;
  const char* code;
  const char* caption;
  int typ;
  Variant von = Variant::Null();
  Variant bis = Variant::Null();
  const char* eingabe = "";
  Variant link = Variant::Null();
  int intervall = 0;
  const char* option = "";
  const char* english = "";
};

std::shared_ptr<db::Recordset> Details(const std::vector<Row>& rows) {
  auto rs = db::Recordset::Create({{"EXPOSE", db::adtype::kInteger},
                                   {"KÜRZEL"},
                                   {"BEZEXTERN"},
                                   {"TYP", db::adtype::kInteger},
                                   {"BEZEICHNUNG"},
                                   {"VON_NUM", db::adtype::kDouble},
                                   {"BIS_NUM", db::adtype::kDouble},
                                   {"Intervall", db::adtype::kInteger},
                                   {"EINGABE"},
                                   {"EINGABE_LCID2057"},
                                   {"LINK_DSN"}});
  for (const Row& r : rows)
    rs->LoadRow({Variant(r.expose), Variant(r.code), Variant(r.caption), Variant(r.typ),
                 Variant(r.option), r.von, r.bis, Variant(r.intervall), Variant(r.eingabe),
                 Variant(r.english), r.link});
  return rs;
}

std::string TableRow(const std::string& label, const std::string& value) {
  return "<TR><TD class=\"eck_sp1\"><P class=\"txt_sp1\">" + label +
         "&nbsp</P></TD><TD class=\"eck_sp2\" ><P class=\"txt_sp2\">" + value + "</P></TD></TR>";
}

class KeyFacts : public WebsiteTest {
 public:
  void SetUp() override {
    WebsiteTest::SetUp();
    std::ofstream(host() / "System" / "Language" / "2057.dic", std::ios::app) << cp1252::FromUtf8(
        "[FLDART]\nEckdaten:\tKey facts:\npro\tper\nJa\tYes\nNein\tNo\nvon\tfrom\nbis\tto\n"
        "ab\tmin.\nPREIS\t\tPrice\n");
    web = std::make_unique<cWebserverV2>();
    web->events.WorkState = [this](int16_t s, const std::string& t) { lines.push_back({s, t}); };
    web->Init(Session().g_strConnect, app, Variant(false));
  }
  std::string Html(const std::vector<Row>& rows, int language = 0) {
    auto rs = Details(rows);
    std::string html = web->CreateEckdatenHtml(rs.get(), language);
    EXPECT_EQ(rs->Filter(), "");
    return html;
  }
  static std::string Block(const std::string& rows, const std::string& head = "Eckdaten:") {
    return "<P class=\"headline_2\">" + head + "</P><TABLE class=\"eck\">" + rows + "</TABLE>";
  }
};

TEST_F(KeyFacts, ValuesByTypeInTheMainLanguage) {
  // The owner's contact record: two telephone numbers and an empty e-mail address.
  Exec("insert into FLDART (DSN, KÜRZEL, INTERN, TYP, BEZEXTERN) values ('" +
       Key(dd::kFldart, 210) + "', 'TEL', 'AD_Telefon', 6, 'Telefon'), ('" + Key(dd::kFldart, 211) +
       "', 'MAIL', 'AD_Email', 6, 'E-Mail')");
  Exec("insert into details (DSN, ad_dsn) values ('" + Key(dd::kDetails, 210) + "', '" +
       Key(dd::kAd, 2) + "')");
  int n = 210;
  const std::pair<int, const char*> entries[] = {{211, ""}, {210, "0221 11"}, {210, "0221 22"}};
  for (const auto& [field, entry] : entries)
    Exec("insert into detailsdet (DSN, details_Dsn, Fldart_Dsn, EINGABE) values ('" +
         Key(dd::kDetailsDet, ++n) + "', '" + Key(dd::kDetails, 210) + "', '" +
         Key(dd::kFldart, field) + "', '" + entry + "')");
  const Variant none(1E+100);
  const std::string ad2 = Key(dd::kAd, 2), project = Key(dd::kProjekt, 1);
  EXPECT_EQ(
      Html({
          {1, "NEBENKOSTEN", "Nebenkosten:", 6, Variant::Null(), Variant::Null(), "100"},
          {1, "PREIS", "Kaufpreis:", 1, Variant(100000.0), none},
          {1, "MIETE", "Miete:", 1, Variant(1234.5), Variant(1234.5)},
          {1, "FLAECHE", "Fläche:", 1, Variant(80.0), Variant(120.0), "", Variant::Null(), 1},
          {1, "GRUND", "Grund:", 1, none, Variant(500.0)},
          {1, "LEER", "Leer:", 1, none, none},
          {0, "VERSTECKT", "Versteckt:", 6, Variant::Null(), Variant::Null(), "nie"},
          {1, "ART", "Art:", 0, Variant::Null(), Variant::Null(), "", Variant::Null(), 0, "Haus"},
          {1, "ZI", "Zimmer:", 2, Variant::Null(), Variant::Null(), "ab 3 <b>&</b>",
           Variant::Null(), 1},
          {1, "WEB", "Web:", 3, Variant::Null(), Variant::Null(), "HTTP://fern.example#Seite"},
          {1, "SWEB", "Web:", 3, Variant::Null(), Variant::Null(), "https://fern.example"},
          {1, "LIFT", "Aufzug:", 4},
          {1, "BJ", "Baujahr:", 5, Variant::Null(), Variant::Null(), "1999"},
          {1, "PROJ", "Projekt:", 10, Variant::Null(), Variant::Null(), "", Variant(project)},
          {1, "PROJ2", "Projekt:", 10},
          {1, "EIGEN", "Eigentümer:", 7, Variant::Null(), Variant::Null(), "", Variant(ad2)},
          {1, "FREI", "Kontakt:", 7, Variant::Null(), Variant::Null(), "Frau Muster"},
      }),
      Block(TableRow("Nebenkosten:", "100") + TableRow("Kaufpreis:", "ab 100.000 €") +
            TableRow("Miete:", "1.234,50 €") + TableRow("Fläche:", "80 bis 120 €") +
            TableRow("Grund:", "bis 500 €") + TableRow("Leer:", "") + TableRow("Art:", "Haus") +
            TableRow("Zimmer:", "ab 3 <b>&</b>") +
            TableRow("Web:", "<a href=\"HTTP://fern.example\" target=_blank>Seite</a>") +
            TableRow("Web:", "https://fern.example") + TableRow("Aufzug:", "Nein") +
            TableRow("Baujahr:", "1999") + TableRow("Projekt:", "Neubau Fernblick") +
            TableRow("Projekt:", "") +
            TableRow("Eigentümer:", "Otto Eigentümer<BR>Telefon 0221 11<BR>Telefon 0221 22") +
            TableRow("Kontakt:", "Frau Muster")));
  EXPECT_EQ(Errors(), "");
}

TEST_F(KeyFacts, EmptyRecordsAndAFailingRowDoNotStopTheBlock) {
  lines.clear();
  EXPECT_EQ(web->CreateEckdatenHtml(nullptr, 0), "");
  EXPECT_EQ(Html({}), "");
  EXPECT_EQ(Html({{0, "A", "A:", 6}}), Block(""));
  // A value that is no number is logged (not listed) and the block goes on.
  EXPECT_EQ(Html({{1, "A", "A:", 1, Variant("viel"), Variant("mehr")},
                  {1, "B", "B:", 5, Variant::Null(), Variant::Null(), "b"}}),
            Block(TableRow("A:", "") + TableRow("B:", "b")));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].state, 7);
  EXPECT_NE(lines[0].text.find("CreateEckdatenHtml"), std::string::npos);
  EXPECT_TRUE(answers->texts.empty());
}

TEST_F(KeyFacts, DemoListingThroughTheListingService) {
  const std::string note =
      "Nur für \"Kenner\" & 'Liebhaber' <i>kursiv</i> pro Monat {${x}} $x 'a' \"b\" \\c € "
      "<b>&amp;</b>\r\nZeile 2 äöüß";
  const std::string link =
      "<a href=\"http://fernblick.example/objekt/FB-1021\" target=_blank>Exposé online</a>";
  using Rows = std::vector<std::pair<std::string, std::string>>;
  const Rows german = {{"Objektart", "Haus"},
                       {"Wohnfläche", "142"},
                       {"Zimmer", "6"},
                       {"Kaltmiete", "1.775 €"},
                       {"Baujahr", "1987"},
                       {"Balkon", "Ja"},
                       {"Heizungsart", "Zentralheizung"},
                       {"Nutzfläche:", "von 50 bis 80"},
                       {"Miete:", "500 bis 800 €"},
                       {"Miete pro m²:", "12,50 €"},
                       {"Nebenkosten pro m²:", "2,75 €"},
                       {"Webseite:", link},
                       {"Hinweis:", note}};
  const Rows english = {{"Objektart", "House"},
                        {"Living area", "142"},
                        {"Rooms", "6"},
                        {"Basic rent", "1.775 €"},
                        {"Baujahr", "1987"},
                        {"Balkon", "Yes"},
                        {"Heizungsart", "Zentralheizung"},
                        {"Nutzfläche:", "from 50 to 80"},
                        {"Miete:", "500 to 800 €"},
                        {"Miete pro m²:", "12,50 €"},
                        {"Nebenkosten per m²:", "2,75 €"},
                        {"Webseite:", link},
                        {"Hinweis:", note}};
  auto obj = WebsiteTest::Rows("select * from OBJ where DSN='" + Key(dd::kObj, 21) + "'");
  std::vector<std::string> texts;
  for (int language : {0, 1}) {
    web->ImmoHelper().strTransLang(language ? "_LCID2057" : "");
    auto details = web->ImmoHelper().GetObjektDetails(
        *obj, "", " order by OBJ.KENNUNG, FLDART.SORTIERUNG", texts);
    std::string expected;
    for (const auto& [label, value] : language ? english : german)
      expected += TableRow(label, value);
    EXPECT_EQ(web->CreateEckdatenHtml(details.get(), language),
              Block(expected, language ? "Key facts:" : "Eckdaten:"));
  }
}

}  // namespace
}  // namespace fern::testing
