#include <gtest/gtest.h>

#include "platform/host_error.h"
#include "xml/xml_dom.h"

using namespace fern;

namespace {

XmlDocumentPtr Parse(std::string_view text) {
  auto doc = XmlDocument::Create();
  EXPECT_TRUE(doc->loadXML(text)) << doc->parseError()->reason;
  return doc;
}

constexpr const char* kImo = "http://www.openimmo.de";

}  // namespace

TEST(XmlParse, ErrorsCarryLinePositionAndSourceLine) {
  auto doc = XmlDocument::Create();
  EXPECT_FALSE(doc->loadXML("<a>\n  <b>text</c>\n</a>"));
  auto pe = doc->parseError();
  EXPECT_NE(pe->errorCode, 0);
  EXPECT_EQ(pe->line, 2);
  EXPECT_GT(pe->linepos, 0);
  EXPECT_EQ(pe->srcText, "  <b>text</c>");
  EXPECT_NE(pe->reason.find("mismatch"), std::string::npos) << pe->reason;
  EXPECT_EQ(doc->documentElement(), nullptr);

  // A later good load clears the error.
  EXPECT_TRUE(doc->loadXML("<a/>"));
  EXPECT_EQ(doc->parseError()->errorCode, 0);

  // Undeclared prefixes and empty input fail too, missing files likewise.
  EXPECT_FALSE(doc->loadXML("<imo:a/>"));
  EXPECT_FALSE(doc->loadXML(""));
  EXPECT_NE(doc->parseError()->errorCode, 0);
  EXPECT_FALSE(doc->load("/nonexistent/dir/file.xml"));
  EXPECT_NE(doc->parseError()->reason.find("file.xml"), std::string::npos);
}

TEST(XmlParse, EntitiesInternalReplacedExternalNeverFetched) {
  auto doc = Parse("<!DOCTYPE a [<!ENTITY co \"Fern &amp; Co\">]><a>&co;</a>");
  EXPECT_EQ(doc->documentElement()->text(), "Fern & Co");
  EXPECT_EQ(doc->documentElement()->firstChild()->nodeType(), XmlNodeType::Text);

  auto ext = XmlDocument::Create();
  ASSERT_TRUE(ext->loadXML("<!DOCTYPE a [<!ENTITY x SYSTEM \"file:///etc/hostname\">]><a>&x;</a>"));
  EXPECT_EQ(ext->documentElement()->text(), "");  // the file's content stays out

  std::string bomb = "<!DOCTYPE a [<!ENTITY e0 \"xxxxxxxxxx\">";
  for (int i = 1; i < 12; ++i)
    bomb += "<!ENTITY e" + std::to_string(i) + " \"" + std::string("&e") + std::to_string(i - 1) +
            ";&e" + std::to_string(i - 1) + ";&e" + std::to_string(i - 1) + ";&e" +
            std::to_string(i - 1) + ";&e" + std::to_string(i - 1) + ";&e" + std::to_string(i - 1) +
            ";&e" + std::to_string(i - 1) + ";&e" + std::to_string(i - 1) + ";&e" +
            std::to_string(i - 1) + ";&e" + std::to_string(i - 1) + ";\">";
  bomb += "]><a>&e11;</a>";
  auto big = XmlDocument::Create();
  EXPECT_FALSE(big->loadXML(bomb));  // 10^12 characters are refused, not built
}

TEST(XmlParse, WhitespaceOnlyTextIsDroppedUnlessPreserved) {
  const char* text = "<a>\n  <b> x </b>\n  <c xml:space=\"preserve\">  </c>\n</a>";
  auto doc = Parse(text);
  auto a = doc->documentElement();
  EXPECT_EQ(a->childNodes()->length(), 2);
  EXPECT_EQ(a->firstChild()->nodeName(), "b");
  EXPECT_EQ(a->firstChild()->firstChild()->nodeValue().str(), " x ");  // data keeps its blanks
  EXPECT_TRUE(a->lastChild()->hasChildNodes());                        // xml:space honoured

  auto keep = XmlDocument::Create();
  keep->setPreserveWhiteSpace(true);
  ASSERT_TRUE(keep->loadXML(text));
  EXPECT_EQ(keep->documentElement()->childNodes()->length(), 5);
}

