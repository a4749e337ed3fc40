#include <gtest/gtest.h>

#include "platform/host_error.h"
#include "xml/xml_dom.h"

using namespace fern;

namespace {

constexpr const char* kImoDecl = "xmlns:imo='http://www.openimmo.de'";

XmlDocumentPtr Parse(std::string_view text, const char* ns = kImoDecl) {
  auto doc = XmlDocument::Create();
  EXPECT_TRUE(doc->loadXML(text)) << doc->parseError()->reason;
  doc->setProperty("SelectionLanguage", Variant("XPath"));
  if (ns) doc->setProperty("SelectionNamespaces", Variant(ns));
  return doc;
}

const char* kListings =
    "<openimmo xmlns=\"http://www.openimmo.de\"><anbieter>"
    "<immobilie><verwaltung_techn><objektnr_intern>A1</objektnr_intern></verwaltung_techn>"
    "<geo><plz>10115</plz></geo></immobilie>"
    "<immobilie><verwaltung_techn><objektnr_intern>O'Brien</objektnr_intern></verwaltung_techn>"
    "<geo><plz>80331</plz></geo></immobilie>"
    "</anbieter></openimmo>";

}  // namespace

TEST(XmlXPath, PrefixBoundToTheDocumentsDefaultNamespace) {
  auto doc = Parse(kListings);
  EXPECT_EQ(doc->selectNodes(".//imo:immobilie")->length(), 2);
  // Unprefixed names mean "no namespace", as XPath 1.0 has it.
  EXPECT_EQ(doc->selectNodes(".//immobilie")->length(), 0);
  // A document written with the prefix answers the same paths.
  auto prefixed = Parse(
      "<x:openimmo xmlns:x=\"http://www.openimmo.de\"><x:anbieter><x:immobilie/></x:anbieter>"
      "</x:openimmo>");
  EXPECT_EQ(prefixed->selectNodes("//imo:immobilie")->length(), 1);
}

TEST(XmlXPath, SelectionIsRelativeToTheNode) {
  auto doc = Parse(kListings);
  auto second = doc->selectNodes(".//imo:immobilie")->item(1);
  EXPECT_EQ(second->selectSingleNode(".//imo:plz")->text(), "80331");
  EXPECT_EQ(second->selectSingleNode("imo:plz"), nullptr);
  EXPECT_EQ(second->selectSingleNode("../imo:immobilie")->selectSingleNode(".//imo:plz")->text(),
            "10115");
  // "//" still starts at the root.
  EXPECT_EQ(second->selectNodes("//imo:plz")->length(), 2);
  EXPECT_EQ(doc->selectNodes("imo:openimmo/imo:anbieter")->length(), 1);
}

TEST(XmlXPath, FirstMatchInDocumentOrderAndUnions) {
  auto doc = Parse("<r><a n='1'/><b n='2'/><a n='3'/></r>", nullptr);
  auto r = doc->documentElement();
  EXPECT_EQ(*r->selectSingleNode("b | a")->getAttribute("n"), "1");
  EXPECT_EQ(*r->selectSingleNode("a[2]")->getAttribute("n"), "3");
  EXPECT_EQ(r->selectNodes("@n | */@n")->length(), 3);
}

TEST(XmlXPath, ValuesComparedWithoutBuildingExpressionText) {
  auto doc = Parse(kListings);
  auto anbieter = doc->selectSingleNode(".//imo:anbieter");
  auto hit =
      anbieter->selectSingleNode("imo:immobilie[.//imo:objektnr_intern=$id]", {{"id", "O'Brien"}});
  ASSERT_TRUE(hit);
  EXPECT_EQ(hit->selectSingleNode(".//imo:plz")->text(), "80331");
  EXPECT_EQ(anbieter->selectSingleNode("imo:immobilie[.//imo:objektnr_intern=$id]",
                                       {{"id", "x' or '1'='1"}}),
            nullptr);
  // The compiled expression is reused with other values.
  EXPECT_TRUE(
      anbieter->selectSingleNode("imo:immobilie[.//imo:objektnr_intern=$id]", {{"id", "A1"}}));

  auto map =
      Parse("<element><enum quelle=\"a'b\" value=\"1\"/><enum quelle=\"c\" value=\"2\"/></element>",
            nullptr);
  auto e = map->documentElement();
  EXPECT_EQ(*e->FindChild("enum", "quelle", "a'b")->getAttribute("value"), "1");
  EXPECT_EQ(e->FindChild("enum", "quelle", "zz"), nullptr);
  EXPECT_EQ(e->ChildElements("enum").size(), 2u);
}

TEST(XmlXPath, BadExpressionsAndPrefixesAreErrors) {
  auto doc = Parse(kListings);
  EXPECT_THROW(doc->selectNodes(".//imo:"), HostError);
  EXPECT_THROW(doc->selectNodes(".//xsd:element"), HostError);    // prefix not declared
  EXPECT_THROW(doc->selectNodes("count(//imo:plz)"), HostError);  // not a node set
  EXPECT_THROW(doc->selectNodes("//imo:plz[.=$missing]"), HostError);
  EXPECT_THROW(doc->setProperty("SelectionNamespaces", Variant("xmlns:imo=http://x")), HostError);
  try {
    doc->selectNodes("//imo:plz[");
    FAIL();
  } catch (const HostError& e) {
    EXPECT_EQ(e.number(), kXmlError);
    EXPECT_NE(e.description().find("//imo:plz["), std::string::npos);
  }
}

TEST(XmlXPath, SelectionNamespacesCanBeReplacedAndRead) {
  auto doc = Parse(
      "<s:schema xmlns:s=\"http://www.w3.org/2001/XMLSchema\"><s:element name=\"a\"/></s:schema>");
  EXPECT_THROW(doc->selectNodes("//xsd:element"), HostError);
  doc->setProperty("SelectionNamespaces",
                   Variant("xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"  xmlns:imo='u'"));
  EXPECT_EQ(doc->selectNodes("//xsd:element[@name='a']")->length(), 1);
  EXPECT_EQ(doc->getProperty("SelectionNamespaces").str(),
            "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"  xmlns:imo='u'");
  doc->setProperty("SelectionNamespaces", Variant(""));
  EXPECT_THROW(doc->selectNodes("//xsd:element"), HostError);
}
