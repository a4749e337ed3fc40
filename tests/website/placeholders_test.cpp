#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "demo/demo_data.h"
#include "platform/cp1252.h"
#include "platform/host_error.h"
#include "website/placeholder_grammar.h"
#include "website_fixture.h"

namespace fern::testing {
namespace {

using host::demo_data::Key;
namespace dd = host::demo_data;

// --- the grammar ------------------------------------------------------------------------------

TEST(PlaceholderGrammar, InnerTextSplitsIntoModeLabelNameAndUnit) {
  struct Case {
    const char* inner;
    char mode;
    const char* label;
    const char* name;
    const char* unit;
  };
  const Case cases[] = {
      {"zimmer", 0, "", "zimmer", ""},
      {"Wohnfläche#m²", 0, "", "Wohnfläche", "m²"},
      {"$wohnfläche#m²", '$', "", "wohnfläche", "m²"},
      {"Fläche ca.$wohnfläche#m²", '$', "Fläche ca.", "wohnfläche", "m²"},
      {"Provision:@prov_int", '@', "Provision:", "prov_int", ""},
      {"@kennung", '@', "", "kennung", ""},
      {"a$b@c#d#e", '@', "a$b", "c", "d#e"},  // "@" wins over "$"
      {"", 0, "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.inner);
    const website::Placeholder p = website::ParsePlaceholder(c.inner);
    EXPECT_EQ(p.mode, c.mode);
    EXPECT_EQ(p.label, c.label);
    EXPECT_EQ(p.name, c.name);
    EXPECT_EQ(p.unit, c.unit);
  }
  EXPECT_THROW(website::ParsePlaceholder("Fläche#m²$x"), HostError);
  EXPECT_EQ(website::ComposePlaceholder("Wfl.", "151", "m²"), "Wfl. 151 m²");
  EXPECT_EQ(website::ComposePlaceholder("", "151", ""), "151");
  EXPECT_EQ(website::ComposePlaceholder("Wfl.", "", "m²"), "");
}

TEST(PlaceholderGrammar, TemplateIsScannedOnceAndOnlyPlaceholdersAreReplaced) {
  const std::map<std::string, std::string> values{
      {"ort", "Berlin"},      {"leer", ""},          {"zimmer", "Zi. 3"},
      {"art", "Haus"},        {"brace", "{zimmer}"}, {"nasty", "{${x}} $x ' \" \\ €"},
      {"miete", "KM 1.200 €"}};
  auto resolve = [&](const std::string& inner) {
    auto it = values.find(inner);
    return it == values.end() ? std::string() : it->second;
  };
  const std::pair<const char*, const char*> cases[] = {
      {"  nur Text, ", "nur Text"},
      {"{leer}{ort}", "Berlin"},
      {"{ort} und mehr", "Berlin,  und mehr"},
      {"<b>{art}</b><br>{zimmer}<BR>{leer}{miete}", "<b>Haus, </b><br>Zi. 3, <BR>KM 1.200 €"},
      // Inner texts that occur as literal text or inside an earlier value stay as they are.
      {"{ort}: ort, zimmer {zimmer}", "Berlin, : ort, zimmer Zi. 3"},
      {"{brace}{zimmer}", "{zimmer}, Zi. 3"},
      {"{nasty}", "{${x}} $x ' \" \\ €"},
      {"a}b", "ab"},
      {"", ""},
  };
  for (const auto& [templ, expected] : cases) {
    SCOPED_TRACE(templ);
    EXPECT_EQ(website::ExpandTemplate(templ, resolve), expected);
  }
  EXPECT_THROW(website::ExpandTemplate("{ort", resolve), HostError);
  EXPECT_THROW(website::ExpandTemplate("{ort{zimmer}", resolve), HostError);
}

TEST(PlaceholderGrammar, AmountsAndRangesAreGermanAndEmptyWithoutBounds) {
  const Variant null = Variant::Null();
  const Variant none(1E+100);
  struct Case {
    Variant von, bis;
    const char* teaser;
    const char* keyFacts;
  };
  const Case cases[] = {
      {Variant(0.0), Variant(2500.0), "bis 2.500", "0 bis 2.500"},
      {Variant(100000.0), none, "ab 100.000", "ab 100.000"},
      {none, Variant(750.5), "bis 751", "bis 750,50"},
      {Variant(1234.5), Variant(1234.5), "1.235", "1.234,50"},
      {Variant(100.0), Variant(200.0), "100 bis 200", "100 bis 200"},
      {Variant(0.0), none, "", "ab 0"},
      {none, none, "", ""},
      {null, null, "", ""},
      {Variant(1500000.0), null, "1.500.000", "1.500.000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.teaser) + " / " + c.keyFacts);
    EXPECT_EQ(website::TeaserRange(c.von, c.bis), c.teaser);
    EXPECT_EQ(website::KeyFactsRange(c.von, c.bis), c.keyFacts);
  }
  EXPECT_EQ(cWebserverV2::FormatAmount(Variant(1234.0)), "1.234");
  EXPECT_EQ(cWebserverV2::FormatAmount(Variant(1234.5)), "1.234,50");
  EXPECT_EQ(cWebserverV2::FormatAmount(Variant(-9876543.21)), "-9.876.543,21");
  EXPECT_EQ(cWebserverV2::FormatAmount(Variant::Null()), "");

  auto english = [](const std::string& w) {
    return w == "von" ? std::string("from") : w == "bis" ? "to" : "min.";
  };
  EXPECT_EQ(website::TranslateIntervalWords("von 3 bis 5, ab 2, Abbau ", english),
            "from 3 to 5, min. 2, Abbau ");
}

TEST(PlaceholderGrammar, LinksAndCommission) {
  const std::pair<const char*, const char*> links[] = {
      {"HTTP://Fern.example/a#Unsere Seite#x",
       "<a href=\"HTTP://Fern.example/a\" target=_blank>Unsere Seite</a>"},
      {"http://fern.example",
       "<a href=\"http://fern.example\" target=_blank>http://fern.example</a>"},
      {"https://fern.example#Seite", "https://fern.example#Seite"},
      {"siehe http://x", "siehe http://x"},
  };
  for (const auto& [text, expected] : links) EXPECT_EQ(website::LinkText(text), expected);

  const std::tuple<const char*, Variant, const char*> commission[] = {
      {"", Variant(0), "Keine zusätzliche Käuferprovision"},
      {"0", Variant(1), "Auftraggeber des Maklers ist der Vermieter"},
      {"", Variant::Null(), "Keine zusätzliche Provision"},
      {"nach Vereinbarung", Variant(0), "siehe Exposétext"},
      {"3,57 %", Variant(0), ""},
      {" 2 Monatsmieten", Variant(1), ""},
  };
  for (const auto& [value, eart, expected] : commission)
    EXPECT_EQ(website::CommissionWord(value, eart), expected) << value;
}

// --- the engine on the demo host ----------------------------------------------------------------

class PlaceholderEngine : public WebsiteTest {
 public:
  void SetUp() override {
    WebsiteTest::SetUp();
    // English words for the second content language (the dictionary files are Windows-1252).
    std::ofstream(host() / "System" / "Language" / "2057.dic", std::ios::app) << cp1252::FromUtf8(
        "[FLDART]\nJa\tYes\nProvision:\tCommission:\nvon\tfrom\nbis\tto\nab\tmin.\n"
        "m²\t\t\tsq m\nT_TEXT\tText-en\tText (en)\tTxt (en)\n"
        "Keine zusätzliche Käuferprovision\tNo buyer's commission\n");
    Field(200, "T_TEXT", 6, "Text", "Txt", 0);
    Field(201, "T_RANGE", 2, "Spanne", "Sp.", 1, 1);
    Field(202, "T_BETRAG", 1, "Betrag", "Btr.", 1);
    Field(203, "T_LEER", 1, "Leer", "Leer", 1);
    Field(204, "T_JA", 4, "Aufzug", "Aufzug", 0);
    Field(205, "T_ML", 3, "Mehrsprachig", "", 0);
    Field(206, "T_ERB", 6, "Geerbt", "", 0);
    Value(1, 200, "EINGABE='Dachgeschoss'");
    Value(1, 201, "EINGABE='von 3 bis 5'");
    Value(1, 202, "VON_NUM=0, BIS_NUM=2500");
    Value(1, 203, "VON_NUM=0, BIS_NUM=1E+100");
    Value(1, 204, "VON_NUM=1");
    Value(1, 205, "EINGABE='Deutsch', EINGABE_LCID2057='English'");
    web = std::make_unique<cWebserverV2>();
    web->events.WorkState = [this](int16_t s, const std::string& t) { lines.push_back({s, t}); };
    web->Init(Session().g_strConnect, app, Variant(false));
  }

  void Field(int n, const std::string& code, int typ, const std::string& extern_,
             const std::string& kurz, int blnKurz, int intervall = 0) {
    Exec(
        "insert into FLDART (DSN, KÜRZEL, TYP, BEZEXTERN, BEZKURZEXPOSE, BLNKURZEXPOSE, "
        "Intervall, AKTIV, OBJ, WEBSERVERSTATUS, EXPOSE) values ('" +
        Key(dd::kFldart, n) + "', '" + code + "', " + std::to_string(typ) + ", '" + extern_ +
        "', '" + kurz + "', " + std::to_string(blnKurz) + ", " + std::to_string(intervall) +
        ", 1, 1, 0, 0)");
  }
  // One field value of listing `obj`; `set` assigns its columns.
  void Value(int obj, int field, const std::string& set) {
    const std::string dsn = Key(dd::kObjDet, ++nextValue_);
    Exec("insert into ObjDet (DSN, Obj_Dsn, Fldart_Dsn) values ('" + dsn + "', '" +
         Key(dd::kObj, obj) + "', '" + Key(dd::kFldart, field) + "')");
    Exec("update ObjDet set " + set + " where DSN='" + dsn + "'");
  }
  void Parent(int child, int parent) {
    Exec("update OBJ set OBJ_DSN='" + Key(dd::kObj, parent) + "' where DSN='" +
         Key(dd::kObj, child) + "'");
  }
  int nextValue_ = 90000;
  static std::string Braceless(std::string key) { return key.substr(1, key.size() - 2); }
  std::string Resolve(int obj, const std::string& inner, int language = 0, bool inherit = false) {
    return web->ResolvePlaceholder(Braceless(Key(dd::kObj, obj)), inner, "OBJ", language, inherit);
  }
};

TEST_F(PlaceholderEngine, FieldAndColumnPlaceholdersOfAListing) {
  struct Case {
    const char* inner;
    int language;
    const char* expected;
  };
  const Case cases[] = {
      {"T_TEXT", 0, "Text Dachgeschoss"},  // the external label when not for the teaser
      {"Lage:$T_TEXT", 0, "Lage: Dachgeschoss"},
      {"$T_TEXT#OG", 0, "Dachgeschoss OG"},
      {"T_RANGE", 0, "Sp. von 3 bis 5"},
      {"T_RANGE", 1, "Sp. from 3 to 5"},
      {"T_BETRAG", 0, "Btr. bis 2.500 €"},
      {"T_LEER", 0, ""},  // neither bound given
      {"T_JA", 0, "Aufzug Ja"},
      {"T_JA", 1, "Aufzug Yes"},
      {"$T_ML", 1, "English"},
      {"$T_TEXT#m²", 1, "Dachgeschoss sq m"},
      {"T_TEXT", 1, "Text (en) Dachgeschoss"},
      {"$RDM OBJEKTART", 0, "Haus"},
      {"$RDM OBJEKTART", 1, "House"},
      {"$Ansprechpartner", 0, "Dana Demo"},
      {"T_FEHLT", 0, ""},
      {"@kennung", 0, "FB-1001"},
      {"Provision:@prov_int", 0, "Provision: 3,57 %"},
      {"Provision:@prov_int", 1, "Commission: 3,57 %"},
      {"Nr.@KENNUNG", 1, "FB-1001"},  // a label without translation disappears
      {"@gibt_es_nicht", 0, ""},
      {"Name'--$T_TEXT' OR 1=1 --", 0, ""},  // the name is quoted, not run
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.inner) + " / " + std::to_string(c.language));
    EXPECT_EQ(Resolve(1, c.inner, c.language), c.expected);
  }
  EXPECT_THROW(Resolve(1, "T_TEXT", 5), HostError);

  Exec("update OBJ set PROV_INT=NULL, EART=0 where DSN='" + Key(dd::kObj, 1) + "'");
  EXPECT_EQ(Resolve(1, "Provision:@prov_int"), "Provision: Keine zusätzliche Käuferprovision");
  EXPECT_EQ(Resolve(1, "Provision:@prov_int", 1), "Commission: No buyer's commission");
  Exec("update OBJ set PROV_INT='k. A.' where DSN='" + Key(dd::kObj, 1) + "'");
  EXPECT_EQ(Resolve(1, "@prov_int"), "siehe Exposétext");

  bool inherit = false;
  EXPECT_EQ(web->ExpandPlaceholders(Braceless(Key(dd::kObj, 1)),
                                    "<b>{T_FEHLT}{$T_TEXT}</b>{T_LEER}{T_JA}<br>{@kennung}", "OBJ",
                                    0, inherit),
            "<b>Dachgeschoss, </b>Aufzug Ja, <br>FB-1001");
}

TEST_F(PlaceholderEngine, RequestsReadTheirOwnRows) {
  bool inherit = true;
  const std::string key = Braceless(Key(dd::kAnf, 1));
  EXPECT_EQ(web->ResolvePlaceholder(key, "Land_PLZ_Ort", "ANF", 0, inherit), "Ort D-10115 Berlin");
  EXPECT_EQ(web->ResolvePlaceholder(key, "Suche:@kennung", "ANF", 0, inherit), "Suche: S-501");
  EXPECT_EQ(web->ResolvePlaceholder(key, "T_TEXT", "ANF", 0, inherit), "");
}

TEST_F(PlaceholderEngine, InheritanceTakesTheNearestAncestorAndEndsInACycle) {
  // 26 -> 1 -> 3: the listing's own value first, then its parent's, then its grandparent's.
  Parent(1, 3);
  Value(26, 206, "EINGABE='eigen'");
  Value(1, 206, "EINGABE='Eltern'");
  Field(207, "T_OBEN", 6, "Oben", "", 0);
  Value(3, 207, "EINGABE='Großeltern'");
  const std::tuple<const char*, bool, const char*> cases[] = {
      {"$T_ERB", true, "eigen"}, {"$T_ERB", false, "eigen"},      {"$T_TEXT", true, "Dachgeschoss"},
      {"$T_TEXT", false, ""},    {"$T_OBEN", true, "Großeltern"}, {"$T_FEHLT", true, ""},
  };
  for (const auto& [inner, inherit, expected] : cases)
    EXPECT_EQ(Resolve(26, inner, 0, inherit), expected) << inner << " " << inherit;

  // 26 -> 1 -> 3 -> 26 leads back to itself: the walk ends without a value.
  Parent(3, 26);
  EXPECT_EQ(Resolve(26, "$T_FEHLT", 0, true), "");
  EXPECT_EQ(Resolve(3, "$T_TEXT", 0, true), "Dachgeschoss");
}

TEST_F(PlaceholderEngine, DefaultTemplatesOnDemoData) {
  const std::string hostile = "pro Monat {${x}} $x 'a' \"b\" \\c € <b>&amp;</b>\r\nZeile 2 äöüß";
  const std::tuple<int, int, std::string> listings[] = {
      {5, 0,
       "DEU-79098 Freiburg, Büro/Praxis, 113 m², 95,5 m², Zi. 4, <br>KP 1.265.000 €, " + hostile +
           ", Provision: 3,57 %"},
      {6, 1,
       "DEU-10115 Berlin, Etagenwohnung, 196 sq m, from 50 to 80 sq m, Rooms 5, <br>Miete to 1.560 "
       "€, "
       "pro Monat, Commission: 2 Monatsmieten"},
      {15, 1,
       "DEU-50667 Köln, Etagenwohnung, 77 sq m, from 50 to 80 sq m, Rooms 4, <br>Miete min. 900 "
       "€, " +
           hostile + ", Commission: 2 Monatsmieten"},
  };
  bool inherit = true;
  for (const auto& [n, language, expected] : listings)
    EXPECT_EQ(web->ExpandPlaceholders(Braceless(Key(dd::kObj, n)), web->settings.OBJ_KURZEXPOSE,
                                      "OBJ", language, inherit),
              expected)
        << n << "/" << language;
  EXPECT_EQ(
      web->ExpandPlaceholders(Braceless(Key(dd::kAnf, 1)), web->settings.ANF, "ANF", 0, inherit),
      "<b>Objektart Etagenwohnung, </b><br>Wfl. 60 bis 90 m², <BR>Miete bis 900 €, warm");
  EXPECT_EQ(
      web->ExpandPlaceholders(Braceless(Key(dd::kAnf, 2)), web->settings.ANF, "ANF", 0, inherit),
      "<b>Objektart Dachgeschoss & Maisonette, </b><br>Wfl. ab 60 m², <BR>Miete bis "
      "1.800 €, " +
          hostile);
}

}  // namespace
}  // namespace fern::testing