TEST(XmlParse, DeclarationIsTheFirstChildAndEncodingIgnoredForText) {
  auto doc = Parse("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>Müller</a>");
  auto decl = doc->firstChild();
  EXPECT_EQ(decl->nodeType(), XmlNodeType::ProcessingInstruction);
  EXPECT_EQ(decl->nodeName(), "xml");
  EXPECT_EQ(decl->attributes()->getNamedItem("encoding")->text(), "ISO-8859-1");
  EXPECT_EQ(doc->documentElement()->text(), "Müller");  // the text was UTF-8 all along
  EXPECT_EQ(Parse("<a/>")->firstChild()->nodeName(), "a");
}

TEST(XmlText, GetterTrimsAndJoinsDescendants) {
  auto doc = Parse("<a>  one <b>two</b><!-- no --><c><![CDATA[ & three]]></c>  </a>");
  EXPECT_EQ(doc->documentElement()->text(), "one two & three");
  EXPECT_EQ(doc->text(), "one two & three");
}

TEST(XmlText, SetterNeverParsesEntitiesAndOutputIsEscaped) {
  auto doc = Parse("<a><old>x</old></a>");
  auto a = doc->documentElement();
  a->setText("A & B <c> &amp;");
  EXPECT_EQ(a->text(), "A & B <c> &amp;");
  EXPECT_EQ(a->childNodes()->length(), 1);
  EXPECT_EQ(a->xml(), "<a>A &amp; B &lt;c&gt; &amp;amp;</a>");

  a->setAttribute("q", "\"x\" & <y>");
  EXPECT_EQ(*a->getAttribute("q"), "\"x\" & <y>");
  EXPECT_EQ(a->attributes()->getNamedItem("q")->xml(), "q=\"&quot;x&quot; &amp; &lt;y&gt;\"");

  // What was written reads back the same.
  auto again = Parse(doc->xml());
  EXPECT_EQ(again->documentElement()->text(), "A & B <c> &amp;");
  EXPECT_EQ(*again->documentElement()->getAttribute("q"), "\"x\" & <y>");

  a->setText("");
  EXPECT_FALSE(a->hasChildNodes());
}

TEST(XmlTree, NamesOfNamespacedNodes) {
  auto doc = Parse("<imo:a xmlns:imo=\"http://www.openimmo.de\" imo:k=\"v\"><b/></imo:a>");
  auto a = doc->documentElement();
  EXPECT_EQ(a->nodeName(), "imo:a");
  EXPECT_EQ(a->baseName(), "a");
  EXPECT_EQ(a->prefix(), "imo");
  EXPECT_EQ(a->namespaceURI(), kImo);
  auto k = a->attributes()->getNamedItem("imo:k");
  ASSERT_TRUE(k);
  EXPECT_EQ(k->baseName(), "k");
  EXPECT_EQ(k->namespaceURI(), kImo);
  EXPECT_EQ(a->firstChild()->namespaceURI(), "");
}

TEST(XmlTree, InsertRemoveReplaceAndSiblings) {
  auto doc = Parse("<r><a/><c/></r>");
  auto r = doc->documentElement();
  auto b = doc->createElement("b");
  r->insertBefore(b, r->lastChild());
  EXPECT_EQ(r->xml(), "<r><a/><b/><c/></r>");
  EXPECT_EQ(b->previousSibling()->nodeName(), "a");
  EXPECT_EQ(b->nextSibling()->nodeName(), "c");

  // Moving an existing node takes it out of its old place.
  r->appendChild(r->firstChild());
  EXPECT_EQ(r->xml(), "<r><b/><c/><a/></r>");

  auto old = r->replaceChild(doc->createTextNode("t"), b);
  EXPECT_EQ(old, b);
  EXPECT_EQ(b->parentNode(), nullptr);
  EXPECT_EQ(r->xml(), "<r>t<c/><a/></r>");
  r->removeChild(r->lastChild());
  EXPECT_EQ(r->xml(), "<r>t<c/></r>");

  // Text nodes stay separate nodes (no merging behind the caller's back).
  r->insertBefore(doc->createTextNode("u"), r->lastChild());
  EXPECT_EQ(r->childNodes()->length(), 3);
}

TEST(XmlTree, DocumentElementReplacedAndFailedReplaceKeepsTheOld) {
  auto doc = Parse("<?xml version=\"1.0\"?><!--c--><old/>");
  doc->setDocumentElement(doc->createElement("new"));
  EXPECT_EQ(doc->xml(), "<?xml version=\"1.0\"?>\r\n<!--c-->\r\n<new/>\r\n");
  auto r = doc->documentElement();
  r->appendChild(doc->createElement("a"));
  EXPECT_THROW(r->replaceChild(r, r->firstChild()), HostError);  // an ancestor cannot move below
  EXPECT_EQ(r->xml(), "<new><a/></new>");
}

