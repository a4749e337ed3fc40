// The contact person of a listing on the demo database: who it is (an address, a user named in a
// text), the cache of one phase, the photo, and the company data for what stays empty.
#include <QImage>
#include <filesystem>

#include "openimmo_fixture.h"

namespace fern::testing {
namespace {

// An OpenImmo-shaped schema of `kontaktperson` alone, with the photo and the company address.
std::string ContactSchema() {
  std::string kids = "<xsd:element ref=\"foto\" minOccurs=\"0\"/>";
  for (const char* n : {"name", "vorname", "titel", "anrede", "position", "firma", "strasse",
                        "hausnummer", "plz", "ort", "email_zentrale", "email_direkt",
                        "tel_zentrale", "tel_durchw", "tel_fax", "tel_handy", "url"})
    kids += std::string("<xsd:element name=\"") + n + "\" type=\"xsd:string\" minOccurs=\"0\"/>";
  kids +=
      "<xsd:element name=\"land\" minOccurs=\"0\"><xsd:complexType>"
      "<xsd:attribute name=\"iso_land\" type=\"xsd:string\"/></xsd:complexType></xsd:element>";
  return R"(<xsd:schema xmlns:xsd="http://www.w3.org/2001/XMLSchema" xmlns="http://www.openimmo.de"
    targetNamespace="http://www.openimmo.de" elementFormDefault="qualified">
  <xsd:element name="openimmo"><xsd:annotation><xsd:appinfo>0</xsd:appinfo></xsd:annotation>
    <xsd:complexType><xsd:sequence><xsd:element ref="immobilie"/></xsd:sequence></xsd:complexType>
  </xsd:element>
  <xsd:element name="immobilie"><xsd:complexType><xsd:sequence>
    <xsd:element ref="kontaktperson"/></xsd:sequence></xsd:complexType></xsd:element>
  <xsd:element name="kontaktperson"><xsd:complexType><xsd:sequence>)" +
         kids + R"(</xsd:sequence></xsd:complexType></xsd:element>
  <xsd:element name="foto"><xsd:complexType><xsd:sequence>
    <xsd:element name="format" type="xsd:string" minOccurs="0"/>
    <xsd:element name="daten" minOccurs="0"><xsd:complexType><xsd:sequence>
      <xsd:element name="pfad" type="xsd:string"/></xsd:sequence></xsd:complexType></xsd:element>
    </xsd:sequence><xsd:attribute name="location" type="xsd:string"/></xsd:complexType>
  </xsd:element>
</xsd:schema>)";
}

// Demo keys: addresses are table 8, users 6, listings 2, field types 3.
std::string Key(int table, int n) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "{%08X-0000-4000-8000-%012X}", 0xDE000000u + table,
                static_cast<unsigned>(n));
  return buf;
}
std::string Ad(int n) { return Key(8, n); }

class ContactTest : public OpenImmoTest {
 protected:
  void SetUp() override {
    OpenImmoTest::SetUp();
    schema = X().OpenXMLFile(Write("contact.xsd", ContactSchema()));
    tmpl = X().CreateEmtpyXML(schema, 5);
    X().events.InternalState = [this](int16_t s, const std::string& t) {
      internal.push_back({s, t});
    };
    folder = (dir / "out").string();
    std::filesystem::create_directories(folder);
    m.FirmaName = "Fernblick Immobilien GmbH";
    m.FirmaTel = "030 1234567";
    m.FirmaEmail = "info@fernblick.example";
    m.FirmaStrasse = "Invalidenstraße 1a";
    m.FirmaPlz = "10115";
    m.FirmaOrt = "Berlin";
    m.FirmaLand = "DEU";
    m.FirmaFax = "030 1234567-99";
    m.FirmaWeb = "www.fernblick.example";
  }

