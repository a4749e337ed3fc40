// The empty document from a schema, and the element records read from it.
#include "openimmo/schema_template.h"
#include "openimmo_fixture.h"

namespace fern::testing {
namespace {

std::string Schema(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
         "<xsd:schema xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
         "xmlns=\"http://www.openimmo.de\" targetNamespace=\"http://www.openimmo.de\" "
         "elementFormDefault=\"qualified\">" +
         body + "</xsd:schema>";
}

const char* kRoot =
    "<xsd:element name=\"openimmo\"><xsd:annotation><xsd:appinfo>0</xsd:appinfo>"
    "</xsd:annotation><xsd:complexType><xsd:sequence>"
    "<xsd:element ref=\"a\"/><xsd:element ref=\"b\"/></xsd:sequence></xsd:complexType>"
    "</xsd:element>";

class TemplateTest : public OpenImmoTest {
 protected:
  // `compiles`: the schema is a correct XSD (libxml2 compiles it); the walker reads any.
  XmlDocumentPtr Build(const std::string& body, bool compiles = true) {
    const std::string path = Write("s.xsd", Schema(body));
    if (compiles) {
      XmlSchemaCache cache;
      EXPECT_NO_THROW(cache.add("http://www.openimmo.de", path));
    }
    schema = tmpl.OpenXMLFile(path);
    return tmpl.CreateEmtpyXML(schema, (dir / "copies").string());
  }
  XmlDocumentPtr schema;
  openimmo::ExportSettings settings;
  openimmo::SchemaTemplate tmpl{settings, [] { return std::string(); }};
};

TEST_F(TemplateTest, SequenceChoiceAndRefReuse) {
  auto t = Build(std::string(kRoot) +
                 "<xsd:element name=\"a\"><xsd:complexType><xsd:choice>"
                 "<xsd:element ref=\"c\"/><xsd:element ref=\"d\"/></xsd:choice>"
                 "</xsd:complexType></xsd:element>"
                 "<xsd:element name=\"b\"><xsd:complexType><xsd:sequence><xsd:element ref=\"c\"/>"
                 "<xsd:choice><xsd:sequence><xsd:element ref=\"d\"/></xsd:sequence>"
                 "<xsd:sequence><xsd:element ref=\"e\"/></xsd:sequence></xsd:choice>"
                 "</xsd:sequence><xsd:attribute name=\"x\" type=\"xsd:string\"/></xsd:complexType>"
                 "</xsd:element>"
                 "<xsd:element name=\"c\"><xsd:complexType><xsd:sequence><xsd:element ref=\"e\"/>"
                 "</xsd:sequence><xsd:attribute name=\"y\" type=\"xsd:boolean\"/>"
                 "</xsd:complexType></xsd:element>"
                 "<xsd:element name=\"d\" type=\"xsd:string\"/>"
                 "<xsd:element name=\"e\" type=\"xsd:int\"/>");
  // A direct choice keeps every alternative; a choice in a sequence its first inner sequence;
  // c appears twice with its whole subtree.
  EXPECT_EQ(Shape(t->documentElement()), "openimmo(a(c[y](e),d),b[x](c[y](e),d))");
  EXPECT_EQ(t->documentElement()->namespaceURI() + " " +
                *t->documentElement()->getAttribute("xsi:schemaLocation"),
            "http://www.openimmo.de http://www.openimmo.de openimmo.xsd");
  EXPECT_NE(t->firstChild()->xml().find("<?xml version=\"1.0\" encoding=\"UTF-8\""),
            std::string::npos);
}

TEST_F(TemplateTest, AChoiceOfElementsInsideASequenceGivesEveryAlternative) {
  // The published shape of "objektart": the kinds as a choice, then "objektart_zusatz".
  auto t = Build(std::string(kRoot) +
                 "<xsd:element name=\"a\"><xsd:complexType><xsd:sequence><xsd:choice>"
                 "<xsd:element ref=\"c\"/><xsd:element ref=\"d\"/></xsd:choice>"
                 "<xsd:element ref=\"e\" minOccurs=\"0\"/></xsd:sequence></xsd:complexType>"
                 "</xsd:element><xsd:element name=\"b\" type=\"xsd:string\"/>"
                 "<xsd:element name=\"c\"><xsd:complexType><xsd:attribute name=\"y\" "
                 "type=\"xsd:string\"/></xsd:complexType></xsd:element>"
                 "<xsd:element name=\"d\" type=\"xsd:string\"/>"
                 "<xsd:element name=\"e\" type=\"xsd:string\"/>");
  EXPECT_EQ(Shape(t->documentElement()), "openimmo(a(c[y],d,e),b)");
}

TEST_F(TemplateTest, ARecursiveSchemaEnds) {
  auto t = Build(std::string(kRoot) +
                 "<xsd:element name=\"a\"><xsd:complexType><xsd:sequence><xsd:element ref=\"b\"/>"
                 "</xsd:sequence></xsd:complexType></xsd:element>"
                 "<xsd:element name=\"b\"><xsd:complexType><xsd:sequence><xsd:element ref=\"a\"/>"
                 "<xsd:element ref=\"b\"/><xsd:element ref=\"z\"/></xsd:sequence></xsd:complexType>"
                 "</xsd:element><xsd:element name=\"z\" type=\"xsd:string\"/>");
  EXPECT_EQ(Shape(t->documentElement()), "openimmo(a(b(z)),b(a,z))");
}

TEST_F(TemplateTest, NoMarkedRootGivesTheRootOnly) {
  auto t = Build(
      "<xsd:element name=\"openimmo\"><xsd:annotation><xsd:appinfo>1</xsd:appinfo>"
      "</xsd:annotation><xsd:complexType><xsd:sequence><xsd:element ref=\"a\"/>"
      "</xsd:sequence></xsd:complexType></xsd:element><xsd:element name=\"a\" "
      "type=\"xsd:string\"/>");
  EXPECT_EQ(Shape(t->documentElement()), "openimmo");
}

TEST_F(TemplateTest, ElementRecords) {
  Build(std::string(kRoot) +
            "<xsd:element name=\"a\"><xsd:complexType><xsd:sequence>"
            "<xsd:element ref=\"d\" minOccurs=\"0\" maxOccurs=\"unbounded\"/>"
            "<xsd:element ref=\"flag\"/><xsd:element ref=\"kind\" maxOccurs=\"3\"/>"
            "</xsd:sequence></xsd:complexType></xsd:element>"
            "<xsd:element name=\"b\" type=\"xsd:string\"/>"
            "<xsd:element name=\"d\"><xsd:annotation><xsd:documentation>Distanz</xsd:documentation>"
            "</xsd:annotation><xsd:complexType><xsd:simpleContent><xsd:extension "
            "base=\"xsd:decimal\">"
            "<xsd:attribute name=\"zu\"><xsd:simpleType><xsd:restriction base=\"xsd:string\">"
            "<xsd:enumeration value=\"BUS\"/><xsd:enumeration value=\"BAHN\"/></xsd:restriction>"
            "</xsd:simpleType></xsd:attribute><xsd:attribute name=\"ok\" type=\"xsd:boolean\"/>"
            "</xsd:extension></xsd:simpleContent></xsd:complexType></xsd:element>"
            "<xsd:element name=\"flag\" type=\"Flag\"/><xsd:simpleType name=\"Flag\">"
            "<xsd:restriction base=\"xsd:boolean\"/></xsd:simpleType>"
            "<xsd:element name=\"kind\"><xsd:complexType><xsd:attribute name=\"t\" "
            "type=\"xsd:string\"/>"
            "<xsd:attribute name=\"t\" type=\"xsd:int\"/></xsd:complexType></xsd:element>",
        false);
  auto d = tmpl.GetElementInfo("d", *schema, "a");
  EXPECT_EQ(d->strFeldName, "Distanz");
  EXPECT_EQ(d->eType, etype::kDecimal);
  EXPECT_EQ(d->lMinOccurs * 1000 + d->lMaxOccurs, 50);  // unbounded is 50
  EXPECT_TRUE(d->blnComplexTypeSimpleContent);
  ASSERT_EQ(d->aryAttribs.size(), 2u);
  EXPECT_EQ(*d->aryAttribs[0].strOptions, (std::vector<std::string>{"BUS", "BAHN"}));
  EXPECT_EQ(d->aryAttribs[1].eType, etype::kBoolean);
  EXPECT_EQ(*d->aryAttribs[1].strOptions, (std::vector<std::string>{"true"}));

  // A Boolean through a named type gets the pseudo attribute "true".
  auto flag = tmpl.GetElementInfo("flag", *schema, "a");
  EXPECT_EQ(flag->eType, etype::kBoolean);
  ASSERT_EQ(flag->aryAttribs.size(), 1u);
  EXPECT_EQ(flag->aryAttribs[0].strAttrName, "true");
  EXPECT_EQ(flag->aryAttribs[0].eType, etype::kText);

  // Two declarations of one attribute name leave the element without attributes.
  auto kind = tmpl.GetElementInfo("kind", *schema, "a");
  EXPECT_FALSE(kind->blnHasAtts);
  EXPECT_EQ(kind->lMaxOccurs, 3);

  // Cached by name: another parent changes nothing.
  EXPECT_EQ(tmpl.GetElementInfo("kind", *schema, "b").get(), kind.get());
}

TEST_F(TemplateTest, ParseErrorsCarryTheParsersReasonAndTheFile) {
  const std::string path = Write("bad.xml", "<a>\n<b></a>");
  try {
    tmpl.OpenXMLFile(path);
    FAIL();
  } catch (const HostError& e) {
    EXPECT_EQ(e.source(), "OpenXMLFile");
    EXPECT_NE(e.description().find("Der XMLParser hat folgenden Fehler festgestellt: "),
              std::string::npos);
    EXPECT_NE(e.description().find("an Zeile/Position 2/"), std::string::npos);
    EXPECT_NE(e.description().find("'  beim Öffnen der Datei: " + path), std::string::npos);
  }
}

}  // namespace
}  // namespace fern::testing
