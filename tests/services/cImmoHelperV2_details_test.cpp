// The details record with inheritance, field values by type, and the postcode, street and
// master-picture look-ups of the listing-data service, on the demo host.
#include <gmock/gmock.h>

#include "cImmoHelperV2_fixture.h"
#include "host/LanguagePack.h"
#include "host/cDal.h"
#include "platform/vb.h"

namespace fern::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::UnorderedElementsAre;

using Values = std::vector<std::string>;

class DetailsTest : public ListingServiceTest {
 protected:
  std::shared_ptr<db::Recordset> Details(int n, const std::string& lang = "",
                                         const std::string& order = "") {
    obj = Rows("select * from obj where DSN = '" + ObjKey(n) + "'");
    Helper().strTransLang(lang);
    return Helper().GetObjektDetails(*obj, "", order, texts);
  }
  Values Wert(db::Recordset& rs, const std::string& code, const std::string& column = "",
              int16_t maxLen = 0) {
    return Helper().GetFeldartWert(rs, code, column, maxLen, *Session().g_oDal,
                                   Session().g_strConnect);
  }
  // A field type of our own and, per listing, a value of it.
  void Field(int key, const std::string& code, int typ, int sort) {
    Exec("INSERT INTO FLDART (DSN, KÜRZEL, TYP, SORTIERUNG) VALUES ('" + FldartKey(key) + "', " +
         cUtil::SqlStr(Variant(code)) + ", " + std::to_string(typ) + ", " + std::to_string(sort) +
         ")");
  }
  void Value(int listing, int key, const std::string& eingabe, const std::string& english = "") {
    static int det = 900;
    Exec("INSERT INTO ObjDet (DSN, Obj_Dsn, Fldart_Dsn, EINGABE, EINGABE_LCID2057) VALUES ('" +
         DemoKey(5, ++det) + "', '" + ObjKey(listing) + "', '" + FldartKey(key) + "', " +
         cUtil::SqlStr(Variant(eingabe)) + ", " + cUtil::SqlStr(Variant(english)) + ")");
  }
  static Values Codes(db::Recordset& rs) {
    Values out;
    for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext()) out.push_back(cUtil::k(rs.Value("KÜRZEL")));
    return out;
  }
  std::string Where(db::Recordset& rs, const std::string& code) {
    EXPECT_TRUE(rs.Find("Kürzel = '" + vb::Replace(code, "'", "''") + "'", 0,
                        db::SearchDirection::Forward, db::FindStart::First))
        << code;
    return cUtil::k(rs.Value("DSN"));
  }

  std::shared_ptr<db::Recordset> obj;
  Values texts;
};

TEST_F(DetailsTest, ListingWithoutParentGivesItsOwnRowsInTheCallersOrder) {
  auto rs = Details(1, "_LCID2057", " order by OBJ.KENNUNG, FLDART.SORTIERUNG DESC");
  Values codes = Codes(*rs);
  EXPECT_EQ(codes.front(), "Ansprechpartner");
  EXPECT_EQ(codes.back(), "RDM OBJEKTART");
  EXPECT_EQ(codes.size(), 11u);
  std::vector<std::string> names;
  for (size_t i = 0; i < 8; ++i) names.push_back(vb::UCase(rs->Info(i).name));
  EXPECT_THAT(names, ElementsAre("DSN", "INTERN", "KÜRZEL", "BLNKURZEXPOSE", "EXPOSE", "FLDART_DSN",
                                 "EINGABE", "EINGABE_LCID2057"));
  EXPECT_EQ(rs->Info(rs->FieldCount() - 1).name, "Intervall");
  EXPECT_THAT(texts, ElementsAre("Central location in Hamburg", "Viewing by appointment.",
                                 "Fitted kitchen, parquet, cellar", "Lovely House in Hamburg."));

  Ini("OPTIONS", "VERERBTE_FELDARTENPLATZHALTER", "0");
  rs = Details(27, "", " order by FLDART.SORTIERUNG DESC");
  EXPECT_EQ(Codes(*rs).front(), "Projekt");
  EXPECT_EQ(Codes(*rs).size(), 12u);  // nothing from its parent
  EXPECT_EQ(rs->FindField("obj_dsn"), -1);
}