  // Listing n of the demo host with its field values, read now.
  void UseListing(int n) {
    obj = Rows("SELECT * FROM obj WHERE DSN = '" + Key(2, n) + "'");
    std::vector<std::string> texts;
    details = X().Helper().GetObjektDetails(*obj, "", "", texts);
  }
  // A field type; `details` 1 marks a field of the person's own record.
  void FieldType(int n, const std::string& code, int typ, int contactDetail) {
    Exec("INSERT INTO FLDART (DSN, KÜRZEL, TYP, AKTIV, OBJ, Details) VALUES ('" + Key(3, n) +
         "', " + cUtil::SqlStr(Variant(code)) + ", " + std::to_string(typ) + ", 1, " +
         std::to_string(1 - contactDetail) + ", " + std::to_string(contactDetail) + ")");
  }
  void ListingText(int listingNo, int fieldType, const std::string& text) {
    Exec("INSERT INTO ObjDet (DSN, Obj_Dsn, Fldart_Dsn, EINGABE) VALUES ('" +
         Key(5, 900 + fieldType) + "', '" + Key(2, listingNo) + "', '" + Key(3, fieldType) + "', " +
         cUtil::SqlStr(Variant(text)) + ")");
  }
  // A value of the person's own record (detailsdet of the address).
  void PersonValue(int ad, int fieldType, const std::string& text) {
    Exec("INSERT INTO details (DSN, ad_dsn) SELECT '" + Key(17, 100 + ad) + "', '" + Ad(ad) +
         "' WHERE NOT EXISTS (SELECT 1 FROM details WHERE DSN = '" + Key(17, 100 + ad) + "')");
    Exec("INSERT INTO detailsdet (DSN, details_Dsn, Fldart_Dsn, EINGABE) VALUES ('" +
         Key(18, 100 + fieldType) + "', '" + Key(17, 100 + ad) + "', '" + Key(3, fieldType) +
         "', " + cUtil::SqlStr(Variant(text)) + ")");
  }
  void User(int n, const std::string& name, const std::string& ad, const std::string& mobile) {
    Exec(
        "INSERT INTO ben (DSN, login_name, aktiv, Name, AD_DSN, TelefonBuero, TelefonFunk, Fax, "
        "Email) VALUES ('" +
        Key(6, n) + "', 'u" + std::to_string(n) + "', 1, " + cUtil::SqlStr(Variant(name)) + ", " +
        (ad.empty() ? "NULL" : "'" + ad + "'") + ", '030 " + std::to_string(n) + "', " +
        cUtil::SqlStr(Variant(mobile)) + ", '030 " + std::to_string(n) + "-9', 'u" +
        std::to_string(n) + "@fernblick.example')");
  }

  // Fills a fresh `immobilie` through the mapping's contact section.
  void Map(const std::string& section, const std::string& version = "127") {
    listing = tmpl->documentElement()->selectSingleNode(".//imo:immobilie")->cloneNode(true);
    auto mapping = Parse("<zuordnungen><kontaktperson><zuordnung>" + section +
                         "</zuordnung></kontaktperson></zuordnungen>");
    X().Contact().MapKontaktperson(*mapping, *obj, *details, *schema, *listing, m, folder, version);
  }
  std::string At(const std::string& name) {
    XmlNodePtr n = listing->selectSingleNode(".//imo:kontaktperson/imo:" + name);
    return n ? n->text() : "<none>";
  }
  // Several elements' texts joined by "|".
  std::string At(std::initializer_list<const char*> names) {
    std::string out;
    for (const char* n : names) out += (out.empty() ? "" : "|") + At(n);
    return out;
  }
  std::string Internal() const {
    std::string out;
    for (const auto& l : internal) out += l.text + "\n";
    return out;
  }

  XmlDocumentPtr schema, tmpl;
  XmlNodePtr listing;
  std::shared_ptr<db::Recordset> obj, details;
  tMandant m;
  std::string folder;
  std::vector<StateLine> internal;
};

const char* kByLink = R"(<element element="name" quelle="Ansprechpartner" quelltyp="FELDART"/>)";

TEST_F(ContactTest, AnAddressLinkGivesThePersonAndTheCompanyFillsTheRest) {
  UseListing(1);  // its "Ansprechpartner" links Dana Demo, who has a stored picture
  Map(kByLink);
  // An address load gives no direct ways of contact.
  EXPECT_EQ(At({"name", "vorname", "anrede", "titel", "email_direkt", "land"}),
            "Demo|Dana|Frau|||");
  EXPECT_EQ(At({"firma", "email_zentrale", "tel_zentrale", "tel_fax", "strasse", "hausnummer",
                "plz", "ort", "url"}),
            "Fernblick Immobilien GmbH|info@fernblick.example|030 1234567|030 1234567-99|"
            "Invalidenstraße|1a|10115|Berlin|www.fernblick.example");
  EXPECT_EQ(listing->selectSingleNode(".//imo:land")->getAttribute("iso_land"), "DEU");
  EXPECT_EQ(Internal(), "");

  // A company street without a number empties the house number, whatever it held.
  m.FirmaStrasse = "Am Markt";
  listing = tmpl->documentElement()->selectSingleNode(".//imo:immobilie")->cloneNode(true);
  listing->selectSingleNode(".//imo:hausnummer")->setText("7");
  X().Contact().MapKontaktperson(*Parse("<zuordnungen/>"), *obj, *details, *schema, *listing, m,
                                 folder, "127");
  EXPECT_EQ(At({"strasse", "hausnummer"}), "Am Markt|");
}

