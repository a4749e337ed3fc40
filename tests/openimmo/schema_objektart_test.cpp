// The property kind as OpenImmo publishes it: "objektart" holds a choice of kinds inside a
// sequence, followed by "objektart_zusatz". A run over the demo host must send every listing with
// its own kind, in a document the schema accepts.
#include <filesystem>
#include <map>
#include <set>

#include "openimmo_fixture.h"

namespace fern::testing {
namespace {

namespace fs = std::filesystem;

const char* kNs = "http://www.openimmo.de";
const char* kPortal = "ImmoPortal Demo";

class SchemaObjektartTest : public OpenImmoTest {};

TEST_F(SchemaObjektartTest, EveryListingGoesOutWithItsKindInAValidDocument) {
  const std::string xsd = HostFile("System\\XML\\openimmo.xsd").string();
  auto schema = XmlDocument::Create();
  ASSERT_TRUE(schema->load(xsd));
  schema->setProperty("SelectionNamespaces",
                      Variant(std::string("xmlns:xsd='http://www.w3.org/2001/XMLSchema'")));
  const std::string objektart = "//xsd:element[@name='objektart']/xsd:complexType/xsd:sequence/";
  ASSERT_TRUE(schema->selectSingleNode(objektart + "xsd:choice/xsd:element[@ref='haus']"));
  ASSERT_TRUE(schema->selectSingleNode(objektart + "xsd:element[@ref='objektart_zusatz']"));

  const fs::path work = UseWorkFolder();
  RunPhase(std::string("boersen_name = '") + kPortal + "'");
  std::vector<fs::path> docs;
  for (const auto& e : fs::directory_iterator(work / "TRANSFER" / "openimmo" / kPortal))
    if (e.path().extension() == ".xml") docs.push_back(e.path());
  ASSERT_EQ(docs.size(), 1u) << Lines(102);

  auto doc = XmlDocument::Create();
  ASSERT_TRUE(doc->load(docs[0].string()));
  XmlSchemaCache cache;
  cache.add(kNs, xsd);
  const auto issues = cache.Validate(*doc);
  EXPECT_TRUE(issues.empty()) << issues.front().Text();

  doc->setProperty("SelectionNamespaces", Variant(std::string("xmlns:imo='") + kNs + "'"));
  const XmlNodeListPtr listings = doc->selectNodes("//imo:immobilie");
  EXPECT_EQ(listings->length(), 29);
  std::map<std::string, std::string> kindOf;  // listing number -> kind[type]
  std::set<std::string> kinds;
  for (const XmlNodePtr& listing : *listings) {
    const auto chosen = listing->selectSingleNode("imo:objektkategorie/imo:objektart");
    ASSERT_TRUE(chosen);
    ASSERT_EQ(chosen->ChildElements().size(), 1u) << Shape(chosen);
    const XmlNodePtr kind = chosen->ChildElements().front();
    kinds.insert(kind->baseName());
    kindOf[listing->selectSingleNode(".//imo:objektnr_extern")->text()] = Shape(kind);
  }
  EXPECT_EQ(kinds, (std::set<std::string>{"wohnung", "haus", "grundstueck", "buero_praxen",
                                          "einzelhandel"}));
  EXPECT_EQ(kindOf["FB-1001"], "haus[haustyp]");
  EXPECT_EQ(doc->selectSingleNode("//imo:objektart/imo:haus")->getAttribute("haustyp"),
            "EINFAMILIENHAUS");
}

}  // namespace
}  // namespace fern::testing
