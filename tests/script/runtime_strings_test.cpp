#include <cmath>

#include "runtime_test_support.h"

namespace fern::script {
namespace {

using testing::Call;
using testing::ErrorOf;
using testing::Str;

const Variant kNull = Variant::Null();

TEST(RuntimeStrings, PositionsCountUmlautsAsOneCharacter) {
  EXPECT_EQ(Call("Len", {"Größe"}).longVal(), 5);
  EXPECT_EQ(Str("Left", {"Äpfel", int32_t{2}}), "Äp");
  EXPECT_EQ(Str("Right", {"Maß", int32_t{1}}), "ß");
  EXPECT_EQ(Str("Mid", {"Übergröße", int32_t{6}, int32_t{2}}), "rö");
  EXPECT_EQ(Str("Mid", {"Übergröße", int32_t{6}}), "röße");
  EXPECT_EQ(Call("InStr", {"Straße Süd", "Süd"}).longVal(), 8);
  EXPECT_EQ(Call("InStr", {int32_t{3}, "abab", "ab"}).longVal(), 3);
  EXPECT_EQ(Call("InStr", {int32_t{1}, "ÄBC", "äb", int32_t{1}}).longVal(), 1);
  EXPECT_EQ(Call("InStr", {int32_t{1}, "ÄBC", "äb", int32_t{0}}).longVal(), 0);
  EXPECT_EQ(Call("InStrRev", {"a-b-c", "-"}).longVal(), 4);
  EXPECT_EQ(Call("InStrRev", {"a-b-c", "-", int32_t{3}}).longVal(), 2);
  EXPECT_EQ(Str("StrReverse", {"Öl-Maß"}), "ßaM-lÖ");
  EXPECT_EQ(Str("UCase", {"straße äöü"}), "STRAßE ÄÖÜ");
  EXPECT_EQ(Str("LCase", {"ÄÖÜ"}), "äöü");
  EXPECT_EQ(Call("Len", {int32_t{1234}}).longVal(), 4);  // numbers count as their text
}

// Offsets into a text of several-byte characters are found from the last place asked for: a
// walk forwards, backwards and by jumps must read the same characters as from the start.
TEST(RuntimeStrings, WalkingANonAsciiTextReadsEachCharacter) {
  const std::vector<std::string> chars = {"Ä", "x", "€", "ö", "y", "ß", "z", "Ü"};
  std::string all;
  for (const auto& c : chars) all += c;
  Variant text(all);  // copies share the text and its remembered place
  auto mid = [&](int32_t i) { return Str("Mid", {text, i, int32_t{1}}); };
  for (int32_t i = 1; i <= 8; ++i) EXPECT_EQ(mid(i), chars[i - 1]) << i;
  for (int32_t i = 8; i >= 1; --i) EXPECT_EQ(mid(i), chars[i - 1]) << i;
  for (int32_t i : {7, 2, 6, 3, 1, 8}) EXPECT_EQ(mid(i), chars[i - 1]) << i;
  EXPECT_EQ(mid(9), "");
  EXPECT_EQ(Str("Mid", {text, int32_t{3}, int32_t{3}}), "€öy");
  EXPECT_EQ(Str("Mid", {text, int32_t{6}}), "ßzÜ");
  EXPECT_EQ(Str("Mid", {text, int32_t{7}, int32_t{99}}), "zÜ");
  EXPECT_EQ(Call("InStr", {int32_t{2}, text, "ö"}).longVal(), 4);
  EXPECT_EQ(Call("InStr", {int32_t{5}, text, "ö"}).longVal(), 0);
  EXPECT_EQ(Call("InStr", {int32_t{4}, text, "Ü"}).longVal(), 8);
  EXPECT_EQ(Call("InStr", {int32_t{1}, text, "€"}).longVal(), 3);
  EXPECT_EQ(Call("InStr", {int32_t{9}, text, "x"}).longVal(), 0);
}

TEST(RuntimeStrings, NullPropagatesThroughTextAndFailsWhereVbFails) {
  EXPECT_TRUE(Call("Len", {kNull}).IsNull());
  EXPECT_TRUE(Call("Left", {kNull, int32_t{2}}).IsNull());
  EXPECT_TRUE(Call("Mid", {kNull, int32_t{1}}).IsNull());
  EXPECT_TRUE(Call("Trim", {kNull}).IsNull());
  EXPECT_TRUE(Call("UCase", {kNull}).IsNull());
  EXPECT_TRUE(Call("InStr", {"abc", kNull}).IsNull());
  EXPECT_TRUE(Call("StrComp", {"a", kNull}).IsNull());
  EXPECT_EQ(ErrorOf([] { Call("Left", {"abc", kNull}); }), 94);
  EXPECT_EQ(ErrorOf([] { Call("Asc", {kNull}); }), 94);
  EXPECT_EQ(ErrorOf([] { Call("StrReverse", {kNull}); }), 94);
  EXPECT_EQ(ErrorOf([] { Call("Split", {kNull}); }), 94);
  EXPECT_EQ(ErrorOf([] { Call("Replace", {kNull, "a", "b"}); }), 94);
  EXPECT_EQ(ErrorOf([] { Call("Replace", {"abc", "a", kNull}); }), 94);
}

TEST(RuntimeStrings, EdgeArgumentsRaiseInvalidProcedureCall) {
  EXPECT_EQ(ErrorOf([] { Call("Left", {"abc", int32_t{-1}}); }), 5);
  EXPECT_EQ(ErrorOf([] { Call("Mid", {"abc", int32_t{0}}); }), 5);
  EXPECT_EQ(ErrorOf([] { Call("Mid", {"abc", int32_t{1}, int32_t{-1}}); }), 5);
  EXPECT_EQ(ErrorOf([] { Call("InStr", {int32_t{0}, "abc", "a"}); }), 5);
  EXPECT_EQ(ErrorOf([] { Call("InStr", {int32_t{1}, "abc", "a", int32_t{7}}); }), 5);
  EXPECT_EQ(ErrorOf([] { Call("InStrRev", {"abc", "a", int32_t{0}}); }), 5);
  EXPECT_EQ(ErrorOf([] { Call("Space", {int32_t{-2}}); }), 5);
  EXPECT_EQ(ErrorOf([] { Call("Asc", {""}); }), 5);
  EXPECT_EQ(ErrorOf([] { Call("Chr", {int32_t{256}}); }), 5);
  EXPECT_EQ(ErrorOf([] { Call("String", {int32_t{3}, ""}); }), 5);
  EXPECT_EQ(ErrorOf([] { Call("Replace", {"abc", "a", "b", int32_t{0}}); }), 5);
  EXPECT_EQ(ErrorOf([] { Call("Join", {"no array"}); }), 13);
  EXPECT_EQ(Str("Left", {"abc", int32_t{10}}), "abc");
  EXPECT_EQ(Str("Mid", {"abc", int32_t{5}}), "");
  EXPECT_EQ(Call("InStr", {int32_t{5}, "abc", "c"}).longVal(), 0);
}

TEST(RuntimeStrings, ReplaceHonoursStartCountAndCompare) {
  EXPECT_EQ(Str("Replace", {"aXbxc", "x", "-"}), "aXb-c");
  EXPECT_EQ(Str("Replace", {"aXbxc", "x", "-", int32_t{1}, int32_t{-1}, int32_t{1}}), "a-b-c");
  // A start beyond 1 cuts the text before it off, as VB does.
  EXPECT_EQ(Str("Replace", {"abcabc", "a", "x", int32_t{3}}), "cxbc");
  EXPECT_EQ(Str("Replace", {"aaaa", "a", "b", int32_t{1}, int32_t{2}}), "bbaa");
  EXPECT_EQ(Str("Replace", {"Müller", "ü", "ue"}), "Mueller");
}

std::vector<std::string> Items(const Variant& arr) {
  std::vector<std::string> out;
  for (const Variant& v : arr.arr().data) out.push_back(v.str());
  return out;
}

TEST(RuntimeStrings, SplitJoinAndFilter) {
  Variant parts = Call("Split", {"Köln;Bonn;;Aachen", ";"});
  EXPECT_EQ(parts.arr().LBound(), 0);
  EXPECT_EQ(Items(parts), (std::vector<std::string>{"Köln", "Bonn", "", "Aachen"}));
  EXPECT_EQ(Items(Call("Split", {"a b c"})), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(Items(Call("Split", {"a,b,c,d", ",", int32_t{2}})),
            (std::vector<std::string>{"a", "b,c,d"}));
  EXPECT_EQ(Items(Call("Split", {"1Ä2ä3", "ä", int32_t{-1}, int32_t{1}})),
            (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(Call("Split", {""}).arr().UBound(), -1);
  EXPECT_EQ(Items(Call("Split", {"abc", ""})), std::vector<std::string>{"abc"});
  EXPECT_EQ(Str("Join", {Call("Split", {"x|y|z", "|"}), "+"}), "x+y+z");
  EXPECT_EQ(Str("Join", {Call("Array", {"a", int32_t{1}})}), "a 1");
  Variant list = Call("Array", {"Haus", "Wohnung", "Hausboot"});
  EXPECT_EQ(Items(Call("Filter", {list, "haus", true, int32_t{1}})),
            (std::vector<std::string>{"Haus", "Hausboot"}));
  EXPECT_EQ(Items(Call("Filter", {list, "Haus", false})), std::vector<std::string>{"Wohnung"});
}

TEST(RuntimeStrings, CharacterCodesUseWindows1252AndUtf16) {
  EXPECT_EQ(Call("Asc", {"€"}).intVal(), 128);
  EXPECT_EQ(Call("Asc", {"ä"}).intVal(), 228);
  EXPECT_EQ(Call("AscW", {"€"}).intVal(), 8364);
  EXPECT_EQ(Str("Chr", {int32_t{128}}), "€");
  EXPECT_EQ(Str("Chr", {int32_t{196}}), "Ä");
  EXPECT_EQ(Str("ChrW", {int32_t{8364}}), "€");
  EXPECT_EQ(Str("ChrW", {int32_t{-1}}), "\xEF\xBF\xBF");  // the Integer form of U+FFFF
  EXPECT_EQ(Str("String", {int32_t{3}, "äb"}), "äää");
  EXPECT_EQ(Str("String", {int32_t{2}, int32_t{65}}), "AA");
  EXPECT_EQ(Str("Space", {int32_t{3}}), "   ");
  EXPECT_EQ(Call("StrComp", {"abc", "ABC", int32_t{1}}).intVal(), 0);
  EXPECT_EQ(Call("StrComp", {"abc", "ABC"}).intVal(), 1);
}

TEST(RuntimeStrings, EscapeRoundTrip) {
  EXPECT_EQ(Str("Escape", {"a b/ä€+"}), "a%20b/%E4%u20AC+");
  EXPECT_EQ(Str("Unescape", {"a%20b/%E4%u20AC+%zz"}), "a b/ä€+%zz");
}

TEST(RuntimeNumbers, RoundIsBankersAndKeepsTypes) {
  EXPECT_EQ(Call("Round", {2.5}).doubleVal(), 2.0);
  EXPECT_EQ(Call("Round", {3.5}).doubleVal(), 4.0);
  EXPECT_EQ(Call("Round", {-2.5}).doubleVal(), -2.0);
  EXPECT_DOUBLE_EQ(Call("Round", {1.2345, int32_t{2}}).doubleVal(), 1.23);
  EXPECT_DOUBLE_EQ(Call("Round", {0.125, int32_t{2}}).doubleVal(), 0.12);
  EXPECT_DOUBLE_EQ(Call("Round", {0.375, int32_t{2}}).doubleVal(), 0.38);
  EXPECT_EQ(Call("Round", {Variant::Currency(25000)}).currencyVal(), 20000);  // 2.5 -> 2
  EXPECT_EQ(Call("Round", {Variant::Currency(12350), int32_t{2}}).currencyVal(), 12400);
  EXPECT_EQ(Call("Round", {int16_t{7}}).type(), VType::Integer);
  EXPECT_EQ(Call("Round", {"2,5"}).doubleVal(), 2.0);  // German text
  EXPECT_TRUE(Call("Round", {Variant::Null()}).IsNull());
  EXPECT_EQ(ErrorOf([] { Call("Round", {1.5, int32_t{-1}}); }), 5);
}

TEST(RuntimeNumbers, IntFloorsFixTruncates) {
  EXPECT_EQ(Call("Int", {-2.5}).doubleVal(), -3.0);
  EXPECT_EQ(Call("Fix", {-2.5}).doubleVal(), -2.0);
  EXPECT_EQ(Call("Int", {2.9}).doubleVal(), 2.0);
  EXPECT_EQ(Call("Int", {Variant::Currency(-15000)}).currencyVal(), -20000);
  EXPECT_EQ(Call("Int", {true}).intVal(), -1);
  EXPECT_EQ(Call("Int", {Variant()}).type(), VType::Integer);
  EXPECT_EQ(Call("Int", {Variant::Date(45000.75)}).type(), VType::Date);
  EXPECT_TRUE(Call("Fix", {Variant::Null()}).IsNull());
  EXPECT_EQ(ErrorOf([] { Call("Int", {"abc"}); }), 13);
}

TEST(RuntimeNumbers, AbsSgnHexOct) {
  EXPECT_EQ(Call("Abs", {int16_t{-32768}}).longVal(), 32768);  // widens instead of overflowing
  EXPECT_EQ(Call("Abs", {-2.5}).doubleVal(), 2.5);
  EXPECT_EQ(Call("Sgn", {-0.1}).intVal(), -1);
  EXPECT_EQ(Call("Sgn", {int32_t{0}}).intVal(), 0);
  EXPECT_EQ(Str("Hex", {int32_t{255}}), "FF");
  EXPECT_EQ(Str("Hex", {int16_t{-1}}), "FFFF");
  EXPECT_EQ(Str("Hex", {int32_t{-1}}), "FFFFFFFF");
  EXPECT_EQ(Str("Hex", {Variant()}), "0");
  EXPECT_EQ(Str("Oct", {int32_t{8}}), "10");
  EXPECT_EQ(Str("Hex", {2.5}), "2");  // rounded half to even first
  EXPECT_TRUE(Call("Hex", {Variant::Null()}).IsNull());
}

TEST(RuntimeNumbers, TypeTests) {
  auto dict = CreateRuntimeObject("Scripting.Dictionary");
  EXPECT_EQ(Str("TypeName", {int16_t{1}}), "Integer");
  EXPECT_EQ(Str("TypeName", {"x"}), "String");
  EXPECT_EQ(Str("TypeName", {Variant(dict)}), "Dictionary");
  EXPECT_EQ(Str("TypeName", {Variant::Nothing()}), "Nothing");
  EXPECT_EQ(Str("TypeName", {Call("Array")}), "Variant()");
  EXPECT_EQ(Call("VarType", {Call("Array")}).intVal(), 8204);
  EXPECT_EQ(Call("VarType", {Variant::Date(1)}).intVal(), 7);
  EXPECT_EQ(Call("VarType", {Variant(dict)}).intVal(), 9);
  EXPECT_TRUE(Call("IsNumeric", {"1,5"}).boolVal());
  EXPECT_FALSE(Call("IsNumeric", {"abc"}).boolVal());
  EXPECT_TRUE(Call("IsDate", {"31.12.2024"}).boolVal());
  EXPECT_TRUE(Call("IsObject", {Variant::Nothing()}).boolVal());
  EXPECT_TRUE(Call("IsEmpty", {Variant()}).boolVal());
  EXPECT_FALSE(Call("IsNull", {Variant()}).boolVal());
}

// Stands for a recordset field: an object whose default member is its value.
class FakeField : public Dispatch {
 public:
  explicit FakeField(Variant v) : value_(std::move(v)) {}
  Variant Invoke(std::string_view name, unsigned, std::span<Variant> args) override {
    if (!name.empty() && !NameIs(name, "Value")) ThrowNoMember(name);
    CheckArgCount(args, 0, 0, "Value");
    return value_;
  }
  std::string TypeName() const override { return "Field"; }

 private:
  Variant value_;
};

TEST(RuntimeNumbers, ObjectsStandForTheirDefaultValue) {
  Variant nullField(std::shared_ptr<Dispatch>(std::make_shared<FakeField>(Variant::Null())));
  Variant textField(std::shared_ptr<Dispatch>(std::make_shared<FakeField>(Variant("Größe"))));
  EXPECT_TRUE(Call("IsNull", {nullField}).boolVal());
  EXPECT_FALSE(Call("IsNull", {textField}).boolVal());
  EXPECT_TRUE(Call("IsObject", {nullField}).boolVal());
  EXPECT_EQ(Str("TypeName", {textField}), "Field");
  EXPECT_EQ(Call("VarType", {textField}).intVal(), 8);
  EXPECT_EQ(Call("Len", {textField}).longVal(), 5);
  EXPECT_TRUE(Call("UCase", {nullField}).IsNull());
  EXPECT_EQ(Str("Mid", {textField, int32_t{2}, int32_t{2}}), "rö");
  // An object without a default value is neither Null nor numeric.
  auto dict = CreateRuntimeObject("Scripting.Dictionary");
  EXPECT_FALSE(Call("IsNull", {Variant(dict)}).boolVal());
  EXPECT_FALSE(Call("IsNumeric", {Variant(dict)}).boolVal());
  EXPECT_EQ(ErrorOf([] { Call("Len", {Variant::Nothing()}); }), 91);
}

TEST(RuntimeNumbers, ArraysAndBounds) {
  Variant a = Call("Array", {int32_t{1}, "b", 3.0});
  EXPECT_EQ(Call("UBound", {a}).longVal(), 2);
  EXPECT_EQ(Call("LBound", {a}).longVal(), 0);
  EXPECT_EQ(Call("UBound", {Call("Array")}).longVal(), -1);
  EXPECT_EQ(ErrorOf([&] { Call("UBound", {a, int32_t{2}}); }), 9);
  EXPECT_EQ(ErrorOf([] { Call("UBound", {"x"}); }), 13);
}

TEST(RuntimeNumbers, ConversionsKeepVbTypes) {
  EXPECT_EQ(Call("CInt", {"2,5"}).type(), VType::Integer);
  EXPECT_EQ(Call("CInt", {2.5}).intVal(), 2);
  EXPECT_EQ(Call("CLng", {3.5}).longVal(), 4);
  EXPECT_EQ(Call("CCur", {"1,23456"}).currencyVal(), 12346);
  EXPECT_EQ(Call("CByte", {int32_t{200}}).type(), VType::Byte);
  EXPECT_EQ(Call("CDate", {"24.12.2024"}).type(), VType::Date);
  EXPECT_EQ(Str("CStr", {1.5}), "1,5");
  EXPECT_EQ(ErrorOf([] { Call("CStr", {Variant::Null()}); }), 94);
  EXPECT_EQ(Call("RGB", {int32_t{255}, int32_t{300}, int32_t{1}}).longVal(),
            255 + 255 * 256 + 65536);
}

TEST(RuntimeNumbers, FormatNumberUsesGermanSeparatorsAndRoundsHalfUp) {
  EXPECT_EQ(Str("FormatNumber", {1234567.891}), "1.234.567,89");
  EXPECT_EQ(Str("FormatNumber", {2.5, int32_t{0}}), "3");
  EXPECT_EQ(Str("FormatNumber", {-0.5, int32_t{1}, int32_t{0}}), "-,5");
  EXPECT_EQ(Str("FormatNumber", {-1234.5, int32_t{2}, int32_t{-1}, int32_t{-1}}), "(1.234,50)");
  EXPECT_EQ(Str("FormatNumber", {1234.5, int32_t{2}, int32_t{-2}, int32_t{-2}, int32_t{0}}),
            "1234,50");
  EXPECT_EQ(Str("FormatNumber", {999.996}), "1.000,00");
  EXPECT_EQ(Str("FormatNumber", {-0.001}), "0,00");  // no minus sign on a zero
  EXPECT_EQ(Str("FormatCurrency", {1234.5}), "1.234,50 €");
  EXPECT_EQ(Str("FormatCurrency", {-3}), "-3,00 €");
  EXPECT_EQ(Str("FormatPercent", {0.125}), "12,50%");
  EXPECT_EQ(Str("FormatPercent", {0.5, int32_t{0}}), "50%");
  EXPECT_EQ(ErrorOf([] { Call("FormatNumber", {"abc"}); }), 13);
}

TEST(RuntimeNumbers, RndRepeatsForTheSameNegativeSeed) {
  float a = Call("Rnd", {-3.0}).singleVal();
  float b = Call("Rnd").singleVal();
  EXPECT_EQ(Call("Rnd", {-3.0}).singleVal(), a);
  EXPECT_EQ(Call("Rnd").singleVal(), b);
  EXPECT_EQ(Call("Rnd", {0.0}).singleVal(), b);  // 0 repeats the last number
  for (int i = 0; i < 100; ++i) {
    float r = Call("Rnd").singleVal();
    EXPECT_GE(r, 0.0f);
    EXPECT_LT(r, 1.0f);
  }
}

TEST(RuntimeLookup, NamesAreCaseInsensitive) {
  ASSERT_NE(FindBuiltin("ucase"), nullptr);
  EXPECT_EQ(FindBuiltin("UCASE"), FindBuiltin("UCase"));
  EXPECT_EQ(FindBuiltin("NoSuchFunction"), nullptr);
  Variant v;
  ASSERT_TRUE(FindConstant("VBCRLF", v));
  EXPECT_EQ(v.str(), "\r\n");
  ASSERT_TRUE(FindConstant("vbYesNo", v));
  EXPECT_EQ(v.type(), VType::Integer);
  EXPECT_EQ(v.intVal(), 4);
  ASSERT_TRUE(FindConstant("vbObjectError", v));
  EXPECT_EQ(v.longVal(), -2147221504);
  ASSERT_TRUE(FindConstant("vbArray", v));
  EXPECT_EQ(v.intVal(), 8192);
  EXPECT_FALSE(FindConstant("True", v));  // keywords belong to the parser
  EXPECT_NE(CreateRuntimeObject("SCRIPTING.DICTIONARY"), nullptr);
  EXPECT_EQ(CreateRuntimeObject("Excel.Application"), nullptr);
}

}  // namespace
}  // namespace fern::script
