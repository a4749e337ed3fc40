#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/host_error.h"
#include "support/scratch_dir.h"
#include "xml/xml_dom.h"
#include "xml/xml_namespace.h"

using namespace fern;
namespace fs = std::filesystem;

namespace {

class XmlFiles : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = scratch_.path(); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  fern::testing::ScratchDir scratch_;
  fs::path dir_;
};

XmlDocumentPtr Parse(std::string_view text) {
  auto doc = XmlDocument::Create();
  EXPECT_TRUE(doc->loadXML(text)) << doc->parseError()->reason;
  return doc;
}

constexpr const char* kXsd = R"(<?xml version="1.0" encoding="UTF-8"?>
<xsd:schema xmlns:xsd="http://www.w3.org/2001/XMLSchema" targetNamespace="http://www.openimmo.de"
    xmlns="http://www.openimmo.de" elementFormDefault="qualified">
  <xsd:element name="openimmo">
    <xsd:complexType><xsd:sequence>
      <xsd:element ref="plz" maxOccurs="unbounded"/>
    </xsd:sequence></xsd:complexType>
  </xsd:element>
  <xsd:element name="plz">
    <xsd:simpleType><xsd:restriction base="xsd:string"><xsd:maxLength value="5"/></xsd:restriction></xsd:simpleType>
  </xsd:element>
</xsd:schema>
)";

}  // namespace