TEST(XmlTree, MisuseIsRefused) {
  auto doc = Parse("<r><a><b/></a></r>");
  auto r = doc->documentElement();
  auto a = r->firstChild();
  auto b = a->firstChild();
  EXPECT_THROW(b->appendChild(a), HostError);  // into its own descendant
  EXPECT_THROW(a->appendChild(a), HostError);
  EXPECT_THROW(doc->appendChild(doc->createElement("x")), HostError);  // second root
  EXPECT_THROW(r->removeChild(b), HostError);                          // not a child
  EXPECT_THROW(r->insertBefore(doc->createElement("x"), b), HostError);
  EXPECT_THROW(r->appendChild(nullptr), HostError);
}

TEST(XmlTree, CloneShallowKeepsAttributesDeepCopiesAll) {
  auto doc = Parse("<r><a k=\"1\"><b>t</b></a></r>");
  auto a = doc->documentElement()->firstChild();
  auto shallow = a->cloneNode(false);
  EXPECT_EQ(shallow->xml(), "<a k=\"1\"/>");
  auto deep = a->cloneNode(true);
  deep->firstChild()->setText("changed");
  EXPECT_EQ(a->text(), "t");
  doc->documentElement()->appendChild(deep);
  EXPECT_EQ(doc->documentElement()->xml(),
            "<r><a k=\"1\"><b>t</b></a><a k=\"1\"><b>changed</b></a></r>");
}

TEST(XmlNamespaces, CreateNodeInNamespaceAndReconcileOnInsert) {
  auto doc = XmlDocument::Create();
  auto root = doc->createNode(1, "imo:openimmo", kImo);
  doc->appendChild(root);
  auto child = doc->createNode(1, "imo:anbieter", kImo);
  EXPECT_EQ(child->xml(), "<imo:anbieter xmlns:imo=\"http://www.openimmo.de\"/>");
  root->appendChild(child);
  // The child relies on the root's declaration instead of repeating it.
  EXPECT_EQ(root->xml(),
            "<imo:openimmo xmlns:imo=\"http://www.openimmo.de\"><imo:anbieter/></imo:openimmo>");
  // Alone, the child still writes what it needs.
  EXPECT_EQ(child->xml(), "<imo:anbieter xmlns:imo=\"http://www.openimmo.de\"/>");

  auto plain = doc->createNode(1, "x", kImo);
  EXPECT_EQ(plain->xml(), "<x xmlns=\"http://www.openimmo.de\"/>");
}

TEST(XmlNamespaces, RootAttributesInTheOrderTheTemplateWritesThem) {
  auto doc = XmlDocument::Create();
  auto root = doc->createNode(1, "imo:openimmo", kImo);
  doc->appendChild(root);
  root->setAttribute("xsi:schemaLocation", std::string(kImo) + " openimmo.xsd");
  root->setAttribute("xmlns:imo", kImo);
  root->setAttribute("xmlns:xsi", "http://www.w3.org/2001/XMLSchema-instance");
  EXPECT_EQ(root->xml(),
            "<imo:openimmo xmlns:imo=\"http://www.openimmo.de\" "
            "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
            "xsi:schemaLocation=\"http://www.openimmo.de openimmo.xsd\"/>");
  EXPECT_EQ(root->attributes()->getNamedItem("xsi:schemaLocation")->namespaceURI(),
            "http://www.w3.org/2001/XMLSchema-instance");
  // A declaration in use is not dropped, nor rebound.
  root->removeAttribute("xmlns:imo");
  EXPECT_EQ(*root->getAttribute("xmlns:imo"), kImo);
  EXPECT_THROW(root->setAttribute("xmlns:imo", "urn:other"), HostError);
}

