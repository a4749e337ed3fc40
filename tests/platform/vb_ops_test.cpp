#include <gtest/gtest.h>

#include <map>

#include "platform/vb.h"
#include "support/error_of.h"

using fern::Variant;
using fern::VType;
namespace vb = fern::vb;

namespace {

using fern::testing::ErrorOf;

Variant I(int16_t v) { return Variant(v); }
Variant L(int32_t v) { return Variant(v); }
Variant D(double v) { return Variant(v); }
Variant B(uint8_t v) { return Variant::Byte(v); }
Variant S(const char* v) { return Variant(v); }
Variant C(int64_t scaled) { return Variant::Currency(scaled); }
const Variant kNull = Variant::Null();
const Variant kEmpty;
const Variant T(true), F(false);

// Type and text of a result: "Integer 5", "Double 2,5", "String ab", ...
std::string Show(const Variant& v) {
  static const std::map<VType, std::string> kNames{
      {VType::Empty, "Empty"},   {VType::Integer, "Integer"}, {VType::Long, "Long"},
      {VType::Single, "Single"}, {VType::Double, "Double"},   {VType::Currency, "Currency"},
      {VType::Date, "Date"},     {VType::String, "String"},   {VType::Boolean, "Boolean"},
      {VType::Byte, "Byte"}};
  if (v.IsNull()) return "Null";
  auto it = kNames.find(v.type());
  return (it == kNames.end() ? std::string("?") : it->second) + " " + vb::CStr(v);
}

using BinOp = Variant (*)(const Variant&, const Variant&, const vb::Locale&);

struct OpCase {
  BinOp op;
  Variant a, b;
  const char* expected;
};

// A comparison reads no text as a number, so it takes no locale.
template <Variant (*F)(const Variant&, const Variant&)>
Variant Rel(const Variant& a, const Variant& b, const vb::Locale&) {
  return F(a, b);
}

void Check(const std::vector<OpCase>& cases) {
  for (size_t i = 0; i < cases.size(); ++i) {
    const OpCase& c = cases[i];
    EXPECT_EQ(Show(c.op(c.a, c.b, vb::German())), c.expected)
        << "case " << i << ": " << Show(c.a) << " , " << Show(c.b);
  }
}

}  // namespace

TEST(VbArithmetic, ResultTypesAndOverflowPromotion) {
  Check({
      {vb::Add, I(1), I(2), "Integer 3"},
      {vb::Add, I(32767), I(1), "Long 32768"},
      {vb::Mul, I(300), I(300), "Long 90000"},
      {vb::Add, L(2147483647), L(1), "Double 2147483648"},
      {vb::Add, B(200), B(55), "Byte 255"},
      {vb::Add, B(200), B(100), "Integer 300"},
      {vb::Sub, B(1), B(2), "Integer -1"},
      {vb::Add, I(1), D(0.5), "Double 1,5"},
      {vb::Add, Variant::Single(1.5f), I(1), "Single 2,5"},
      {vb::Add, Variant::Single(1.5f), L(1), "Double 2,5"},
      {vb::Add, C(15000), D(1.25), "Currency 2,75"},
      {vb::Mul, C(15000), C(15000), "Currency 2,25"},
      {vb::Mul, C(3), C(5000), "Currency 0,0002"},  // 0,00015 to even
      {vb::Mul, C(5), C(5000), "Currency 0,0002"},  // 0,00025 to even
      {vb::Add, T, T, "Integer -2"},
      {vb::Add, kEmpty, kEmpty, "Integer 0"},
      {vb::Add, kEmpty, B(7), "Byte 7"},
  });
}

TEST(VbArithmetic, TextAndDateOperands) {
  Check({
      {vb::Add, S("ab"), S("cd"), "String abcd"},
      {vb::Add, S("1"), S("2"), "String 12"},
      {vb::Add, S("1,5"), I(1), "Double 2,5"},
      {vb::Add, I(1), S("1.000"), "Double 1001"},
      {vb::Add, S("x"), kEmpty, "String x"},
      {vb::Add, kEmpty, S("x"), "String x"},
      {vb::Sub, S("3"), S("1"), "Double 2"},
      {vb::Mul, S("2,5"), S("2"), "Double 5"},
      {vb::Add, Variant::Date(45657), I(1), "Date 01.01.2025"},
      {vb::Add, D(0.5), Variant::Date(45657), "Date 31.12.2024 12:00:00"},
      {vb::Sub, Variant::Date(45657), L(1), "Date 30.12.2024"},
      {vb::Sub, Variant::Date(45658), Variant::Date(45657.5), "Double 0,5"},
      {vb::Mul, Variant::Date(2), I(2), "Double 4"},
  });
  EXPECT_EQ(ErrorOf([] { vb::Add(S("abc"), I(1)); }), 13);
  EXPECT_EQ(ErrorOf([] { vb::Add(Variant::Date(2958465), I(1)); }), 6);
  EXPECT_EQ(ErrorOf([] { vb::Add(C(INT64_MAX), C(1)); }), 6);
  EXPECT_EQ(ErrorOf([] { vb::Mul(D(1e200), D(1e200)); }), 6);
}

