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

class SchemaObjektartTest : public OpenImmoTest {
 protected:
  // Runs the portal and loads its one document; `issues` gets what the demo schema objects to.
  XmlDocumentPtr RunAndLoad(std::vector<XmlIssue>& issues) {
    const std::string xsd = HostFile("System\\XML\\openimmo.xsd").string();
    const fs::path work = UseWorkFolder();
    RunPhase(std::string("boersen_name = '") + kPortal + "'");
    std::vector<fs::path> docs;
    for (const auto& e : fs::directory_iterator(work / "TRANSFER" / "openimmo" / kPortal))
      if (e.path().extension() == ".xml") docs.push_back(e.path());
    if (docs.size() != 1u) {
      ADD_FAILURE() << docs.size() << " documents; " << Lines(102);
      return nullptr;
    }
    auto doc = XmlDocument::Create();
    if (!doc->load(docs[0].string())) return nullptr;
    XmlSchemaCache cache;
    cache.add(kNs, xsd);
    issues = cache.Validate(*doc);
    doc->setProperty("SelectionNamespaces", Variant(std::string("xmlns:imo='") + kNs + "'"));
    return doc;
  }
};

TEST_F(SchemaObjektartTest, EveryListingGoesOutWithItsKindInAValidDocument) {
  auto schema = XmlDocument::Create();
  ASSERT_TRUE(schema->load(HostFile("System\\XML\\openimmo.xsd").string()));
  schema->setProperty("SelectionNamespaces",
                      Variant(std::string("xmlns:xsd='http://www.w3.org/2001/XMLSchema'")));
  const std::string objektart = "//xsd:element[@name='objektart']/xsd:complexType/xsd:sequence/";
  ASSERT_TRUE(schema->selectSingleNode(objektart + "xsd:choice/xsd:element[@ref='haus']"));
  ASSERT_TRUE(schema->selectSingleNode(objektart + "xsd:element[@ref='objektart_zusatz']"));

  std::vector<XmlIssue> issues;
  auto doc = RunAndLoad(issues);
  ASSERT_TRUE(doc);
  EXPECT_TRUE(issues.empty()) << issues.front().Text();
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

TEST_F(SchemaObjektartTest, AListingWhoseKindTheMappingLacksIsRefusedAloneNotTheDocument) {
  // The shops' kind becomes one that the mapping has no entry for.
  Exec("update FLDARTOP set WERT = 'HALLE' where WERT = 'EINZELHANDEL'");
  std::vector<XmlIssue> issues;
  auto doc = RunAndLoad(issues);
  ASSERT_TRUE(doc);
  EXPECT_TRUE(issues.empty()) << issues.front().Text();
  EXPECT_EQ(doc->selectNodes("//imo:immobilie")->length(), 25);
  EXPECT_EQ(doc->selectNodes("//imo:objektart_zusatz")->length(), 0);
  const std::string errors = Lines(102);
  size_t refused = 0;
  for (size_t at = 0;
       (at = errors.find("Falsche oder fehlende Objektart", at)) != std::string::npos; ++at)
    ++refused;
  EXPECT_EQ(refused, 4u) << errors;
}

}  // namespace
}  // namespace fern::testing