TEST_F(ContactTest, ThePhotoFromVersion125WithinItsLimits) {
  UseListing(1);
  Map(kByLink, "124");
  EXPECT_EQ(At("foto"), "");
  EXPECT_EQ(listing->selectSingleNode(".//imo:foto")->getAttribute("location").value_or(""), "");
  EXPECT_TRUE(std::filesystem::is_empty(folder));

  Map(kByLink, "125");
  XmlNodePtr foto = listing->selectSingleNode(".//imo:foto");
  EXPECT_EQ(foto->getAttribute("location"), "EXTERN");
  EXPECT_EQ(At("foto/imo:format"), "jpg");
  const std::string name = At("foto/imo:daten/imo:pfad");
  EXPECT_EQ(name, "kvcontact_de000008-0000-4000-8000-000000000001.jpg");
  const auto file = std::filesystem::path(folder) / name;
  ASSERT_TRUE(std::filesystem::exists(file));
  EXPECT_LE(std::filesystem::file_size(file), 64000u);
  QImage img(QString::fromStdString(file.string()));
  ASSERT_FALSE(img.isNull());
  EXPECT_LE(img.width(), 400);
}

TEST_F(ContactTest, AColumnWithAnAddressKeyAndTitlesBeforeTheFirstName) {
  // The restarted scan finds "Dr." behind "Prof." although "Dr." comes first in the list.
  Exec("UPDATE AD SET Name = 'Prof. dr. Otto Eigentümer' WHERE DSN = '" + Ad(2) + "'");
  UseListing(1);
  Map(R"(<element element="name" quelle="AD_ANBIETER_DSN" quelltyp="FELD"/>)");
  EXPECT_EQ(At({"name", "vorname", "titel", "anrede"}), "Eigentümer|Otto|Prof. Dr.|Herr");
  // No stored picture: no photo, and the key itself is written nowhere.
  EXPECT_EQ(listing->selectSingleNode(".//imo:foto")->getAttribute("location").value_or(""), "");
  EXPECT_EQ(listing->xml().find("DE000008"), std::string::npos);

  // A title must stand alone: "Drossel" keeps its letters.
  Exec("UPDATE AD SET Name = 'Drossel Eigentümer' WHERE DSN = '" + Ad(2) + "'");
  X().Contact().StartKontaktPhase();
  Map(R"(<element element="name" quelle="AD_ANBIETER_DSN" quelltyp="FELD"/>)");
  EXPECT_EQ(At({"vorname", "titel"}), "Drossel|");
}

TEST_F(ContactTest, AUserNamedInATextFieldLongestNameFirst) {
  FieldType(200, "Betreuer", 3, 0);
  ListingText(1, 200, "Betreuung: Karl Bergermann (Vertrieb)");
  User(10, "Karl Berger", "", "0170 10");
  User(11, "Karl Bergermann", Ad(2), "0170 11");
  UseListing(1);
  Map(R"(<element element="name" quelle="Betreuer" quelltyp="FELDART"/>)");
  // A user match gives the whole name only.
  EXPECT_EQ(
      At({"name", "vorname", "tel_handy", "tel_durchw", "tel_fax", "email_direkt", "firma"}),
      "Karl Bergermann||0170 11|030 11|030 11-9|u11@fernblick.example|Fernblick Immobilien GmbH");

  tKontakt none;
  EXPECT_EQ(X().Contact().GetKontaktFelder(none, "Niemand von uns"), "");
  EXPECT_EQ(none.strName, "");
  tKontakt found;
  EXPECT_EQ(X().Contact().GetKontaktFelder(found, "Karl Berger, Büro"), Key(6, 10));
  EXPECT_EQ(found.strADDSN + found.strBildPfad, "");

  // Names are no patterns, and a user without a name is found in no text.
  User(12, "Team [Nord]", "", "0170 12");
  User(13, "", "", "");
  X().Contact().StartKontaktPhase();  // the users are read once per phase
  tKontakt team, other;
  EXPECT_EQ(X().Contact().GetKontaktFelder(team, "Ansprechpartner: Team [Nord]"), Key(6, 12));
  EXPECT_EQ(X().Contact().GetKontaktFelder(other, "Team N"), "");
}

TEST_F(ContactTest, APersonIsLoadedOncePerPhaseItsDetailsForEveryListing) {
  // Dana Demo's own record holds her "Position".
  const std::string section =
      std::string(kByLink) +
      R"(<element element="position" quelle="Position" quelltyp="FELDART"/>)";
  UseListing(1);
  Map(section);
  EXPECT_EQ(At({"name", "position"}), "Demo|Vertrieb Berlin");

  Exec("UPDATE AD SET idx_name = 'Neu', Name = 'Dana Neu' WHERE DSN = '" + Ad(1) + "'");
  Exec("UPDATE detailsdet SET EINGABE = 'Vertrieb Köln' WHERE DSN = '" + Key(18, 2) + "'");
  UseListing(2);  // another listing with the same person
  Map(section);
  // The person of this phase, the details read anew.
  EXPECT_EQ(At({"name", "position"}), "Demo|Vertrieb Köln");

  X().Contact().StartKontaktPhase();
  Map(section);
  EXPECT_EQ(At("name"), "Neu");
}

