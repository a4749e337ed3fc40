// The mapping engine on one listing element of the demo schema, with hand-made listing and
// field-detail rows.
#include "openimmo_fixture.h"

namespace fern::testing {
namespace {

class MappingTest : public OpenImmoTest {
 protected:
  void SetUp() override {
    OpenImmoTest::SetUp();
    UseSchema(GetHostPath("System\\XML\\openimmo.xsd"));
    portal = Rows("select * from Boersen where boersen_name = 'Wohnen HTTP Demo'");
    obj = db::Recordset::Create(
        {{"DSN"}, {"KENNUNG"}, {"EART"}, {"LANG"}, {"TEXTLAGE"}, {"TEXTLAGE_LCID2057"}, {"FLAG"}});
    obj->LoadRow({Variant("{DE000002-0000-4000-8000-000000000002}"), Variant("FB-1002"), Variant(1),
                  Variant(0), Variant("Mitte"), Variant("Centre"), Variant("-1")});
    details = db::Recordset::Create({{"KÜRZEL"},
                                     {"TYP"},
                                     {"EINGABE"},
                                     {"VON_STR"},
                                     {"BIS_STR"},
                                     {"VON_NUM"},
                                     {"BIS_NUM"},
                                     {"WERT"},
                                     {"BEZEICHNUNG"},
                                     {"LINK_DSN"}});
  }
  void UseSchema(const std::string& path) {
    X().ClearElementCache();
    schema = X().OpenXMLFile(path);
    tmpl = X().CreateEmtpyXML(schema, 5);
    listing = tmpl->documentElement()->selectSingleNode(".//imo:immobilie");
  }
  // A field value: code, type, text, number.
  void Value(const std::string& code, int typ, const std::string& text, double num = 0,
             const std::string& wert = "") {
    details->LoadRow({Variant(code), Variant(typ), Variant(text), Variant(text), Variant(""),
                      Variant(num), Variant(num), Variant(wert), Variant(wert), Variant::Null()});
  }
  void Map(const std::string& body) {
    auto mapping = Parse("<zuordnungen>" + body + "</zuordnungen>");
    X().Mapping().FillFromZuordnungen(*mapping, listing, *portal, *obj, *details, *schema);
  }
  std::string At(const std::string& path) { return Text(listing->selectSingleNode(path)); }
  static std::string Text(const XmlNodePtr& n) { return n ? n->text() : "<none>"; }
  std::string AttrAt(const std::string& path, const std::string& name) {
    XmlNodePtr n = listing->selectSingleNode(path);
    return n ? n->getAttribute(name).value_or("<none>") : "<no element>";
  }