TEST(VbArithmetic, NullPropagatesEmptyIsZero) {
  for (BinOp op : {vb::Add, vb::Sub, vb::Mul, vb::Div, vb::IntDiv, vb::Mod, vb::Pow}) {
    EXPECT_TRUE(op(kNull, I(1), vb::German()).IsNull());
    EXPECT_TRUE(op(D(2), kNull, vb::German()).IsNull());
    EXPECT_EQ(ErrorOf([&] { op(Variant::Nothing(), kNull, vb::German()); }),
              13);  // no value beside Null
  }
  EXPECT_TRUE(vb::Neg(kNull).IsNull());
  EXPECT_EQ(Show(vb::Div(kEmpty, I(3))), "Double 0");
}

TEST(VbArithmetic, DivisionIntegerDivisionAndModulo) {
  Check({
      {vb::Div, I(7), I(2), "Double 3,5"},
      {vb::Div, C(10000), I(4), "Double 0,25"},
      {vb::IntDiv, I(-7), I(2), "Integer -3"},
      {vb::IntDiv, D(7.5), I(2), "Long 4"},  // 7.5 rounds to 8 first
      {vb::IntDiv, D(6.5), I(2), "Long 3"},  // 6.5 rounds to 6
      {vb::IntDiv, B(9), B(2), "Byte 4"},
      {vb::IntDiv, I(-32768), I(-1), "Long 32768"},
      {vb::IntDiv, S("9"), I(2), "Long 4"},
      {vb::Mod, I(-7), I(3), "Integer -1"},
      {vb::Mod, I(7), I(-3), "Integer 1"},
      {vb::Mod, D(5.5), I(4), "Long 2"},  // 5.5 rounds to 6
      {vb::Mod, L(10), T, "Long 0"},
      {vb::Pow, I(2), I(10), "Double 1024"},
      {vb::Pow, I(-2), I(3), "Double -8"},
      {vb::Pow, D(4), D(0.5), "Double 2"},
  });
  EXPECT_EQ(ErrorOf([] { vb::Div(I(1), I(0)); }), 11);
  EXPECT_EQ(ErrorOf([] { vb::Div(I(1), kEmpty); }), 11);
  EXPECT_EQ(ErrorOf([] { vb::IntDiv(I(1), D(0.4)); }), 11);
  EXPECT_EQ(ErrorOf([] { vb::Mod(I(1), I(0)); }), 11);
  EXPECT_EQ(ErrorOf([] { vb::IntDiv(D(3e9), I(1)); }), 6);
  EXPECT_EQ(ErrorOf([] { vb::IntDiv(L(INT32_MIN), L(-1)); }), 6);
  EXPECT_EQ(ErrorOf([] { vb::Pow(I(-8), D(1.0 / 3)); }), 5);
  EXPECT_EQ(ErrorOf([] { vb::Pow(I(0), I(-1)); }), 5);
}

TEST(VbArithmetic, Negation) {
  const std::vector<std::pair<Variant, const char*>> cases{
      {I(-32768), "Long 32768"}, {L(INT32_MIN), "Double 2147483648"},
      {B(3), "Integer -3"},      {T, "Integer 1"},
      {kEmpty, "Integer 0"},     {S("1,5"), "Double -1,5"},
      {C(5), "Currency -0,0005"}};
  for (const auto& [in, expected] : cases) EXPECT_EQ(Show(vb::Neg(in)), expected) << Show(in);
}

TEST(VbConcat, NullAndEmptyAreEmptyText) {
  EXPECT_EQ(Show(vb::Concat(S("a"), D(1.5))), "String a1,5");
  EXPECT_EQ(Show(vb::Concat(kNull, S("x"))), "String x");
  EXPECT_EQ(Show(vb::Concat(I(1), kNull)), "String 1");
  EXPECT_EQ(Show(vb::Concat(kEmpty, T)), "String True");
  EXPECT_TRUE(vb::Concat(kNull, kNull).IsNull());
  EXPECT_EQ(Show(vb::Concat(Variant::Date(45657), S("|"))), "String 31.12.2024|");
}

