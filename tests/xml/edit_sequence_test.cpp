// Long random edit sequences across two documents: what is written must read back with the same
// names and namespaces, and no node may be used after it was freed (run under ASan/valgrind).
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "platform/host_error.h"
#include "xml/xml_dom.h"
#include "xml/xml_namespace.h"

using namespace fern;

namespace {

void Collect(const XmlNodePtr& n, std::vector<XmlNodePtr>& out) {
  out.push_back(n);
  for (auto c = n->firstChild(); c; c = c->nextSibling())
    if (c->nodeType() == XmlNodeType::Element) Collect(c, out);
}

// Element names with namespace URIs in document order.
std::string Shape(const XmlNodePtr& root) {
  std::vector<XmlNodePtr> all;
  Collect(root, all);
  std::string out;
  for (auto& e : all) out += "{" + e->namespaceURI() + "}" + e->baseName() + " ";
  return out;
}

void CheckRoundTrip(const XmlDocumentPtr& doc) {
  auto again = XmlDocument::Create();
  ASSERT_TRUE(again->loadXML(doc->xml())) << again->parseError()->reason << "\n" << doc->xml();
  std::string shape = Shape(doc->documentElement());
  EXPECT_EQ(Shape(again->documentElement()), shape) << doc->xml();

  // Removing a namespace moves exactly its elements out of it.
  auto stripped = std::static_pointer_cast<XmlDocument>(doc->cloneNode(true));
  RemoveNamespace(*stripped, "urn:c");
  std::string expected = shape;
  for (size_t at; (at = expected.find("{urn:c}")) != std::string::npos;)
    expected.replace(at, 7, "{}");
  ASSERT_TRUE(again->loadXML(stripped->xml())) << again->parseError()->reason;
  EXPECT_EQ(Shape(again->documentElement()), expected) << stripped->xml();

  // Changing the namespace form changes no element's namespace (an element that declares
  // another default namespace itself is refused).
  auto form = std::static_pointer_cast<XmlDocument>(doc->cloneNode(true));
  try {
    MoveNamespaceToDefault(*form, "urn:b");
  } catch (const HostError&) {
    return;
  }
  ASSERT_TRUE(again->loadXML(form->xml())) << again->parseError()->reason << "\n" << form->xml();
  EXPECT_EQ(Shape(again->documentElement()), shape) << form->xml();
  MoveNamespaceToPrefix(*form, "urn:b", "b");
  ASSERT_TRUE(again->loadXML(form->xml())) << again->parseError()->reason << "\n" << form->xml();
  EXPECT_EQ(Shape(again->documentElement()), shape) << form->xml();
}

}  // namespace

TEST(XmlEditSequence, RandomEditsKeepDocumentsConsistent) {
  const char* seedText = std::getenv("FERN_XML_SEED");
  std::mt19937 rng(seedText ? static_cast<unsigned>(std::atoi(seedText)) : 20240611u);
  auto pick = [&](size_t n) { return rng() % n; };
  const char* uris[] = {"urn:a", "urn:b", ""};
  const char* prefixes[] = {"a", "b", ""};
  std::vector<XmlDocumentPtr> docs;
  for (int i = 0; i < 2; ++i) {
    auto d = XmlDocument::Create();
    ASSERT_TRUE(d->loadXML("<a:root xmlns:a=\"urn:a\" xmlns=\"urn:d\"><x/><a:y/></a:root>"));
    docs.push_back(d);
  }
  std::vector<XmlNodePtr> loose;  // nodes held while detached
  for (int step = 0; step < 3000; ++step) {
    auto& doc = docs[pick(2)];
    std::vector<XmlNodePtr> elems;
    Collect(doc->documentElement(), elems);
    auto target = elems[pick(elems.size())];
    try {
      switch (pick(9)) {
        case 0: {  // new element in some namespace
          size_t k = pick(3);
          std::string name =
              std::string(prefixes[k]) + (prefixes[k][0] ? ":" : "") + "n" + std::to_string(step);
          target->appendChild(doc->createNode(1, name, uris[k]));
          break;
        }
        case 1:  // move within or across documents
          target->insertBefore(
              docs[pick(2)]->documentElement()->firstChild() ? elems[pick(elems.size())] : nullptr,
              target->firstChild());
          break;
        case 2:  // detach and keep
          if (target->parentNode() && target->parentNode()->nodeType() == XmlNodeType::Element)
            loose.push_back(target->parentNode()->removeChild(target));
          break;
        case 3:  // re-insert a detached node somewhere
          if (!loose.empty()) {
            size_t i = pick(loose.size());
            target->appendChild(loose[i]);
            loose.erase(loose.begin() + static_cast<long>(i));
          }
          break;
        case 4:  // deep copy into the other document
          docs[pick(2)]->documentElement()->appendChild(target->cloneNode(true));
          break;
        case 5:
          target->setAttribute("k" + std::to_string(pick(3)), "v&<" + std::to_string(step));
          if (pick(4) == 0) target->removeAttribute("k0");
          break;
        case 6:  // drop detached nodes now and then
          if (!loose.empty() && pick(2) == 0) loose.erase(loose.begin());
          break;
        case 7:  // declarations set and removed by attribute name
          if (pick(2))
            target->setAttribute("xmlns:c", "urn:c");
          else
            target->removeAttribute(pick(2) ? "xmlns:a" : "xmlns:c");
          if (pick(3) == 0)
            target->appendChild(doc->createNode(1, "c:n" + std::to_string(step), "urn:c"));
          break;
        case 8:  // shallow copy placed elsewhere
          elems[pick(elems.size())]->appendChild(target->cloneNode(false));
          break;
      }
    } catch (const HostError&) {
      // Moves below the node's own descendants are refused; the trees stay as they were.
    }
    if (step % 500 == 0)
      for (auto& d : docs) CheckRoundTrip(d);
    // Keep the trees small enough for a fast test.
    for (auto& d : docs) {
      auto root = d->documentElement();
      while (root->childNodes()->length() > 12) root->removeChild(root->firstChild());
    }
  }
  for (auto& d : docs) CheckRoundTrip(d);
  for (auto& n : loose) EXPECT_FALSE(n->xml().empty());
  docs.clear();  // detached nodes outlive their documents
  for (auto& n : loose) EXPECT_FALSE(n->xml().empty());
}