TEST_F(DetailsTest, ParentsFillMissingFieldsAndTextsNearestFirst) {
  // 27 under 2 under 3. 2 and 3 both have "Energieausweis"; only 3 has "Denkmal's Schutz".
  Exec("UPDATE obj SET OBJ_DSN = '" + ObjKey(3) + "', TEXTFREI = '' WHERE DSN = '" + ObjKey(2) +
       "'");
  Exec("UPDATE obj SET TEXTFREI = NULL, TEXTLAGE = NULL WHERE DSN = '" + ObjKey(27) + "'");
  Exec("UPDATE obj SET TEXTFREI = 'Frei von oben' WHERE DSN = '" + ObjKey(3) + "'");
  Field(60, "Energieausweis", 6, 5);
  Field(61, "Denkmal's Schutz", 6, 500);
  Field(62, "Lagebeschreibung", 3, 7);
  Value(2, 60, "P");
  Value(3, 60, "G");
  Value(3, 61, "ja");
  Value(2, 62, "Lage", "Location");

  auto rs = Details(27);
  Values codes = Codes(*rs);
  EXPECT_EQ(codes.front(), "Energieausweis");  // sorted by Sortierung after the merge
  EXPECT_EQ(codes[1], "Lagebeschreibung");
  EXPECT_EQ(codes.back(), "Denkmal's Schutz");
  EXPECT_EQ(std::count(codes.begin(), codes.end(), "Energieausweis"), 1);
  EXPECT_EQ(Wert(*rs, "Energieausweis"), Values{"P"});
  EXPECT_EQ(Wert(*rs, "Denkmal's Schutz"), Values{"ja"});
  EXPECT_EQ(Where(*rs, "Denkmal's Schutz"), ObjKey(3));
  EXPECT_TRUE(rs->Value("obj_dsn").IsEmpty());
  // 27 rents; the purchase price comes from its parent, its own rent stays its own.
  EXPECT_EQ(Where(*rs, "Kaufpreis"), ObjKey(2));
  EXPECT_EQ(Where(*rs, "Kaltmiete"), ObjKey(27));
  EXPECT_EQ(texts[0], "Zentrale Lage in München");
  EXPECT_EQ(texts[1], "Frei von oben");

  // A language text is copied with its language column when a language is set.
  rs = Details(27, "_LCID2057");
  Where(*rs, "Lagebeschreibung");
  EXPECT_EQ(cUtil::k(rs->Value("EINGABE_LCID2057")), "Location");
  EXPECT_EQ(cUtil::k(rs->Value("EINGABE")), "Lage");

  // A cycle 27 -> 2 -> 3 -> 27 ends the walk; nothing is taken twice.
  Exec("UPDATE obj SET OBJ_DSN = '" + ObjKey(27) + "' WHERE DSN = '" + ObjKey(3) + "'");
  EXPECT_EQ(Codes(*Details(27)), codes);
}