TEST(VbLogic, BitwiseOnWholeNumbersBooleanOnBooleans) {
  Check({
      {vb::And, T, F, "Boolean False"},
      {vb::Or, T, F, "Boolean True"},
      {vb::Xor, T, T, "Boolean False"},
      {vb::Eqv, F, F, "Boolean True"},
      {vb::Imp, T, F, "Boolean False"},
      {vb::Imp, F, F, "Boolean True"},
      {vb::And, I(12), I(10), "Integer 8"},
      {vb::Or, I(12), I(3), "Integer 15"},
      {vb::Xor, L(5), I(1), "Long 4"},
      {vb::And, T, I(6), "Integer 6"},
      {vb::And, B(0xF0), B(0x3C), "Byte 48"},
      {vb::Eqv, B(0xF0), B(0x0F), "Byte 0"},
      {vb::Or, B(1), I(2), "Integer 3"},
      {vb::And, D(6.5), I(7), "Long 6"},
      {vb::Or, S("4"), I(1), "Long 5"},
      {vb::Eqv, I(0), I(0), "Integer -1"},
  });
  const std::vector<std::pair<Variant, const char*>> nots{
      {T, "Boolean False"}, {I(0), "Integer -1"}, {B(0), "Byte 255"},
      {L(5), "Long -6"},    {D(2.5), "Long -3"},  {kEmpty, "Integer -1"}};
  for (const auto& [in, expected] : nots) EXPECT_EQ(Show(vb::Not(in)), expected) << Show(in);
  EXPECT_TRUE(vb::Not(kNull).IsNull());
  EXPECT_EQ(ErrorOf([] { vb::And(S("x"), I(1)); }), 13);
  EXPECT_EQ(ErrorOf([] { vb::Not(D(1e10)); }), 6);
}

TEST(VbLogic, NullRules) {
  Check({
      {vb::And, kNull, F, "Boolean False"},
      {vb::And, F, kNull, "Boolean False"},
      {vb::And, kNull, I(0), "Integer 0"},
      {vb::Or, kNull, T, "Boolean True"},
      {vb::Or, T, kNull, "Boolean True"},
      {vb::Imp, F, kNull, "Boolean True"},
      {vb::Imp, kNull, T, "Boolean True"},
      {vb::And, kNull, T, "Null"},
      {vb::And, kNull, I(3), "Null"},
      {vb::Or, kNull, F, "Null"},
      {vb::Or, F, kNull, "Null"},
      {vb::Xor, kNull, T, "Null"},
      {vb::Eqv, F, kNull, "Null"},
      {vb::Imp, T, kNull, "Null"},
      {vb::Imp, kNull, F, "Null"},
      {vb::And, kNull, kNull, "Null"},
  });
}

TEST(VbCompare, NumbersTextsAndMixedOperands) {
  struct Case {
    Variant a, b;
    int expected;
  } cases[] = {
      {I(2), D(10), -1},
      {L(3), D(3.0), 0},
      {S("10"), S("9"), -1},  // text against text: by characters
      {S("a"), S("B"), 1},    // binary: lower case after upper case
      {I(99), S("1"), -1},    // a number sorts before any text
      {S(""), D(1e10), 1},
      {kEmpty, I(-1), 1},
      {kEmpty, S(""), 0},
      {S("a"), kEmpty, 1},
      {kEmpty, kEmpty, 0},
      {T, I(-1), 0},
      {F, T, 1},
      {Variant::Date(45657), L(45657), 0},
      {Variant::Date(45657), S("31.12.2024"), -1},
      {C(15000), D(1.5), 0},
      {C(1), C(2), -1},
  };
  for (const Case& c : cases) {
    bool isNull = true;
    EXPECT_EQ(vb::Compare(c.a, c.b, isNull), c.expected) << Show(c.a) << " , " << Show(c.b);
    EXPECT_FALSE(isNull);
  }
  bool isNull = false;
  vb::Compare(kNull, I(1), isNull);
  EXPECT_TRUE(isNull);
  EXPECT_EQ(vb::Compare(S("ÄRGER"), S("ärger"), isNull, true), 0);
  EXPECT_EQ(vb::Compare(S("ÄRGER"), S("ärger"), isNull, false), -1);
  EXPECT_EQ(vb::Compare(S("a"), S("B"), isNull, true), -1);
}

TEST(VbCompare, SingleAgainstDoubleInSinglePrecision) {
  bool isNull;
  EXPECT_EQ(vb::Compare(Variant::Single(0.1f), D(0.1), isNull), 0);
  EXPECT_EQ(vb::Compare(D(0.1), Variant::Single(0.1f), isNull), 0);
  EXPECT_EQ(vb::Compare(Variant::Single(0.5f), D(0.75), isNull), -1);
  EXPECT_EQ(vb::Compare(D(0.1), D(static_cast<double>(0.1f)), isNull), -1);  // two Doubles: in full
}

