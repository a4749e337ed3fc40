// Value conversions and look-ups of the exporter on the demo schema: address parts, house
// numbers, parking spaces, number and currency texts, the customer's own elements and the
// content language, with hand-made field-detail rows.
#include "openimmo_fixture.h"
#include "platform/msgbox.h"

namespace fern::testing {
namespace {

class ValuesTest : public OpenImmoTest {
 protected:
  void SetUp() override {
    OpenImmoTest::SetUp();
    X().ClearElementCache();
    schema = X().OpenXMLFile(GetHostPath("System\\XML\\openimmo.xsd"));
    Fresh();
    portal = Rows("select * from Boersen where boersen_name = 'Wohnen HTTP Demo'");
    obj = db::Recordset::Create({{"DSN"}, {"KENNUNG"}, {"LANG"}});
    obj->LoadRow(
        {Variant("{DE000002-0000-4000-8000-000000000002}"), Variant("FB-1002"), Variant(0)});
  }
  // An empty listing element and no field values.
  void Fresh() {
    tmpl = X().CreateEmtpyXML(schema, 5);
    listing = tmpl->documentElement()->selectSingleNode(".//imo:immobilie");
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
  // A text field (type 6).
  void Text(const std::string& code, const std::string& text) { Row(code, 6, text, 0, ""); }
  // A number field (type 1).
  void Number(const std::string& code, double n) { Row(code, 1, "", n, ""); }
  // An option field (type 0) with its WERT.
  void Option(const std::string& code, const std::string& wert) { Row(code, 0, wert, 0, wert); }
  void Row(const std::string& code, int typ, const std::string& text, double num,
           const std::string& wert) {
    details->LoadRow({Variant(code), Variant(typ), Variant(text), Variant(text), Variant(""),
                      Variant(num), Variant(num), Variant(wert), Variant(wert), Variant::Null()});
  }
  XmlDocumentPtr Mapping(const std::string& body) {
    return Parse("<zuordnungen xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\">" + body +
                 "</zuordnungen>");
  }
  void Map(const std::string& body) {
    auto mapping = Mapping(body);
    X().Mapping().FillFromZuordnungen(*mapping, listing, *portal, *obj, *details, *schema);
  }
  std::string At(const std::string& path) {
    XmlNodePtr n = listing->selectSingleNode(path);
    return n ? n->text() : "<none>";
  }
  std::string AttrAt(const std::string& path, const std::string& name) {
    XmlNodePtr n = listing->selectSingleNode(path);
    return n ? n->getAttribute(name).value_or("<none>") : "<no element>";
  }
  std::string Geo() {
    return At(".//imo:plz") + "|" + At(".//imo:ort") + "|" + AttrAt(".//imo:land", "iso_land");
  }

  XmlDocumentPtr schema, tmpl;
  XmlNodePtr listing;
  std::shared_ptr<db::Recordset> portal, obj, details;
};

std::string GeoEntries(std::initializer_list<const char*> elements) {
  std::string s = "<geo><zuordnung>";
  for (const char* e : elements)
    s += std::string("<element element=\"") + e + "\" quelle=\"Ort\" quelltyp=\"FELDART\"/>";
  return s + "</zuordnung></geo>";
}

TEST_F(ValuesTest, CombinedAddressFieldSplitsIntoGeoElements) {
  struct Case {
    const char* value;
    std::initializer_list<const char*> entries;
    const char* geo;
  };
  const Case cases[] = {
      {"DEU-80331 München", {"plz", "ort", "land"}, "80331|München|DEU"},
      {"AUT-1010 Wien", {"plz", "ort", "land"}, "1010|Wien|AUT"},
      // Without "land" among the entries its country code is still written.
      {"12345 Oberstdorf", {"plz", "ort"}, "12345|Oberstdorf|DEU"},
      {"NLD-1234 AB Amsterdam", {"ort", "plz"}, "1234|AB Amsterdam|NLD"},
      // A single entry fills its element like any other.
      {"DEU-80331 München", {"ort"}, "|DEU-80331 München|"},
      // No postcode pattern fits: the elements stay as they are.
      {"D-10115 Berlin", {"plz", "ort", "land"}, "||"},
      {"", {"plz", "ort", "land"}, "||"},
  };
  for (const Case& c : cases) {
    Fresh();
    Text("Ort", c.value);
    Map(GeoEntries(c.entries));
    EXPECT_EQ(Geo(), c.geo) << c.value;
  }
  EXPECT_TRUE(answers->texts.empty());
}

TEST_F(ValuesTest, NonsenseGeoCombinationIsReportedWithoutWaitingAndWritesNothing) {
  // The unattended answerer, as a /PORTAL run has it: the box is reported and answered at once.
  std::vector<std::string> reported;
  SetMessageAnswerer(std::make_shared<UnattendedAnswerer>(
      [&](const std::string&, const std::string& text) { reported.push_back(text); }));
  Text("Ort", "DEU-80331 München");
  Map(GeoEntries({"plz", "land"}));
  EXPECT_EQ(Geo(), "||");
  // Each of the two entries finds its element empty and reports.
  EXPECT_EQ(reported, std::vector<std::string>(2, "unsinnige Feldkombination"));
  SetMessageAnswerer(answers);
}

TEST_F(ValuesTest, StreetFieldGivesStreetAndHouseNumber) {
  const std::pair<const char*, const char*> cases[] = {
      {"Hauptstraße 12a", "Hauptstraße|12a"},
      {"Am Markt", "Am Markt|"},
      {"A1 Straße 5", "A1 Straße|5"},
      {"", "|"},
  };
  for (const auto& [value, expected] : cases) {
    Fresh();
    Text("Straße", value);
    Map("<geo><zuordnung><element element=\"strasse\" quelle=\"Straße\" quelltyp=\"FELDART\"/>"
        "</zuordnung></geo>");
    EXPECT_EQ(At(".//imo:strasse") + "|" + At(".//imo:hausnummer"), expected) << value;
  }
}

TEST_F(ValuesTest, NumberAndCurrencyTexts) {
  Number("Miete", 12.5);
  Number("Null", 0);
  EXPECT_EQ(X().Mapping().FormatVonNum(*details, "Miete") + "|" +
                X().Mapping().FormatVonNum(*details, "Null") + "|" +
                X().Mapping().FormatVonNum(*details, "Fehlt"),
            "12.5||");
  const std::pair<const char*, const char*> currencies[] = {
      {"€", "EUR"}, {"$", "USD"}, {"SFr", "CHF"}, {"£", "GBP"}, {"CHF", "CHF"}, {"sfr", "sfr"}};
  for (const auto& [symbol, iso] : currencies) EXPECT_EQ(X().Mapping().GetWaehrungIso(symbol), iso);
}

// Parking spaces: the type field names the element, the prices come either from the root's
// entries (first type only) or from the `preise` section per type.
const char* kParking =
    "<zuordnung>"
    "<element element=\"stellplatztyp\" quelle=\"Stellplatz\" quelltyp=\"FELDART\">"
    "<attribut quelle=\"GARAGE\" attribut=\"stp_garage\"/>"
    "<attribut quelle=\"TIEFGARAGE\" attribut=\"stp_tiefgarage\"/></element>"
    "<element element=\"stellplatzmiete\" quelle=\"StpMiete\"/>"
    "<element element=\"stellplatzkaufpreis\" quelle=\"StpKauf\"/>"
    "<element element=\"anzahl\" quelle=\"StpAnzahl\"/>"
    "</zuordnung>"
    "<preise><zuordnung>"
    "<element element=\"stp_garage\">"
    "<attribut attribut=\"stellplatzmiete\" quelle=\"GarMiete\"/>"
    "<attribut attribut=\"stellplatzkaufpreis\" quelle=\"GarKauf\"/>"
    "<attribut attribut=\"anzahl\" quelle=\"GarAnzahl\"/></element>"
    "<element element=\"stp_tiefgarage\">"
    "<attribut attribut=\"stellplatzmiete\" quelle=\"TgMiete\"/>"
    "<attribut attribut=\"anzahl\" quelle=\"TgAnzahl\"/></element>"
    "</zuordnung></preise>";

std::string Stp(const XmlNodePtr& listing, const char* name) {
  XmlNodePtr n = listing->selectSingleNode(std::string(".//imo:preise/imo:") + name);
  if (!n) return "<none>";
  return n->getAttribute("stellplatzmiete").value_or("-") + "|" +
         n->getAttribute("stellplatzkaufpreis").value_or("-") + "|" +
         n->getAttribute("anzahl").value_or("-");
}

TEST_F(ValuesTest, ParkingSpacesFromTheRootEntriesOrPerTypeFromThePriceSection) {
  Option("Stellplatz", "GARAGE");
  Option("Stellplatz", "TIEFGARAGE");
  for (const auto& [code, n] : {std::pair{"StpMiete", 12.5},
                                {"StpKauf", 0.0},
                                {"StpAnzahl", 2.0},
                                {"GarMiete", 50.0},
                                {"GarKauf", 12500.5},
                                {"GarAnzahl", 1.0},
                                {"TgMiete", 75.25},
                                {"TgAnzahl", 3.0}})
    Number(code, n);
  auto mapping = Mapping(kParking);
  // The root's entries fill the first type only.
  X().Mapping().FillStellplatz(*mapping, *listing, *details);
  EXPECT_EQ(Stp(listing, "stp_garage"), "12.5||2");
  EXPECT_EQ(Stp(listing, "stp_tiefgarage"), "||");  // the template's empty attributes
  // No purchase price: empty, not a price of 0.00.
  X().Mapping().FillStellplatzPreise(*mapping, *listing, *details);
  EXPECT_EQ(Stp(listing, "stp_garage"), "50.00|12500.50|1");
  EXPECT_EQ(Stp(listing, "stp_tiefgarage"), "75.25||3");
}

TEST_F(ValuesTest, ParkingSpacesNeedAKnownTypeAndTheRootsTypeEntry) {
  Option("Stellplatz", "CARPORT");
  Option("Stellplatz", "GARAGE");
  Number("StpMiete", 12.5);
  Number("GarMiete", 50);
  // The first type is unknown to the entry; a type entry below a section is not the root's.
  auto mapping = Mapping(kParking);
  auto nested = Mapping(std::string("<preise>") + kParking + "</preise>");
  X().Mapping().FillStellplatz(*mapping, *listing, *details);
  X().Mapping().FillStellplatz(*nested, *listing, *details);
  X().Mapping().FillStellplatzPreise(*nested, *listing, *details);
  EXPECT_EQ(Stp(listing, "stp_garage"), "||");
}

const char* kCustom =
    "<allgemein><user_defined_anyfield><xsd:complexType><xsd:sequence>"
    "<xsd:element name=\"plaintext\" type=\"xsd:string\"/>"
    "<xsd:element name=\"baujahr_sanierung\" type=\"xsd:int\"/>"
    "<xsd:element name=\"baujahr\" type=\"xsd:int\"/>"
    "</xsd:sequence></xsd:complexType></user_defined_anyfield>"
    "<zuordnung>"
    "<element element=\"plaintext\" quelle=\"Hinweis1\" quelltyp=\"FELDART\"/>"
    "<element element=\"baujahr_sanierung\" quelle=\"Sanierung\" quelltyp=\"FELDART\" "
    "special=\"VALUE\"/>"
    "<element element=\"plaintext\" quelle=\"Hinweis2\" quelltyp=\"FELDART\"/>"
    "<element element=\"baujahr\" quelle=\"Sanierung\" quelltyp=\"FELDART\"/>"
    "</zuordnung></allgemein>"
    "<preise><user_defined_anyfield><xsd:complexType><xsd:sequence>"
    "<xsd:element name=\"preis_hinweis\" type=\"xsd:string\"/>"
    "</xsd:sequence></xsd:complexType></user_defined_anyfield>"
    "<zuordnung><element element=\"preis_hinweis\" quelle=\"Hinweis1\" quelltyp=\"FELDART\"/>"
    "</zuordnung></preise>";

TEST_F(ValuesTest, CustomerElementsAreDeclaredInTheTemplateAndFilledPerEntry) {
  auto mapping = Mapping(kCustom);
  X().Mapping().FillUserDefinedAnyfield(*tmpl, *mapping);
  XmlNodePtr own = listing->selectSingleNode("./imo:user_defined_anyfield");
  ASSERT_TRUE(own);
  EXPECT_EQ(Shape(own), "user_defined_anyfield(plaintext,baujahr_sanierung,baujahr)");
  // Portals read the customer's elements as OpenImmo elements.
  EXPECT_EQ(own->ChildElements().front()->nodeName(), "imo:plaintext");
  EXPECT_EQ(own->ChildElements().front()->namespaceURI(), "http://www.openimmo.de");
  EXPECT_EQ(Shape(listing->selectSingleNode("./imo:preise/imo:user_defined_anyfield")),
            "user_defined_anyfield(preis_hinweis)");
  // The mapping's "xsd" binding was only for the declarations.
  EXPECT_EQ(vb::CStr(mapping->getProperty("SelectionNamespaces")), "");

  Text("Hinweis1", "Erster");
  Text("Hinweis2", "Zweiter");
  Number("Sanierung", 2019.4);
  X().Mapping().FillFromZuordnungen(*mapping, listing, *portal, *obj, *details, *schema);
  std::vector<std::string> texts;
  for (const XmlNodePtr& c : own->ChildElements()) texts.push_back(c->nodeName() + "=" + c->text());
  // Each plaintext entry fills its own copy, in entry order; the declared one stays empty. A
  // declared name the schema also has is the customer's, typed by its declaration.
  EXPECT_EQ(texts, (std::vector<std::string>{"imo:plaintext=", "imo:baujahr_sanierung=2019",
                                             "imo:baujahr=2019", "imo:plaintext=Erster",
                                             "imo:plaintext=Zweiter"}));
  EXPECT_EQ(At(".//imo:preise/imo:user_defined_anyfield/imo:preis_hinweis"), "Erster");
  EXPECT_EQ(At(".//imo:zustand_angaben//imo:baujahr"), "");

  // The schema's own element of that name still maps through a mapping that doesn't declare it.
  Map("<zustand_angaben><zuordnung><element element=\"baujahr\" quelle=\"Hinweis2\" "
      "quelltyp=\"FELDART\"/></zuordnung></zustand_angaben>");
  EXPECT_EQ(At(".//imo:zustand_angaben/imo:energiepass/imo:baujahr"), "Zweiter");

  X().RemoveEmptyNodes(listing, 127);
  EXPECT_EQ(Shape(own), "user_defined_anyfield(baujahr_sanierung,baujahr,plaintext,plaintext)");
}

TEST_F(ValuesTest, CustomerElementLookupByBlockAndPrefix) {
  auto doc = Parse(
      "<imo:immobilie xmlns:imo=\"http://www.openimmo.de\" xmlns:c=\"urn:kunde\">"
      "<imo:user_defined_anyfield/>"
      "<imo:user_defined_anyfield><c:flag/><c:farbe/></imo:user_defined_anyfield>"
      "<imo:preise><imo:user_defined_anyfield><notiz/></imo:user_defined_anyfield></imo:preise>"
      "</imo:immobilie>");
  XmlNodePtr rootNode = doc->documentElement();
  XmlNode& root = *rootNode;
  // The first block that has children; its first child's prefix qualifies the name.
  XmlNodePtr farbe = X().Mapping().CopyUserDefinedAnyfield(root, "allgemein", "farbe");
  ASSERT_TRUE(farbe);
  EXPECT_EQ(farbe->nodeName(), "c:farbe");
  EXPECT_EQ(X().Mapping().CopyUserDefinedAnyfield(root, "allgemein", "notiz"), nullptr);
  XmlNodePtr notiz = X().Mapping().CopyUserDefinedAnyfield(root, "preise", "notiz");
  ASSERT_TRUE(notiz);
  EXPECT_EQ(notiz->parentNode()->parentNode()->baseName(), "preise");
  EXPECT_EQ(X().Mapping().CopyUserDefinedAnyfield(root, "flaechen", "notiz"), nullptr);
  // "flag" of "allgemein" is a fresh copy at the end of the block each time.
  XmlNodePtr f1 = X().Mapping().CopyUserDefinedAnyfield(root, "allgemein", "flag");
  XmlNodePtr f2 = X().Mapping().CopyUserDefinedAnyfield(root, "allgemein", "flag");
  ASSERT_TRUE(f1 && f2);
  EXPECT_NE(f1->raw(), f2->raw());
  EXPECT_EQ(Shape(farbe->parentNode()), "user_defined_anyfield(flag,farbe,flag,flag)");
}

TEST_F(ValuesTest, ContentLanguageIsTheFirstMarkedInListOrder) {
  // The demo host's content languages are 1031, then 2057.
  auto rs = db::Recordset::Create({{"TransLang_LCID1031"}, {"TransLang_LCID2057"}});
  const std::pair<std::pair<Variant, Variant>, const char*> cases[] = {
      {{Variant(0), Variant(1)}, "_LCID2057"},
      {{Variant(1), Variant(1)}, "_LCID1031"},
      {{Variant::Null(), Variant(true)}, "_LCID2057"},
      {{Variant::Null(), Variant::Null()}, ""},
      {{Variant(0), Variant(0)}, ""},
  };
  for (const auto& [row, expected] : cases) {
    rs->LoadRow({row.first, row.second});
    rs->MoveLast();
    EXPECT_EQ(X().Mapping().LoadContentLanguages(*rs), expected);
  }
  // A listing row without the language columns has no transfer language.
  EXPECT_EQ(X().Mapping().LoadContentLanguages(*obj), "");
}

TEST_F(ValuesTest, DemoListingAddressesGoIntoGeo) {
  auto listings = Rows("select obj.*, 0 as LANG from obj where KENNUNG = 'FB-1003'");
  ASSERT_FALSE(listings->Eof());
  std::vector<std::string> texts;
  auto demo = X().Helper().GetObjektDetails(*listings, "", "", texts);
  auto mapping = X().OpenXMLFile(X().settings().xmlFolder + "\\immoportal.xml");
  X().Mapping().FillFromZuordnungen(*mapping, listing, *portal, *listings, *demo, *schema);
  EXPECT_EQ(Geo(), "50667|Köln|DEU");
  EXPECT_EQ(At(".//imo:strasse") + "|" + At(".//imo:hausnummer"), "Hohe Straße|3");
}

}  // namespace
}  // namespace fern::testing