TEST_F(ContactTest, MappedValuesStayAndOnlyContactFieldsSkipTheListing) {
  FieldType(202, "Mobil", 6, 0);
  ListingText(1, 202, "0171 999");
  UseListing(1);
  // "Mobil" is no field of the person: the listing's value fills tel_handy, and a value of the
  // mapping is never written over by the person's.
  Map(std::string(kByLink) +
      R"(<element element="position" quelle="Position" quelltyp="FELDART"/>
         <element element="tel_handy" quelle="Mobil" quelltyp="FELDART"/>)");
  EXPECT_EQ(At({"tel_handy", "position", "name"}), "0171 999|Vertrieb Berlin|Demo");

  // Only fields of the person: the listing is not asked, so its "Position" value stays out.
  FieldType(203, "Position2", 6, 1);
  ListingText(1, 203, "aus dem Objekt");
  X().Contact().StartKontaktPhase();  // the field types are read once per phase
  UseListing(1);
  Map(std::string(kByLink) +
      R"(<element element="position" quelle="Position2" quelltyp="FELDART"/>)");
  EXPECT_EQ(At("position"), "");
}

TEST_F(ContactTest, FieldCodesWithAnApostropheAreQuoted) {
  FieldType(204, "Chef's Notiz", 6, 1);
  PersonValue(1, 204, "erreichbar ab 9 Uhr");
  auto rs = X().Contact().GetKontaktDetails({"Chef's Notiz"}, Ad(1));
  ASSERT_TRUE(rs);
  EXPECT_EQ(cUtil::k(rs->Value("EINGABE")), "erreichbar ab 9 Uhr");
  EXPECT_FALSE(X().Contact().GetKontaktDetails({"Chef's Notiz"}, Ad(2)));  // no rows: nothing
}

TEST_F(ContactTest, AWrongNameEntryIsLoggedAndTheCompanyFillsTheElement) {
  UseListing(1);
  Map(R"(<element element="name" quelle="Ansprechpartner" quelltyp="TEXT"/>)");
  EXPECT_NE(Internal().find(">>>> Fehler: Fehlerhafte Definition bei Kontaktzuordnung !"),
            std::string::npos);
  EXPECT_NE(Internal().find(
                ">>>> Fehler: Keine Text- oder AdressFeldart bei Definition der Kontaktzuordnung!"),
            std::string::npos);
  EXPECT_EQ(At("name"), "Fernblick Immobilien GmbH");
  EXPECT_EQ(Errors(), 0);

  // A field type that is neither text nor address: the second line, company data again.
  internal.clear();
  X().Contact().StartKontaktPhase();
  Map(R"(<element element="name" quelle="Zimmer" quelltyp="FELDART"/>)");
  EXPECT_EQ(Internal().find("Fehlerhafte Definition"), std::string::npos);
  EXPECT_NE(Internal().find("Keine Text- oder AdressFeldart"), std::string::npos);
  EXPECT_EQ(At("name"), "Fernblick Immobilien GmbH");

  // A load that fails ends this contact person only, and says why in the send log.
  EXPECT_NO_THROW(Map(R"(<element element="name" quelle="KEINE_SPALTE" quelltyp="FELD"/>)"));
  EXPECT_EQ(At("name"), "");
  EXPECT_NE(Internal().find("[Proc: MapKontaktperson]"), std::string::npos);
}

TEST_F(ContactTest, TheDemoMappingAndSchemaGiveDanaDemoWithPositionAndPhoto) {
  schema = X().OpenXMLFile(GetHostPath("System\\XML\\openimmo.xsd"));
  tmpl = X().CreateEmtpyXML(schema, 5);
  UseListing(3);
  listing = tmpl->documentElement()->selectSingleNode(".//imo:immobilie")->cloneNode(true);
  auto mapping = X().OpenXMLFile(GetHostPath("System\\XML\\immoportal.xml"));
  X().Contact().MapKontaktperson(*mapping, *obj, *details, *schema, *listing, m, folder, "127");
  X().RemoveEmptyNodes(listing);
  EXPECT_EQ(Shape(listing->selectSingleNode(".//imo:kontaktperson")),
            "kontaktperson(email_zentrale,tel_zentrale,tel_fax,name,vorname,anrede,position,firma,"
            "strasse,hausnummer,plz,ort,land[iso_land],url,foto[location](format,daten(pfad)))");
  EXPECT_EQ(At("position"), "Vertrieb Berlin");
  EXPECT_TRUE(
      std::filesystem::exists(std::filesystem::path(folder) / At("foto/imo:daten/imo:pfad")));
}

}  // namespace
}  // namespace fern::testing