TEST(XmlNamespaces, MoveBetweenDocumentsAndDocumentCopies) {
  auto tmpl = Parse(
      "<imo:openimmo xmlns:imo=\"http://www.openimmo.de\"><imo:anbieter>"
      "<imo:immobilie><imo:geo><imo:plz>1</imo:plz></imo:geo></imo:immobilie>"
      "<imo:impressum/></imo:anbieter></imo:openimmo>");
  tmpl->setProperty("SelectionNamespaces", Variant("xmlns:imo='http://www.openimmo.de'"));
  auto collective = std::static_pointer_cast<XmlDocument>(tmpl->cloneNode(true));
  EXPECT_EQ(collective->getProperty("SelectionNamespaces").str(),
            "xmlns:imo='http://www.openimmo.de'");
  auto anbieter = collective->selectSingleNode(".//imo:anbieter");
  anbieter->removeChild(anbieter->selectSingleNode("imo:immobilie"));
  auto impressum = anbieter->selectSingleNode("imo:impressum");
  for (int i = 0; i < 2; ++i) {
    auto listing = tmpl->selectSingleNode(".//imo:immobilie")->cloneNode(true);
    listing->selectSingleNode(".//imo:plz")->setText(std::to_string(10 + i));
    anbieter->insertBefore(listing, impressum);  // from the template into the collective document
    EXPECT_EQ(listing->ownerDocument(), collective);
  }
  tmpl.reset();  // the moved nodes no longer depend on the template
  EXPECT_EQ(collective->documentElement()->xml(),
            "<imo:openimmo xmlns:imo=\"http://www.openimmo.de\"><imo:anbieter>"
            "<imo:immobilie><imo:geo><imo:plz>10</imo:plz></imo:geo></imo:immobilie>"
            "<imo:immobilie><imo:geo><imo:plz>11</imo:plz></imo:geo></imo:immobilie>"
            "<imo:impressum/></imo:anbieter></imo:openimmo>");
  EXPECT_EQ(collective->selectNodes(".//imo:plz")->length(), 2);
}

TEST(XmlMemory, NodesOutliveTheirDocumentObjectAndDetachedNodesStayUsable) {
  XmlNodePtr b, detached;
  {
    auto doc = Parse("<a xmlns:p=\"urn:p\"><p:b><p:c/></p:b></a>");
    b = doc->documentElement()->firstChild();
    detached = b->removeChild(b->firstChild());
    auto parent = doc->documentElement();
    parent->removeChild(b);
  }
  // The document object is gone; b and c still hold the tree and their namespace.
  EXPECT_EQ(b->xml(), "<p:b xmlns:p=\"urn:p\"/>");
  EXPECT_EQ(detached->xml(), "<p:c xmlns:p=\"urn:p\"/>");
  EXPECT_EQ(b->ownerDocument()->documentElement()->xml(), "<a xmlns:p=\"urn:p\"/>");
  b->appendChild(detached);
  EXPECT_EQ(b->xml(), "<p:b xmlns:p=\"urn:p\"><p:c/></p:b>");
}

TEST(XmlMemory, DetachedAttributeKeepsItsNamespaceAfterItsElementIsGone) {
  auto doc = Parse("<r><p:a xmlns:p=\"urn:p\" p:k=\"v\"/></r>");
  auto r = doc->documentElement();
  auto k = r->firstChild()->attributes()->getNamedItem("p:k");
  r->firstChild()->removeAttribute("p:k");
  r->removeChild(r->firstChild());  // nothing holds the element any more: it is freed
  EXPECT_EQ(k->namespaceURI(), "urn:p");
  EXPECT_EQ(k->xml(), "p:k=\"v\"");
}

TEST(XmlMemory, NodeTakenFromAnotherDocumentsTree) {
  auto target = Parse("<t xmlns:p=\"urn:p\"/>");
  {
    auto source =
        Parse("<p:s xmlns:p=\"urn:p\" xmlns:q=\"urn:q\"><p:a q:k=\"1\"><q:b/></p:a></p:s>");
    target->documentElement()->appendChild(source->documentElement()->firstChild());
    EXPECT_EQ(source->documentElement()->xml(), "<p:s xmlns:p=\"urn:p\" xmlns:q=\"urn:q\"/>");
  }
  EXPECT_EQ(target->documentElement()->xml(),
            "<t xmlns:p=\"urn:p\"><p:a xmlns:q=\"urn:q\" q:k=\"1\"><q:b/></p:a></t>");
}

TEST(XmlMemory, LoadingAgainKeepsOldNodesAlive) {
  auto doc = Parse("<a><b>old</b></a>");
  auto b = doc->documentElement()->firstChild();
  ASSERT_TRUE(doc->loadXML("<n/>"));
  EXPECT_EQ(b->text(), "old");
  EXPECT_NE(b->ownerDocument(), doc);
}

TEST(XmlMemory, RemovingWhileWalkingVisitsEveryChild) {
  auto doc = Parse("<r><a/><b>x</b><c/><d/></r>");
  auto r = doc->documentElement();
  auto children = r->childNodes();
  for (auto& child : *children)
    if (child->text().empty()) r->removeChild(child);
  EXPECT_EQ(r->xml(), "<r><b>x</b></r>");
}
