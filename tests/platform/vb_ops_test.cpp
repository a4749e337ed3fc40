#include <gtest/gtest.h>

#include "error_of.h"
#include "platform/vb.h"

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
const Variant kNull = Variant::Null();
const Variant kEmpty;

// Type and text of a result: "Integer 5", "Double 2,5", "String ab", ...
std::string Show(const Variant& v) {
  const char* name = "?";
  switch (v.type()) {
    case VType::Empty: name = "Empty"; break;
    case VType::Null: return "Null";
    case VType::Integer: name = "Integer"; break;
    case VType::Long: name = "Long"; break;
    case VType::Single: name = "Single"; break;
    case VType::Double: name = "Double"; break;
    case VType::Currency: name = "Currency"; break;
    case VType::Date: name = "Date"; break;
    case VType::String: name = "String"; break;
    case VType::Boolean: name = "Boolean"; break;
    case VType::Byte: name = "Byte"; break;
    default: break;
  }
  return std::string(name) + " " + vb::CStr(v);
}

using BinOp = Variant (*)(const Variant&, const Variant&);

struct OpCase {
  BinOp op;
  Variant a, b;
  const char* expected;
};

void Check(const std::vector<OpCase>& cases) {
  for (size_t i = 0; i < cases.size(); ++i) {
    const OpCase& c = cases[i];
    EXPECT_EQ(Show(c.op(c.a, c.b)), c.expected) << "case " << i << ": " << Show(c.a) << " , " << Show(c.b);
  }
}

}  // namespace

