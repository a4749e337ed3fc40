// One listing element after the mapping: version fix-ups, cleaning and the mandatory check.
#include "openimmo_fixture.h"

namespace fern::testing {
namespace {

class ListingTest : public OpenImmoTest {
 protected:
  void SetUp() override {
    OpenImmoTest::SetUp();
    schema = X().OpenXMLFile(GetHostPath("System\\XML\\openimmo.xsd"));
    tmpl = X().CreateEmtpyXML(schema, 5);
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
    Fresh();
  }
  void Fresh() {
    listing = tmpl->documentElement()->selectSingleNode(".//imo:immobilie")->cloneNode(true);
  }
  void Value(const std::string& code, const std::string& vonStr, double num,
             const std::string& bisStr = "") {
    details->LoadRow({Variant(code), Variant(6), Variant(vonStr), Variant(vonStr), Variant(bisStr),
                      Variant(num), Variant(num), Variant(""), Variant(""), Variant::Null()});
  }
  XmlNodePtr At(const std::string& path) { return listing->selectSingleNode(path); }
  std::string TextAt(const std::string& path) {
    XmlNodePtr n = At(path);
    return n ? n->text() : "<none>";
  }
  void Set(const std::string& path, const std::string& text) { At(path)->setText(text); }
  void Fix(int version, const std::string& mapping = "<zuordnungen/>") {
    X().ApplyVersionFixups(*listing, *details, Parse(mapping), version);
  }