TEST_F(DetailsTest, FieldValuesByTypeAndColumn) {
  Exec("INSERT INTO ObjDet (DSN, Obj_Dsn, Fldart_Dsn, EINGABE) VALUES ('" + DemoKey(5, 990) +
       "', '" + ObjKey(1) + "', '" + FldartKey(8) + "', 'Hinterhaus')");
  auto rs = Details(1, "_LCID2057");
  const int64_t rows = rs->RecordCount();
  // Options: code by default, caption otherwise.
  EXPECT_EQ(Wert(*rs, "RDM OBJEKTART"), Values{"HAUS"});
  EXPECT_EQ(Wert(*rs, "rdm objektart", "WERT"), Values{"HAUS"});
  EXPECT_EQ(Wert(*rs, "RDM OBJEKTART", "BEZEICHNUNG"), Values{"Haus"});
  EXPECT_EQ(Wert(*rs, "RDM OBJEKTART", "EINGABE"), Values{"Haus"});
  EXPECT_EQ(Wert(*rs, "RDM OBJEKTART", "TYP"), Values{"0"});
  // Numbers: BIS_NUM by default; missing and "not given" read as 0.
  EXPECT_EQ(Wert(*rs, "Wohnfläche", "VON_NUM"), Values{"151"});
  EXPECT_EQ(Wert(*rs, "Wohnfläche"), Values{"151"});
  EXPECT_EQ(Wert(*rs, "Fehlt", "VON_NUM"), Values{"0"});
  EXPECT_EQ(Wert(*rs, "Fehlt", "bis_num"), Values{"0"});
  EXPECT_EQ(Wert(*rs, "Fehlt"), Values{""});
  // Texts: the language column for type 3, one element per row, cut by characters.
  EXPECT_EQ(Wert(*rs, "Überschrift"), Values{"House in Hamburg"});
  EXPECT_THAT(Wert(*rs, "Straße", "", 5), UnorderedElementsAre("Mönck", "Hinte"));
  // Links: the key, or the linked name through "WERT".
  EXPECT_EQ(Wert(*rs, "Ansprechpartner"), Values{DemoKey(8, 1)});
  EXPECT_EQ(Wert(*rs, "Ansprechpartner", "WERT"), Values{"Dana Demo"});
  EXPECT_EQ(rs->Filter(), "");
  EXPECT_EQ(rs->RecordCount(), rows);

  Exec("UPDATE ObjDet SET BIS_NUM = 99999999999999 WHERE Obj_Dsn = '" + ObjKey(26) +
       "' AND Fldart_Dsn = '" + FldartKey(2) + "'");
  Exec("UPDATE ObjDet SET BIS_NUM = 12.5 WHERE Obj_Dsn = '" + ObjKey(26) + "' AND Fldart_Dsn = '" +
       FldartKey(3) + "'");
  Exec("UPDATE ObjDet SET LINK_DSN = '" + ObjKey(99) + "' WHERE Obj_Dsn = '" + ObjKey(26) +
       "' AND Fldart_Dsn = '" + FldartKey(12) + "'");
  rs = Details(26);
  EXPECT_EQ(Wert(*rs, "Wohnfläche", "BIS_NUM"), Values{"0"});
  EXPECT_EQ(Wert(*rs, "Zimmer"), Values{"12,5"});
  EXPECT_EQ(Wert(*rs, "Projekt", "WERT"), Values{"Neubau Fernblick"});
  EXPECT_EQ(Wert(*rs, "Ansprechpartner", "WERT"), Values{""});  // names no address

  // Captions in the content language.
  Session().g_oLanguagePack->SetContentLCID(2057);
  EXPECT_EQ(Wert(*rs, "RDM OBJEKTART", "BEZEICHNUNG"), Values{"Flat"});
}

// --- look-ups -------------------------------------------------------------------------------

TEST_F(DetailsTest, PostcodeTableSplitsCountryPostcodeAndTown) {
  // A prefix the table does not name is no country: the whole text is read for the default.
  const std::pair<const char*, Values> cases[] = {
      {"DEU-12345 Berlin", {"DEU", "12345", "Berlin"}},
      {"12345 Berlin", {"DEU", "12345", "Berlin"}},
      {"PRT-1234-567 Lisboa", {"PRT", "1234-567", "Lisboa"}},
      {"NLD-1234 AB Amsterdam", {"NLD", "1234", "AB Amsterdam"}},
      {"pol-12-345 Warszawa", {"pol", "12-345", "Warszawa"}},
      {"12345", {"", "", ""}},
      {"01234 Garmisch-Partenkirchen", {"DEU", "01234", "Garmisch-Partenkirchen"}},
      {"USA-12345 Boston", {"", "", ""}},
      {"D-10115 Berlin", {"", "", ""}},
  };
  for (const auto& [text, want] : cases)
    EXPECT_EQ(Helper().GetLKZPLZOrtFromString(text), want) << text;
}