TEST(VbCompare, TextAgainstWrittenOperands) {
  // Each side with how the script wrote it.
  constexpr vb::Written No = vb::Written::kNo, Const = vb::Written::kConstant,
                        Lit = vb::Written::kLiteral;
  struct Case {
    Variant a;
    vb::Written aHow;
    Variant b;
    vb::Written bHow;
    int expected;
  } cases[] = {
      {S("1,5"), No, D(1.5), Lit, 0},  // read as a number under the locale
      {S("2"), No, I(10), Lit, -1},
      {S("2"), No, I(10), Const, -1},
      {S(""), No, I(0), Lit, 1},  // no number: greater, no error
      {S("42"), Lit, I(42), Lit, 0},
      {S(" 5"), Lit, I(5), Lit, 0},
      {S("5e0"), Lit, I(5), Lit, 0},
      {S("5"), Lit, I(5), No, 0},  // written text against a value: as text
      {S("10"), Lit, I(9), No, -1},
      {S("10"), Lit, I(5), Const, -1},
      {I(5), Const, S("abc"), Lit, -1},
      {S("9"), No, I(10), No, 1},  // neither written: the text is greater
      // Against a Boolean written or met by written text: as text, by characters.
      {S("True"), Lit, T, Lit, 0},
      {S("True"), No, T, Lit, 0},
      {S("True"), Lit, T, No, 0},
      {F, Lit, S("False"), No, 0},
      {S("true"), Lit, T, Lit, 1},
      {S("True "), Lit, T, Lit, 1},
      {S("-1"), No, T, Lit, -1},
      {S("ja"), No, T, Lit, 1},
      {S("-1"), No, T, Const, 0},  // a constant Boolean reads the text as a number
      {S("True"), No, T, No, 1},
      {S("15.01.2024"), No, Variant::Date(45306), Lit, 0},
      {S("16.01.2024"), Lit, Variant::Date(45306), Lit, 1},
      {S(""), No, S("x"), Lit, -1},  // two texts: by characters
      {kEmpty, No, S("x"), Lit, -1},
  };
  for (const Case& c : cases) {
    bool isNull = true;
    EXPECT_EQ(vb::CompareWritten(c.a, c.aHow, c.b, c.bHow, isNull), c.expected)
        << Show(c.a) << " " << static_cast<int>(c.aHow) << " , " << Show(c.b) << " "
        << static_cast<int>(c.bHow);
    EXPECT_FALSE(isNull);
  }
  bool isNull = false;
  vb::CompareWritten(kNull, Lit, S("x"), No, isNull);
  EXPECT_TRUE(isNull);
  // Written text that is no number against a written number, and text that is no date against
  // a fixed date, are type mismatches.
  const std::pair<Variant, Variant> mismatches[] = {{S("abc"), I(5)},
                                                    {S(""), I(5)},
                                                    {S(" "), I(0)},
                                                    {S("abc"), D(1e2)},
                                                    {S("abc"), Variant(int32_t{100000})}};
  const auto errorOf = [](const Variant& x, vb::Written xHow, const Variant& y) {
    bool n;
    return ErrorOf([&] { vb::CompareWritten(x, xHow, y, Lit, n); });
  };
  for (const auto& [text, number] : mismatches) {
    EXPECT_EQ(errorOf(text, Lit, number), 13) << Show(text);
    EXPECT_EQ(errorOf(number, Lit, text), 13) << Show(text);
  }
  EXPECT_EQ(errorOf(S("abc"), No, Variant::Date(45306)), 13);
  // Under en-US "1,5" is fifteen.
  EXPECT_EQ(vb::CompareWritten(S("1,5"), No, I(15), Lit, isNull, *vb::FindLocale(1033)), 0);
}

TEST(VbCompare, OperatorsGiveBooleanOrNull) {
  Check({
      {Rel<vb::Eq>, I(1), D(1), "Boolean True"},
      {Rel<vb::Ne>, I(1), D(1), "Boolean False"},
      {Rel<vb::Lt>, I(1), S("0"), "Boolean True"},
      {Rel<vb::Le>, S("a"), S("a"), "Boolean True"},
      {Rel<vb::Gt>, S("b"), S("a"), "Boolean True"},
      {Rel<vb::Ge>, kEmpty, I(1), "Boolean False"},
      {Rel<vb::Eq>, kNull, kNull, "Null"},
      {Rel<vb::Lt>, S("a"), kNull, "Null"},
  });
}

TEST(VbTruth, ConditionsOfIfAndWhile) {
  for (const Variant& v : {kNull, kEmpty, I(0), S("0")}) EXPECT_FALSE(vb::Truth(v)) << Show(v);
  for (const Variant& v : {D(0.5), S("Wahr")}) EXPECT_TRUE(vb::Truth(v)) << Show(v);
  EXPECT_EQ(ErrorOf([] { vb::Truth(S("vielleicht")); }), 13);
}