  XmlDocumentPtr schema, tmpl;
  XmlNodePtr listing;
  std::shared_ptr<db::Recordset> details;
};

TEST_F(ListingTest, FixUpsFollowTheSchemaVersion) {
  Value("Energiekennwert", "87", 87);
  auto prepare = [&] {
    Fresh();
    Set(".//imo:energiepass/imo:epart", "3");
    Set(".//imo:verwaltung_techn/imo:gruppen_kennung", "");
  };
  // The texts of epart, energieverbrauchkennwert, sprache, gruppen_kennung and gebaeudeart.
  auto texts = [&] {
    std::string out;
    for (const char* e :
         {"epart", "energieverbrauchkennwert", "sprache", "gruppen_kennung", "gebaeudeart"})
      out += TextAt(std::string(".//imo:") + e) + "|";
    return out;
  };
  prepare();
  Fix(119);
  EXPECT_EQ(At(".//imo:vermarktungsart")->getAttribute("KAUF"), "");
  EXPECT_EQ(texts(), "3|||||");

  prepare();
  Fix(121);
  EXPECT_EQ(At(".//imo:vermarktungsart")->getAttribute("LEASING"), "false");
  EXPECT_EQ(At(".//imo:nutzungsart")->getAttribute("WAZ"), "false");
  EXPECT_EQ(texts(), "3|||||");

  prepare();
  Fix(124);
  EXPECT_EQ(texts(), "VERBRAUCH|87||||");

  prepare();
  Fix(125);
  EXPECT_EQ(texts(), "VERBRAUCH|87|de-DE|0||");

  Ini("OPENIMMO", "EMPTYGROUPKEY", "1");
  prepare();
  Fix(126);
  EXPECT_EQ(texts(), "VERBRAUCH|87|de-DE||nichtwohn|");
  EXPECT_EQ(listing->selectNodes(".//imo:zustand_angaben/imo:user_defined_simplefield")->length(),
            0);
  EXPECT_EQ(At(".//imo:stp_garage")->getAttribute("anzahl"), "");
}

TEST_F(ListingTest, PriceRuleAndBuildingYearsFrom126) {
  Value("kaufpreis", "", 250000.555, "auf Anfrage");
  Value("Modernisierung/Sanierung", "2015", 0);
  Value("Baujahr", "1978", 1978);
  Value("PreisAnfrage", "", 1);
  Set(".//imo:energiepass/imo:baujahr", "1978");
  At(".//imo:nutzungsart")->setAttribute("WOHNEN", "true");
  Fix(126);
  EXPECT_EQ(TextAt(".//imo:preise/imo:kaufpreis"), "250000.56");
  EXPECT_EQ(TextAt(".//imo:zustand_angaben/imo:baujahr"), "1978");
  EXPECT_EQ(TextAt(".//imo:energiepass/imo:baujahr"), "1978,2015");
  EXPECT_EQ(TextAt(".//imo:gebaeudeart"), "wohn");

  // Price on request, named by the main mapping.
  Fresh();
  Fix(126,
      "<zuordnungen><preise><zuordnung><element element=\"kaufpreis\"><attribut "
      "attribut=\"auf_anfrage\" quelle=\"PreisAnfrage\"/></element></zuordnung></preise>"
      "</zuordnungen>");
  EXPECT_EQ(TextAt(".//imo:preise/imo:kaufpreis"), "0");
  EXPECT_EQ(At(".//imo:kaufpreis")->getAttribute("auf_anfrage"), "true");

  // The same year as the certificate's leaves it alone.
  Fresh();
  Set(".//imo:energiepass/imo:baujahr", "2015");
  Fix(126);
  EXPECT_EQ(TextAt(".//imo:energiepass/imo:baujahr"), "2015");
}

TEST_F(ListingTest, RemoveEmptyNodesKeepsWhatCarriesContent) {
  Set(".//imo:geo/imo:plz", "10115");
  At(".//imo:wohnung")->setAttribute("wohnungtyp", "ETAGE");
  At(".//imo:haus")->setAttribute("haustyp", "haus");
  X().RemoveEmptyNodes(listing);
  EXPECT_EQ(Shape(listing),
            "immobilie(objektkategorie(objektart(wohnung[wohnungtyp],haus)),geo(plz))");

  // A kind element without attributes survives as the only child of a category that follows
  // another element.
  Fresh();
  XmlNodePtr art = At(".//imo:objektart");
  for (const XmlNodePtr& c : art->ChildElements())
    if (c->baseName() != "zimmer") art->removeChild(c);
  At(".//imo:vermarktungsart")->setAttribute("KAUF", "true");
  X().RemoveEmptyNodes(listing);
  EXPECT_EQ(Shape(listing), "immobilie(objektkategorie(vermarktungsart[KAUF],objektart(zimmer)))");
}

TEST_F(ListingTest, MandatoryFields) {
  auto check = [&]() -> std::string {
    try {
      X().CheckPflichtfelder(*schema, *listing, 127);
      return "ok";
    } catch (const HostError& e) {
      EXPECT_EQ(e.number(), 23456);
      EXPECT_EQ(e.source(), "CheckPflichtfelder");
      return e.description();
    }
  };
  auto complete = [&] {
    Fresh();
    At(".//imo:nutzungsart")->setAttribute("WOHNEN", "true");
    At(".//imo:vermarktungsart")->setAttribute("KAUF", "true");
    At(".//imo:wohnung")->setAttribute("wohnungtyp", "ETAGE");
    Set(".//imo:objekttitel", "Titel");
    Set(".//imo:geo/imo:plz", "10115");
    Set(".//imo:kontaktperson/imo:tel_handy", "0170");
    X().RemoveEmptyNodes(listing);
  };
  complete();
  EXPECT_EQ(check(), "ok");

  // One mandatory element missing: the message begins with its text.
  const std::pair<const char*, const char*> missing[] = {
      {".//imo:wohnung",
       "Falsche oder fehlende Objektart. Bitte wählen Sie eine andere Objektart.In der XML-Datei"},
      {".//imo:objekttitel", "Das Pflichtfeld 'Headline' enthält keinen Wert."},
      {".//imo:plz", "Fehlerhafte Eingabe in Land_Plz_Ort."},
      {".//imo:tel_handy",
       "Es sind keine Daten für das Pflichtelement 'kontaktperson' vorhanden! Bitte erfassen"},
  };
  for (const auto& [path, text] : missing) {
    complete();
    XmlNodePtr gone = At(path);
    gone->parentNode()->removeChild(gone);
    EXPECT_EQ(check().rfind(text, 0), 0u) << path;
  }

  // Repairs: duplicate categories, a type value the schema does not list, a parking count.
  complete();
  XmlNodePtr cat = At(".//imo:objektkategorie");
  cat->insertBefore(At(".//imo:nutzungsart")->cloneNode(true), At(".//imo:vermarktungsart"));
  XmlNodePtr art = At(".//imo:objektart");
  XmlNodePtr second = art->firstChild()->cloneNode(false);
  art->appendChild(second);
  At(".//imo:wohnung")->setAttribute("wohnungtyp", "SCHLOSS");
  XmlNodePtr preise = listing->selectSingleNode("./imo:preise");
  if (!preise) {
    preise = tmpl->createNode(1, "imo:preise", "http://www.openimmo.de");
    listing->insertBefore(preise, At("./imo:freitexte"));
  }
  XmlNodePtr garage = tmpl->createNode(1, "imo:stp_garage", "http://www.openimmo.de");
  garage->setAttribute("stellplatzmiete", "50");
  preise->appendChild(garage);
  XmlNodePtr tief = tmpl->createNode(1, "imo:stp_tiefgarage", "http://www.openimmo.de");
  tief->setAttribute("anzahl", "2");
  preise->appendChild(tief);
  EXPECT_EQ(check(), "ok");
  EXPECT_EQ(listing->selectNodes(".//imo:nutzungsart")->length(), 1);
  EXPECT_EQ(At(".//imo:objektart")->ChildElements().size(), 1u);
  EXPECT_EQ(At(".//imo:wohnung")->getAttribute("wohnungtyp"), "");
  EXPECT_EQ(garage->getAttribute("anzahl"), "0");
  EXPECT_EQ(tief->getAttribute("anzahl"), "2");
}

}  // namespace
}  // namespace fern::testing