TEST_F(DetailsTest, PostcodeDefaultsAndOwnTable) {
  Exec("UPDATE std SET LAND = 'CHE'");
  Ini("Openimmo", "PLZ", "[STD4]=CHE|AB#=GBR");
  helper_.reset();
  EXPECT_THAT(Helper().GetLKZPLZOrtFromString("8001 Zürich"), ElementsAre("CHE", "8001", "Zürich"));
  EXPECT_THAT(Helper().GetLKZPLZOrtFromString("GBR-AB1 Aberdeen"),
              ElementsAre("GBR", "AB1", "Aberdeen"));
  Exec("UPDATE std SET LAND = NULL");
  Ini("Openimmo", "PLZ", "[STD5]=DEU");
  helper_.reset();
  EXPECT_THAT(Helper().GetLKZPLZOrtFromString("12345 Berlin"),
              ElementsAre("DEU", "12345", "Berlin"));
}

TEST(StreetSplit, NumberStartsAtTheFirstDigitAfterABlank) {
  const std::tuple<const char*, bool, Values> cases[] = {
      {"Hauptstraße 12a", false, {"Hauptstraße", "12a"}},
      {"A1 Straße 5", false, {"A1 Straße", "5"}},
      {"Am Markt", false, {"Am Markt", ""}},
      {"Am Markt", true, {"Am Markt", "1"}},
      {"Weg 3 | 4", false, {"Weg", "3 | 4"}}};
  for (const auto& [text, one, want] : cases)
    EXPECT_EQ(cImmoHelperV2::GetStrasseHausnummer(text, one), want) << text;
}

TEST_F(DetailsTest, MasterPictureComesFromTheNearestAncestorThatHasOne) {
  cImmoHelperV2& h = Helper();
  const std::string hostPath = Session().g_strHostPath;
  auto listing = [&](int n) { return Rows("select * from obj where DSN = '" + ObjKey(n) + "'"); };
  std::string title;
  EXPECT_THAT(h.GetStammBilder(*listing(26), 1, title, hostPath), EndsWith("fb1_0.jpg"));
  EXPECT_EQ(title, "Titelbild FB-1001");
  EXPECT_THAT(h.GetStammBilder(*listing(26), 3, title, hostPath), EndsWith("fb1_2.jpg"));
  EXPECT_EQ(h.GetStammBilder(*listing(26), 4, title, hostPath), "");
  EXPECT_EQ(h.GetStammBilder(*listing(1), 1, title, hostPath), "");  // no parent

  h.m_JPGRama = true;
  EXPECT_THAT(h.GetStammBilder(*listing(26), 1, title, hostPath), EndsWith("fb1_online.jpg"));
  EXPECT_EQ(title, "Online-Titelbild FB-1001");
  EXPECT_THAT(h.GetStammBilder(*listing(27), 1, title, hostPath), EndsWith("fb2_0.jpg"));

  // 27's parent has no pictures: its grandparent's are taken; a cycle ends empty-handed.
  Exec("UPDATE obj SET DATEI = NULL, OBJ_DSN = '" + ObjKey(1) + "' WHERE DSN = '" + ObjKey(2) +
       "'");
  EXPECT_THAT(h.GetStammBilder(*listing(27), 2, title, hostPath), EndsWith("fb1_1.jpg"));
  Exec("UPDATE obj SET OBJ_DSN = '" + ObjKey(27) + "' WHERE DSN = '" + ObjKey(2) + "'");
  EXPECT_EQ(h.GetStammBilder(*listing(27), 2, title, hostPath), "");
}

}  // namespace
}  // namespace fern::testing