  XmlDocumentPtr schema, tmpl;
  XmlNodePtr listing;
  std::shared_ptr<db::Recordset> portal, obj, details;
};

TEST_F(MappingTest, ValuesAreFormattedByTheirSchemaType) {
  Value("Fläche", 1, "", 68.456);
  Value("Zimmer", 2, "", 3.5);
  Value("Bezug", 5, "", 0);
  Value("Stand", 5, "", 46023);  // 2026-01-01
  Value("Titel", 6, "Wohnung\x01 mit\tBlick");
  Map("<flaechen><zuordnung>"
      "<element element=\"wohnflaeche\" quelle=\"Fläche\" quelltyp=\"FELDART\" special=\"VALUE\"/>"
      "<element element=\"anzahl_stellplaetze\" quelle=\"Zimmer\" quelltyp=\"FELDART\" "
      "special=\"VALUE\"/>"
      "</zuordnung></flaechen>"
      "<verwaltung_objekt><zuordnung>"
      "<element element=\"verfuegbar_ab\" quelle=\"Bezug\" quelltyp=\"FELDART\" "
      "special=\"DATEVALUE\"/>"
      "</zuordnung></verwaltung_objekt>"
      "<verwaltung_techn><zuordnung>"
      "<element element=\"stand_vom\" quelle=\"Stand\" quelltyp=\"FELDART\" special=\"DATEVALUE\"/>"
      "</zuordnung></verwaltung_techn>"
      "<freitexte><zuordnung>"
      "<element element=\"objekttitel\" quelle=\"Titel\" quelltyp=\"FELDART\" special=\"VON\"/>"
      "<element element=\"sonstige_angaben\" quelle=\"X\" quelltyp=\"ANDERS\"/>"
      "</zuordnung></freitexte>");
  // A date of 0 writes nothing; control characters but the tab go.
  std::string texts;
  for (const char* e : {"wohnflaeche", "anzahl_stellplaetze", "verfuegbar_ab", "stand_vom",
                        "objekttitel", "sonstige_angaben"})
    texts += At(std::string(".//imo:") + e) + "|";
  EXPECT_EQ(texts, "68.46|4||2026-01-01|Wohnung mit\tBlick||");
}

TEST_F(MappingTest, AFilledElementKeepsItsTextAndLanguageColumnsFollowTheTransferLanguage) {
  Value("Titel1", 6, "aus user1");
  Value("Titel2", 6, "aus Hauptdatei");
  const std::string entry =
      "<freitexte><zuordnung><element element=\"objekttitel\" quelle=\"%\" "
      "quelltyp=\"FELDART\" special=\"VON\"/></zuordnung></freitexte>";
  auto with = [&](const std::string& code) {
    std::string s = entry;
    s.replace(s.find('%'), 1, code);
    return s;
  };
  Map(with("Titel1"));
  Map(with("Titel2"));
  EXPECT_EQ(At(".//imo:objekttitel"), "aus user1");

  X().Helper().strTransLang("_LCID2057");
  Map("<geo><zuordnung><element element=\"ort\" quelle=\"TEXTLAGE\" quelltyp=\"FELD\"/>"
      "</zuordnung></geo><x><zuordnung><element element=\"regionaler_zusatz\" quelle=\"KENNUNG\" "
      "quelltyp=\"FELD\"/></zuordnung></x>");
  // A source that feeds no other geo element fills "ort" like any other element.
  EXPECT_EQ(At(".//imo:ort"), "Centre");
  Map("<verwaltung_objekt><zuordnung><element element=\"verfuegbar_ab\" quelle=\"TEXTLAGE\" "
      "quelltyp=\"FELD\"/></zuordnung></verwaltung_objekt>");
  EXPECT_EQ(At(".//imo:verfuegbar_ab"), "Centre");
}

TEST_F(MappingTest, RepeatsGrowUpToTheDeclaredMaximum) {
  std::ifstream in(HostFile("System\\XML\\openimmo.xsd"));
  std::string xsd((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string from = "ref=\"distanzen\" minOccurs=\"0\" maxOccurs=\"unbounded\"";
  ASSERT_NE(xsd.find(from), std::string::npos);
  xsd.replace(xsd.find(from), from.size(), "ref=\"distanzen\" minOccurs=\"0\" maxOccurs=\"2\"");
  UseSchema(Write("two.xsd", xsd));
  Value("Bus", 1, "", 0.4);
  Value("Zentrum", 1, "", 2);
  Value("Flughafen", 1, "", 30);
  std::string entries;
  for (const char* code : {"Bus", "Zentrum", "Flughafen"})
    entries += std::string("<element element=\"distanzen\" quelle=\"") + code +
               "\" quelltyp=\"FELDART\" special=\"VALUE\"><attribut attribut=\"distanz_zu\">"
               "<option quelle=\"x\" quelltyp=\"OPTION\" option=\"BUS\"/></attribut></element>";
  Map("<infrastruktur><zuordnung>" + entries + "</zuordnung></infrastruktur>");
  auto list = listing->selectNodes(".//imo:infrastruktur/imo:distanzen");
  ASSERT_EQ(list->length(), 2);
  EXPECT_EQ(list->item(0)->text() + "|" + list->item(1)->text(), "0.40|2.00");
  // The copy starts with empty attributes.
  EXPECT_EQ(list->item(1)->getAttribute("distanz_zu").value_or("<none>"), "");
}

TEST_F(MappingTest, AttributesFromOptionsFlagsAndCoordinates) {
  Value("Art", 0, "Wohnung", 0, "WOHN'UNG");
  Value("Heizung", 0, "Fern", 0, "Fern'wärme");
  Value("Breite", 5, "", 47.5);
  Value("Länge", 5, "", 8.123456789012345);
  Map("<objektkategorie><zuordnung>"
      "<element element=\"wohnung\" quelle=\"Art\" quelltyp=\"FELDART\"><attribut "
      "attribut=\"wohnungtyp\"><option quelle=\"WOHN'UNG\" quelltyp=\"OPTION\" option=\"ETAGE\"/>"
      "</attribut></element>"
      "<element element=\"nutzungsart\"><attribut attribut=\"WOHNEN\" quelle=\"FLAG\" "
      "quelltyp=\"FELD\"/></element>"
      "<element element=\"vermarktungsart\" special=\"NOT\"><attribut attribut=\"KAUF\" "
      "quelle=\"FLAG\" quelltyp=\"FELD\"/></element>"
      "</zuordnung></objektkategorie>"
      "<ausstattung><zuordnung><element element=\"heizungsart\" quelle=\"Heizung\" "
      "quelltyp=\"FELDART\"><attribut attribut=\"FERN\" quelle=\"Fern'wärme\" quelltyp=\"OPTION\"/>"
      "<attribut attribut=\"ETAGE\" quelle=\"Etage\" quelltyp=\"OPTION\"/></element>"
      "</zuordnung></ausstattung>"
      "<geo><zuordnung><element element=\"geokoordinaten\">"
      "<attribut attribut=\"breitengrad\" quelle=\"Breite\" quelltyp=\"FELDART\" "
      "special=\"VALUE\"/>"
      "<attribut attribut=\"laengengrad\" quelle=\"Länge\" quelltyp=\"FELDART\" special=\"VALUE\"/>"
      "</element></zuordnung></geo>");
  // Values with apostrophes select their options like any other.
  EXPECT_EQ(AttrAt(".//imo:wohnung", "wohnungtyp") + "|" + AttrAt(".//imo:heizungsart", "FERN") +
                "|" + AttrAt(".//imo:heizungsart", "ETAGE"),
            "ETAGE|true|");
  // A Boolean attribute of "-1" is false; "NOT" on the element turns it.
  EXPECT_EQ(AttrAt(".//imo:nutzungsart", "WOHNEN") + "|" + AttrAt(".//imo:vermarktungsart", "KAUF"),
            "false|true");
  // Coordinates keep their precision.
  EXPECT_EQ(AttrAt(".//imo:geokoordinaten", "breitengrad"), "47.500000000000");
  EXPECT_EQ(AttrAt(".//imo:geokoordinaten", "laengengrad").substr(0, 14), "8.123456789012");
}

TEST_F(MappingTest, FlagElementsAndEnumTranslations) {
  Value("Garten", 6, "J");
  Value("Zustand", 6, "gut 'gepflegt'");
  Map("<ausstattung><zuordnung><element element=\"gartennutzung\" quelle=\"Garten\" "
      "quelltyp=\"FELDART\" special=\"VON\"/></zuordnung></ausstattung>"
      "<freitexte><zuordnung><element element=\"lage\" quelle=\"Zustand\" quelltyp=\"FELDART\" "
      "special=\"VON\"><enum quelle=\"gut 'gepflegt'\" value=\"GEPFLEGT\"/></element>"
      "</zuordnung></freitexte>");
  EXPECT_EQ(At(".//imo:gartennutzung"), "true");
  EXPECT_EQ(At(".//imo:lage"), "GEPFLEGT");  // LANG is 0: the free text is mapped
}

TEST_F(MappingTest, LastTransferComesFromTheStatusRow) {
  const std::string entry =
      "<zustand_angaben><zuordnung><element element=\"user_defined_simplefield\" "
      "quelle=\"LAST_TRANSFER\" enumElementType=\"1\"><attribut quelle=\"letzte\"/></element>"
      "</zuordnung></zustand_angaben>";
  Exec("update boersenobj set letzte_uebertragung = NULL");
  Map(entry);
  auto fields = listing->selectNodes("./imo:zustand_angaben/imo:user_defined_simplefield");
  ASSERT_EQ(fields->length(), 2);  // the empty template and its copy
  EXPECT_EQ(fields->item(1)->text() + fields->item(1)->getAttribute("feldname").value_or(""), "");

  Exec(
      "update boersenobj set letzte_uebertragung = '2026-11-05 10:00:00' where obj_dsn = "
      "'{DE000002-0000-4000-8000-000000000002}' and boersen_dsn = " +
      cUtil::SqlUid(portal->Value("DSN")));
  UseSchema(GetHostPath("System\\XML\\openimmo.xsd"));
  Map(entry);
  fields = listing->selectNodes("./imo:zustand_angaben/imo:user_defined_simplefield");
  ASSERT_EQ(fields->length(), 2);
  EXPECT_NE(fields->item(1)->text().find("2026"), std::string::npos);
  EXPECT_EQ(fields->item(1)->getAttribute("feldname"), "letzte");
}

}  // namespace
}  // namespace fern::testing