TEST_F(XmlFiles, SaveWritesDeclarationAndUtf8ByDefault) {
  auto doc = Parse("<a>Müller &amp; Söhne</a>");
  doc->save(Path("plain.xml"));
  EXPECT_EQ(Read("plain.xml"),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<a>Müller &amp; Söhne</a>\r\n");

  auto back = XmlDocument::Create();
  ASSERT_TRUE(back->load(Path("plain.xml")));
  EXPECT_EQ(back->documentElement()->text(), "Müller & Söhne");
}

// A script may put text into the document that is no UTF-8 (a Windows-1252 byte read as it
// was); saving in a single-byte encoding must not swallow the characters after it.
TEST_F(XmlFiles, SaveKeepsWhatFollowsAByteThatIsNoUtf8) {
  auto doc = Parse("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a/>");
  doc->documentElement()->setText("M\xE4rz 2024");
  doc->save(Path("stray.xml"));
  auto back = XmlDocument::Create();
  ASSERT_TRUE(back->load(Path("stray.xml"))) << back->parseError()->reason << Read("stray.xml");
  EXPECT_EQ(back->documentElement()->text(), "März 2024");
}

TEST_F(XmlFiles, SaveUsesTheEncodingTheDeclarationNames) {
  auto doc = Parse("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a b=\"Größe\">Käse € ß</a>");
  doc->save(Path("latin.xml"));
  std::string bytes = Read("latin.xml");
  EXPECT_EQ(bytes.substr(0, 45), "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n");
  EXPECT_NE(bytes.find("K\xE4se &#8364; \xDF"), std::string::npos) << bytes;  // no euro in Latin-1
  EXPECT_NE(bytes.find("Gr\xF6\xDF"
                       "e"),
            std::string::npos);

  auto back = XmlDocument::Create();
  ASSERT_TRUE(back->load(Path("latin.xml")));
  EXPECT_EQ(back->documentElement()->text(), "Käse € ß");
  EXPECT_EQ(*back->documentElement()->getAttribute("b"), "Größe");

  // Switching the declaration to UTF-8 writes UTF-8 bytes.
  back->firstChild()->setAttribute("encoding", "UTF-8");
  back->save(Path("utf8.xml"));
  EXPECT_NE(Read("utf8.xml").find("Käse € ß"), std::string::npos);

  // UTF-16 (with byte order mark) reads back with its declaration.
  back->firstChild()->setAttribute("encoding", "UTF-16");
  back->save(Path("utf16.xml"));
  std::string wide = Read("utf16.xml");
  EXPECT_TRUE(wide.starts_with("\xFF\xFE<\0?\0x\0") || wide.starts_with("\xFE\xFF\0<\0?\0x"))
      << wide.size();
  auto wideBack = XmlDocument::Create();
  ASSERT_TRUE(wideBack->load(Path("utf16.xml"))) << wideBack->parseError()->reason;
  EXPECT_EQ(wideBack->documentElement()->text(), "Käse € ß");
  EXPECT_EQ(*wideBack->firstChild()->getAttribute("encoding"), "UTF-16");

  auto bad = Parse("<?xml version=\"1.0\" encoding=\"no-such-charset\"?><a/>");
  EXPECT_THROW(bad->save(Path("bad.xml")), HostError);
  EXPECT_THROW(doc->save(Path("missing-dir/x.xml")), HostError);
}

TEST_F(XmlFiles, DeclarationReplacedByANewInstruction) {
  // The sequence the exporter uses: drop the loaded declaration, insert a new one before the root.
  auto doc = Parse("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>ä</a>");
  doc->removeChild(doc->firstChild());
  doc->insertBefore(doc->createProcessingInstruction("xml", "version=\"1.0\" encoding=\"UTF-8\" "),
                    doc->lastChild());
  doc->save(Path("decl.xml"));
  EXPECT_EQ(Read("decl.xml"), "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<a>ä</a>\r\n");
}

TEST_F(XmlFiles, DeclarationCopiedFromAnotherDocumentGetsItsEncoding) {
  Write("schema.xsd", kXsd);
  auto xsd = XmlDocument::Create();
  ASSERT_TRUE(xsd->load(Path("schema.xsd")));
  auto tmpl = XmlDocument::Create();
  tmpl->appendChild(tmpl->createNode(1, "imo:openimmo", "http://www.openimmo.de"));
  tmpl->insertBefore(xsd->firstChild()->cloneNode(true), tmpl->documentElement());
  auto enc = tmpl->createAttribute("encoding");
  enc->setText("ISO-8859-1");
  tmpl->firstChild()->attributes()->setNamedItem(enc);
  EXPECT_EQ(tmpl->firstChild()->xml(), "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>");
  EXPECT_EQ(xsd->firstChild()->xml(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>");  // the copy only
  tmpl->documentElement()->setText("ü");
  tmpl->save(Path("tmpl.xml"));
  EXPECT_EQ(Read("tmpl.xml"),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n"
            "<imo:openimmo xmlns:imo=\"http://www.openimmo.de\">\xFC</imo:openimmo>\r\n");
  EXPECT_EQ(tmpl->xml().substr(0, 23), "<?xml version=\"1.0\"?>\r\n");  // text form: no encoding
}

TEST_F(XmlFiles, SchemaValidationPassesAndFailsWithLineNumbers) {
  Write("imo.xsd", kXsd);
  auto cache = std::make_shared<XmlSchemaCache>();
  cache->add("http://www.openimmo.de", Path("imo.xsd"));

  Write("good.xml", "<openimmo xmlns=\"http://www.openimmo.de\">\n<plz>10115</plz>\n</openimmo>");
  Write("bad.xml",
        "<openimmo "
        "xmlns=\"http://www.openimmo.de\">\n<plz>10115</plz>\n<plz>123456</plz>\n<ort/>\n</"
        "openimmo>");
  auto doc = XmlDocument::Create();
  ASSERT_TRUE(doc->load(Path("bad.xml")));  // no schema attached yet: parsing only
  auto issues = cache->Validate(*doc);
  ASSERT_EQ(issues.size(), 2u);
  EXPECT_EQ(issues[0].line, 3);
  EXPECT_NE(issues[0].Text().find("line 3: "), std::string::npos);
  EXPECT_NE(issues[0].message.find("plz"), std::string::npos);
  EXPECT_EQ(issues[1].line, 4);
  EXPECT_NE(issues[1].message.find("ort"), std::string::npos);

  doc->setSchemas(cache);
  auto pe = doc->validate();
  EXPECT_NE(pe->errorCode, 0);
  EXPECT_EQ(pe->line, 3);
  EXPECT_EQ(pe->all.size(), 2u);
  EXPECT_EQ(pe->Summary(1), issues[0].Text());
  EXPECT_NE(pe->Summary().find("; line 4: "), std::string::npos);

  // With schemas attached and validateOnParse on, load validates.
  EXPECT_FALSE(doc->load(Path("bad.xml")));
  EXPECT_EQ(doc->parseError()->line, 3);
  EXPECT_EQ(doc->parseError()->srcText, "<plz>123456</plz>");
  EXPECT_TRUE(doc->load(Path("good.xml")));
  EXPECT_EQ(doc->validate()->errorCode, 0);
}

TEST_F(XmlFiles, SchemaCacheRefusesWrongNamespaceAndBrokenSchemas) {
  Write("imo.xsd", kXsd);
  Write("broken.xsd",
        "<xsd:schema xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"><xsd:element/></xsd:schema>");
  XmlSchemaCache cache;
  try {
    cache.add("http://www.other.de", Path("imo.xsd"));
    FAIL();
  } catch (const HostError& e) {
    EXPECT_NE(e.description().find("http://www.openimmo.de"), std::string::npos);
  }
  EXPECT_THROW(cache.add("", Path("broken.xsd")), HostError);
  EXPECT_THROW(cache.add("", Path("absent.xsd")), HostError);

  // A schema loaded as a document works as well; a document of another namespace has no schema.
  auto xsd = XmlDocument::Create();
  ASSERT_TRUE(xsd->load(Path("imo.xsd")));
  cache.add("http://www.openimmo.de", *xsd);
  EXPECT_EQ(cache.length(), 1);
  EXPECT_EQ(
      cache.Validate(*Parse("<openimmo xmlns=\"http://www.openimmo.de\"><plz>1</plz></openimmo>"))
          .size(),
      0u);
  EXPECT_EQ(cache.Validate(*Parse("<openimmo/>")).size(), 1u);
}

TEST(XmlNamespaceForm, PrefixMovesToDefaultWithoutTouchingContent) {
  const char* text =
      "<imo:openimmo xmlns:imo=\"http://www.openimmo.de\" "
      "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
      "xsi:schemaLocation=\"http://www.openimmo.de openimmo.xsd\">"
      "<imo:objekttitel>Limo: imo:Villa &lt;imo:x&gt;</imo:objekttitel>"
      "<imo:url href=\"http://imo:8080/imo:a\"/><extra/></imo:openimmo>";
  auto doc = Parse(text);
  MoveNamespaceToDefault(*doc, "http://www.openimmo.de");
  std::string out = doc->documentElement()->xml();
  EXPECT_EQ(out,
            "<openimmo xmlns=\"http://www.openimmo.de\" "
            "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
            "xsi:schemaLocation=\"http://www.openimmo.de openimmo.xsd\">"
            "<objekttitel>Limo: imo:Villa &lt;imo:x&gt;</objekttitel>"
            "<url href=\"http://imo:8080/imo:a\"/><extra xmlns=\"\"/></openimmo>");
  // Same namespaces as before, read back.
  auto again = Parse(out);
  again->setProperty("SelectionNamespaces", Variant("xmlns:imo='http://www.openimmo.de'"));
  EXPECT_EQ(again->selectSingleNode("//imo:objekttitel")->text(), "Limo: imo:Villa <imo:x>");
  EXPECT_EQ(again->selectNodes("//extra")->length(), 1);

  MoveNamespaceToPrefix(*doc, "http://www.openimmo.de", "imo");
  EXPECT_EQ(doc->documentElement()->xml(), text);
}

TEST(XmlNamespaceForm, PrefixedAttributesKeepAPrefix) {
  auto doc = Parse("<p:a xmlns:p=\"urn:p\" p:k=\"1\"><p:b/></p:a>");
  MoveNamespaceToDefault(*doc, "urn:p");
  auto again = Parse(doc->xml());
  auto a = again->documentElement();
  EXPECT_EQ(a->namespaceURI(), "urn:p");
  EXPECT_EQ(a->prefix(), "");
  EXPECT_EQ(a->attributes()->getNamedItem("p:k")->namespaceURI(), "urn:p");
  EXPECT_EQ(a->firstChild()->namespaceURI(), "urn:p");
}

TEST(XmlNamespaceForm, NamespaceRemovedEntirely) {
  auto doc = Parse(
      "<imo:openimmo xmlns:imo=\"http://www.openimmo.de\" "
      "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
      "xsi:schemaLocation=\"http://www.openimmo.de "
      "openimmo.xsd\"><imo:a>imo:text</imo:a></imo:openimmo>");
  auto root = doc->documentElement();
  root->removeAttribute("xsi:schemaLocation");
  RemoveNamespace(*doc, "http://www.openimmo.de");
  DropUnusedNamespaceDeclarations(*doc);
  EXPECT_EQ(root->xml(), "<openimmo><a>imo:text</a></openimmo>");
  EXPECT_EQ(root->namespaceURI(), "");

  // Below another default namespace the freed elements say they have none.
  auto mixed =
      Parse("<r xmlns=\"urn:o\"><imo:x xmlns:imo=\"http://www.openimmo.de\"><imo:y/></imo:x></r>");
  RemoveNamespace(*mixed, "http://www.openimmo.de");
  EXPECT_EQ(mixed->documentElement()->xml(), "<r xmlns=\"urn:o\"><x xmlns=\"\"><y/></x></r>");
}

// Files are read as they are parsed and written as they are serialized: a document far larger
// than any one read or write piece keeps its declaration, its text and its error lines.
TEST_F(XmlFiles, LargeFilesRoundTripAndTheirErrorLinesComeFromTheFile) {
  std::string body;
  for (int i = 0; i < 20000; ++i) body += "<plz>" + std::to_string(10000 + i) + "</plz>\r\n";
  Write("big.xml",
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<openimmo>\r\n" + body +
            "<ort>Köln</ort></openimmo>\r\n");
  auto doc = XmlDocument::Create();
  ASSERT_TRUE(doc->load(Path("big.xml"))) << doc->parseError()->reason;
  EXPECT_EQ(doc->documentElement()->childNodes()->length(), 20001);
  doc->save(Path("copy.xml"));
  EXPECT_EQ(
      Read("copy.xml").rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>", 0),
      0u);
  auto copy = XmlDocument::Create();
  ASSERT_TRUE(copy->load(Path("copy.xml")));
  EXPECT_EQ(copy->xml(), doc->xml());
  EXPECT_EQ(copy->documentElement()->lastChild()->text(), "Köln");

  Write("broken.xml", "<openimmo>\n" + body + "<plz>1</ort>\n</openimmo>");
  EXPECT_FALSE(doc->load(Path("broken.xml")));
  EXPECT_EQ(doc->parseError()->line, 20002);
  EXPECT_EQ(doc->parseError()->srcText, "<plz>1</ort>");
  EXPECT_EQ(doc->documentElement(), nullptr);
}
