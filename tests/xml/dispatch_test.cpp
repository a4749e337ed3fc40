#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/host_error.h"
#include "support/scratch_dir.h"
#include "xml/xml_dom.h"

using namespace fern;

namespace {

Variant Call(const Variant& target, std::string_view name, std::vector<Variant> args = {},
             unsigned kind = kMethod | kPropGet) {
  return CallByName(target, name, kind, std::move(args));
}

}  // namespace

TEST(XmlDispatch, ScriptStyleDocumentWorkAndParseErrors) {
  Variant doc(CreateXmlObject("MSXML2.DOMDocument.4.0"));
  ASSERT_TRUE(doc.IsObject());
  EXPECT_EQ(doc.obj()->TypeName(), "DOMDocument");
  Call(doc, "async", {Variant(false)}, kPropLet);
  EXPECT_FALSE(Call(doc, "async").boolVal());
  EXPECT_TRUE(Call(doc, "loadXML", {Variant("<r><a k='1'>x</a><a k='2'>y</a></r>")}).boolVal());
  Call(doc, "setProperty", {Variant("SelectionLanguage"), Variant("XPath")});

  Variant list = Call(doc, "selectNodes", {Variant("//a")});
  EXPECT_EQ(Call(list, "length").longVal(), 2);
  Variant second = Call(list, "", {Variant(int32_t{1})});  // default member: item
  EXPECT_EQ(Call(second, "getAttribute", {Variant("k")}).str(), "2");
  EXPECT_TRUE(Call(second, "getAttribute", {Variant("none")}).IsNull());
  std::vector<Variant> each;
  ASSERT_TRUE(list.obj()->Enumerate(each));
  EXPECT_EQ(each.size(), 2u);

  Call(second, "text", {Variant("a & b")}, kPropLet);
  Variant root = Call(doc, "documentElement");
  Variant el = Call(doc, "createNode", {Variant(int32_t{1}), Variant("imo:x"), Variant("urn:imo")});
  Call(root, "appendChild", {el});
  EXPECT_EQ(Call(root, "xml").str(),
            "<r><a k=\"1\">x</a><a k=\"2\">a &amp; b</a><imo:x xmlns:imo=\"urn:imo\"/></r>");
  EXPECT_TRUE(Call(root, "selectSingleNode", {Variant("zz")}).IsNothing());

  Variant named = Call(doc, "getElementsByTagName", {Variant("a")});
  EXPECT_EQ(Call(named, "length").longVal(), 2);
  EXPECT_EQ(Call(Call(root, "getElementsByTagName", {Variant("imo:x")}), "length").longVal(), 1);

  Variant attrs = Call(Call(list, "item", {Variant(int32_t{0})}), "attributes");
  EXPECT_EQ(Call(Call(attrs, "getNamedItem", {Variant("k")}), "value").str(), "1");
  EXPECT_THROW(Call(doc, "noSuchMember"), HostError);
  try {
    Call(root, "nodeName", {Variant("y")}, kPropLet);
    FAIL();
  } catch (const HostError& e) {
    EXPECT_EQ(e.number(), err::kWrongArgCount);
  }

  // A failed load answers through the parseError members.
  EXPECT_FALSE(Call(doc, "loadXML", {Variant("<a>\n<b></a>")}).boolVal());
  Variant pe = Call(doc, "parseError");
  EXPECT_NE(Call(pe, "errorCode").longVal(), 0);
  EXPECT_EQ(Call(pe, "line").longVal(), 2);
  EXPECT_EQ(Call(pe, "srcText").str(), "<b></a>");
  EXPECT_EQ(Call(pe, "").longVal(), Call(pe, "errorCode").longVal());  // default member
  EXPECT_TRUE(CreateXmlObject("Microsoft.XMLDOM"));
  EXPECT_EQ(CreateXmlObject("Scripting.Dictionary"), nullptr);
}

TEST(XmlDispatch, FilesByHostPath) {
  namespace fs = std::filesystem;
  const fern::testing::ScratchDir scratch;
  const fs::path& dir = scratch.path();
  fs::create_directories(dir / "Sub");
  Variant doc(CreateXmlObject("Msxml2.DOMDocument.6.0"));
  ASSERT_TRUE(Call(doc, "loadXML", {Variant("<a>\xC3\xA4</a>")}).boolVal());
  // Written with Windows separators and another letter case than the folder has.
  Call(doc, "save", {Variant(dir.string() + "\\SUB\\out.xml")});
  EXPECT_TRUE(fs::exists(dir / "Sub" / "out.xml"));
  Variant again(CreateXmlObject("Msxml2.DOMDocument.6.0"));
  EXPECT_TRUE(Call(again, "load", {Variant(dir.string() + "\\sub\\OUT.xml")}).boolVal());
  EXPECT_EQ(Call(Call(again, "documentElement"), "text").str(), "\xC3\xA4");
  EXPECT_FALSE(Call(again, "load", {Variant("\\\\server\\share\\x.xml")}).boolVal());
}