TEST(VbArithmetic, ResultTypesAndOverflowPromotion) {
  Check({
      {vb::Add, I(1), I(2), "Integer 3"},
      {vb::Add, I(32767), I(1), "Long 32768"},
      {vb::Sub, I(-32768), I(1), "Long -32769"},
      {vb::Mul, I(300), I(300), "Long 90000"},
      {vb::Add, L(2147483647), L(1), "Double 2147483648"},
      {vb::Mul, L(65536), L(65536), "Double 4294967296"},
      {vb::Add, B(200), B(55), "Byte 255"},
      {vb::Add, B(200), B(100), "Integer 300"},
      {vb::Sub, B(1), B(2), "Integer -1"},
      {vb::Add, I(1), L(1), "Long 2"},
      {vb::Add, I(1), D(0.5), "Double 1,5"},
      {vb::Add, Variant::Single(1.5f), I(1), "Single 2,5"},
      {vb::Add, Variant::Single(1.5f), L(1), "Double 2,5"},
      {vb::Add, Variant::Currency(15000), D(1.25), "Currency 2,75"},
      {vb::Mul, Variant::Currency(15000), Variant::Currency(15000), "Currency 2,25"},
      {vb::Mul, Variant::Currency(3), Variant::Currency(5000), "Currency 0,0002"},  // 0,00015 to even
      {vb::Mul, Variant::Currency(5), Variant::Currency(5000), "Currency 0,0002"},  // 0,00025 to even
      {vb::Add, Variant(true), Variant(true), "Integer -2"},
      {vb::Add, Variant(true), I(5), "Integer 4"},
      {vb::Add, kEmpty, kEmpty, "Integer 0"},
      {vb::Add, kEmpty, B(7), "Byte 7"},
      {vb::Sub, kEmpty, D(1.5), "Double -1,5"},
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
  EXPECT_EQ(ErrorOf([] { vb::Sub(S("a"), S("b")); }), 13);
  EXPECT_EQ(ErrorOf([] { vb::Add(Variant::Date(2958465), I(1)); }), 6);
  EXPECT_EQ(ErrorOf([] { vb::Add(Variant::Currency(INT64_MAX), Variant::Currency(1)); }), 6);
  EXPECT_EQ(ErrorOf([] { vb::Mul(D(1e200), D(1e200)); }), 6);
}

TEST(VbArithmetic, NullPropagatesEmptyIsZero) {
  for (BinOp op : {vb::Add, vb::Sub, vb::Mul, vb::Div, vb::IntDiv, vb::Mod, vb::Pow}) {
    EXPECT_TRUE(op(kNull, I(1)).IsNull());
    EXPECT_TRUE(op(D(2), kNull).IsNull());
    EXPECT_TRUE(op(kNull, S("x")).IsNull());
    EXPECT_EQ(ErrorOf([&] { op(Variant::Nothing(), kNull); }), 13);  // no value beside Null
  }
  EXPECT_TRUE(vb::Neg(kNull).IsNull());
  EXPECT_EQ(Show(vb::Mul(kEmpty, D(3))), "Double 0");
  EXPECT_EQ(Show(vb::Div(kEmpty, I(3))), "Double 0");
}

TEST(VbArithmetic, DivisionIntegerDivisionAndModulo) {
  Check({
      {vb::Div, I(7), I(2), "Double 3,5"},
      {vb::Div, Variant::Currency(10000), I(4), "Double 0,25"},
      {vb::IntDiv, I(7), I(2), "Integer 3"},
      {vb::IntDiv, I(-7), I(2), "Integer -3"},
      {vb::IntDiv, D(7.5), I(2), "Long 4"},   // 7.5 rounds to 8 first
      {vb::IntDiv, D(6.5), I(2), "Long 3"},   // 6.5 rounds to 6
      {vb::IntDiv, B(9), B(2), "Byte 4"},
      {vb::IntDiv, I(-32768), I(-1), "Long 32768"},
      {vb::IntDiv, S("9"), I(2), "Long 4"},
      {vb::Mod, I(7), I(3), "Integer 1"},
      {vb::Mod, I(-7), I(3), "Integer -1"},
      {vb::Mod, I(7), I(-3), "Integer 1"},
      {vb::Mod, D(5.5), I(4), "Long 2"},      // 5.5 rounds to 6
      {vb::Mod, D(2.5), I(4), "Long 2"},
      {vb::Mod, L(10), Variant(true), "Long 0"},
      {vb::Pow, I(2), I(10), "Double 1024"},
      {vb::Pow, I(-2), I(3), "Double -8"},
      {vb::Pow, D(4), D(0.5), "Double 2"},
  });
  EXPECT_EQ(ErrorOf([] { vb::Div(I(1), I(0)); }), 11);
  EXPECT_EQ(ErrorOf([] { vb::Div(I(1), kEmpty); }), 11);
  EXPECT_EQ(ErrorOf([] { vb::Div(kEmpty, D(0)); }), 11);
  EXPECT_EQ(ErrorOf([] { vb::IntDiv(I(1), D(0.4)); }), 11);
  EXPECT_EQ(ErrorOf([] { vb::Mod(I(1), I(0)); }), 11);
  EXPECT_EQ(ErrorOf([] { vb::IntDiv(D(3e9), I(1)); }), 6);
  EXPECT_EQ(ErrorOf([] { vb::IntDiv(L(INT32_MIN), L(-1)); }), 6);
  EXPECT_EQ(ErrorOf([] { vb::Pow(I(-8), D(1.0 / 3)); }), 5);
  EXPECT_EQ(ErrorOf([] { vb::Pow(I(0), I(-1)); }), 5);
}

TEST(VbArithmetic, Negation) {
  EXPECT_EQ(Show(vb::Neg(I(5))), "Integer -5");
  EXPECT_EQ(Show(vb::Neg(I(-32768))), "Long 32768");
  EXPECT_EQ(Show(vb::Neg(L(INT32_MIN))), "Double 2147483648");
  EXPECT_EQ(Show(vb::Neg(B(3))), "Integer -3");
  EXPECT_EQ(Show(vb::Neg(Variant(true))), "Integer 1");
  EXPECT_EQ(Show(vb::Neg(kEmpty)), "Integer 0");
  EXPECT_EQ(Show(vb::Neg(S("1,5"))), "Double -1,5");
  EXPECT_EQ(Show(vb::Neg(Variant::Currency(5))), "Currency -0,0005");
}

TEST(VbConcat, NullAndEmptyAreEmptyText) {
  EXPECT_EQ(Show(vb::Concat(S("a"), D(1.5))), "String a1,5");
  EXPECT_EQ(Show(vb::Concat(kNull, S("x"))), "String x");
  EXPECT_EQ(Show(vb::Concat(I(1), kNull)), "String 1");
  EXPECT_EQ(Show(vb::Concat(kEmpty, Variant(true))), "String True");
  EXPECT_TRUE(vb::Concat(kNull, kNull).IsNull());
  EXPECT_EQ(Show(vb::Concat(Variant::Date(45657), S("|"))), "String 31.12.2024|");
}

TEST(VbLogic, BitwiseOnWholeNumbersBooleanOnBooleans) {
  Check({
      {vb::And, Variant(true), Variant(false), "Boolean False"},
      {vb::Or, Variant(true), Variant(false), "Boolean True"},
      {vb::Xor, Variant(true), Variant(true), "Boolean False"},
      {vb::Eqv, Variant(false), Variant(false), "Boolean True"},
      {vb::Imp, Variant(true), Variant(false), "Boolean False"},
      {vb::Imp, Variant(false), Variant(false), "Boolean True"},
      {vb::And, I(12), I(10), "Integer 8"},
      {vb::Or, I(12), I(3), "Integer 15"},
      {vb::Xor, L(5), I(1), "Long 4"},
      {vb::And, Variant(true), I(6), "Integer 6"},
      {vb::And, B(0xF0), B(0x3C), "Byte 48"},
      {vb::Eqv, B(0xF0), B(0x0F), "Byte 0"},
      {vb::Or, B(1), I(2), "Integer 3"},
      {vb::And, D(6.5), I(7), "Long 6"},
      {vb::Or, S("4"), I(1), "Long 5"},
      {vb::Eqv, I(0), I(0), "Integer -1"},
  });
  EXPECT_EQ(Show(vb::Not(Variant(true))), "Boolean False");
  EXPECT_EQ(Show(vb::Not(I(0))), "Integer -1");
  EXPECT_EQ(Show(vb::Not(B(0))), "Byte 255");
  EXPECT_EQ(Show(vb::Not(L(5))), "Long -6");
  EXPECT_EQ(Show(vb::Not(D(2.5))), "Long -3");
  EXPECT_EQ(Show(vb::Not(kEmpty)), "Integer -1");
  EXPECT_TRUE(vb::Not(kNull).IsNull());
  EXPECT_EQ(ErrorOf([] { vb::And(S("x"), I(1)); }), 13);
  EXPECT_EQ(ErrorOf([] { vb::Not(D(1e10)); }), 6);
}

TEST(VbLogic, NullRules) {
  const Variant T(true), F(false);
  Check({
      {vb::And, kNull, F, "Boolean False"},
      {vb::And, F, kNull, "Boolean False"},
      {vb::And, kNull, I(0), "Integer 0"},
      {vb::Or, kNull, T, "Boolean True"},
      {vb::Or, T, kNull, "Boolean True"},
      {vb::Imp, F, kNull, "Boolean True"},
      {vb::Imp, kNull, T, "Boolean True"},
  });
  for (auto [op, a, b] : std::vector<std::tuple<BinOp, Variant, Variant>>{
           {vb::And, kNull, T}, {vb::And, kNull, I(3)}, {vb::Or, kNull, F},
           {vb::Or, F, kNull},  {vb::Xor, kNull, T},    {vb::Eqv, F, kNull},
           {vb::Imp, T, kNull}, {vb::Imp, kNull, F},    {vb::And, kNull, kNull}}) {
    EXPECT_TRUE(op(a, b).IsNull()) << Show(a) << " , " << Show(b);
  }
}

TEST(VbCompare, NumbersTextsAndMixedOperands) {
  struct Case {
    Variant a, b;
    int expected;
  } cases[] = {
      {I(2), D(10), -1},
      {L(3), D(3.0), 0},
      {S("10"), S("9"), -1},            // text against text: by characters
      {S("b"), S("a"), 1},
      {S("a"), S("B"), 1},              // binary: lower case after upper case
      {I(99), S("1"), -1},              // a number sorts before any text
      {S(""), D(1e10), 1},
      {kEmpty, I(0), 0},
      {kEmpty, I(-1), 1},
      {kEmpty, S(""), 0},
      {S("a"), kEmpty, 1},
      {kEmpty, kEmpty, 0},
      {Variant(true), I(-1), 0},
      {Variant(false), Variant(true), 1},
      {Variant::Date(45657), L(45657), 0},
      {Variant::Date(45657), S("31.12.2024"), -1},
      {Variant::Currency(15000), D(1.5), 0},
      {Variant::Currency(1), Variant::Currency(2), -1},
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

TEST(VbCompare, OperatorsGiveBooleanOrNull) {
  EXPECT_EQ(Show(vb::Eq(I(1), D(1))), "Boolean True");
  EXPECT_EQ(Show(vb::Ne(I(1), D(1))), "Boolean False");
  EXPECT_EQ(Show(vb::Lt(I(1), S("0"))), "Boolean True");
  EXPECT_EQ(Show(vb::Le(S("a"), S("a"))), "Boolean True");
  EXPECT_EQ(Show(vb::Gt(S("b"), S("a"))), "Boolean True");
  EXPECT_EQ(Show(vb::Ge(kEmpty, I(1))), "Boolean False");
  EXPECT_TRUE(vb::Eq(kNull, kNull).IsNull());
  EXPECT_TRUE(vb::Lt(S("a"), kNull).IsNull());
}

TEST(VbTruth, ConditionsOfIfAndWhile) {
  EXPECT_FALSE(vb::Truth(kNull));
  EXPECT_FALSE(vb::Truth(kEmpty));
  EXPECT_TRUE(vb::Truth(D(0.5)));
  EXPECT_FALSE(vb::Truth(I(0)));
  EXPECT_TRUE(vb::Truth(S("Wahr")));
  EXPECT_FALSE(vb::Truth(S("0")));
  EXPECT_EQ(ErrorOf([] { vb::Truth(S("vielleicht")); }), 13);
}
