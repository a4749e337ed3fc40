#include <gtest/gtest.h>

#include <clocale>
#include <cmath>

#include "platform/vb.h"
#include "support/error_of.h"

using fern::Variant;
namespace vb = fern::vb;

using fern::testing::ErrorOf;

TEST(VbTextToNumber, GermanDecimalCommaAndThousandsPoint) {
  struct Case {
    const char* text;
    double value;
  } cases[] = {
      {"1,5", 1.5},     {"1.000,5", 1000.5}, {"1.5", 15},  {" 42 ", 42},
      {"-1,25", -1.25}, {"+7", 7},           {",5", 0.5},  {"1.234.567", 1234567},
      {"&H1F", 31},     {"&hff", 255},       {"&O17", 15}, {"&HFFFFFFFF", -1},
      {"1,5E3", 1500},  {"2e-2", 0.02},      {"\t3\t", 3}, {"- 4", -4},
  };
  for (const Case& c : cases) {
    double d = 0;
    EXPECT_TRUE(vb::ParseNumber(c.text, d)) << c.text;
    EXPECT_DOUBLE_EQ(d, c.value) << c.text;
    EXPECT_TRUE(vb::IsNumeric(Variant(c.text))) << c.text;
  }
  for (const char* bad :
       {"", " ", "abc", "1,5,3", "1,2.3", ".", ",", "-", "12a", "1E", "&H", "&HG", "1 2"}) {
    double d;
    EXPECT_FALSE(vb::ParseNumber(bad, d)) << bad;
    EXPECT_FALSE(vb::IsNumeric(Variant(bad))) << bad;
  }
}

TEST(VbTextToNumber, IsNumericOnOtherTypes) {
  for (const Variant& v : {Variant(), Variant(true), Variant::Currency(5)})
    EXPECT_TRUE(vb::IsNumeric(v));
  for (const Variant& v : {Variant::Null(), Variant::Date(1)}) EXPECT_FALSE(vb::IsNumeric(v));
}

TEST(VbTextToNumber, ValIsLocaleFreeAndStopsAtTheFirstNonNumber) {
  struct Case {
    const char* text;
    double value;
  } cases[] = {
      {"1.5", 1.5},  {"1,5", 1},     {" 1 2 3", 123},    {"12abc", 12},
      {"abc", 0},    {"", 0},        {"-3.25x", -3.25},  {"1.2.3", 1.2},
      {"&H1F", 31},  {"&HFFFF", -1}, {"&H10000", 65536}, {"&O10", 8},
      {"1e3", 1000}, {"2E", 2},      {".5", 0.5},        {"  - 4", -4},
  };
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(vb::Val(c.text), c.value) << c.text;
}

TEST(VbTextToNumber, IgnoresTheProcessLocale) {
  // A process whose numeric locale uses a decimal comma must not change the results.
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  std::string saved = old ? old : "C";
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) std::setlocale(LC_NUMERIC, "C.UTF-8");
  EXPECT_EQ(vb::CStr(Variant(1.5)), "1,5");
  EXPECT_DOUBLE_EQ(vb::Val("2.5"), 2.5);
  EXPECT_DOUBLE_EQ(vb::CDbl(Variant("2,5")), 2.5);
  EXPECT_EQ(vb::Format(Variant(1234.5), "#,##0.00"), "1.234,50");
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(VbNumberToText, CStrOfNumbers) {
  struct Case {
    double value;
    const char* text;
  } cases[] = {
      {-1.5, "-1,5"},
      {0, "0"},
      {1e15, "1E+15"},
      {999999999999999, "999999999999999"},
      {1234567890123456, "1,23456789012346E+15"},
      {0.1 + 0.2, "0,3"},
      {0.0001, "0,0001"},
      {0.00001, "1E-05"},
      {1.5e-7, "1,5E-07"},
      {1.0 / 3, "0,333333333333333"},
      {1e100, "1E+100"},
  };
  for (const Case& c : cases) EXPECT_EQ(vb::CStr(Variant(c.value)), c.text) << c.value;
}

TEST(VbNumberToText, CStrOfOtherTypes) {
  const std::vector<std::pair<Variant, const char*>> cases{
      {Variant(true), "True"},
      {Variant(false), "False"},
      {Variant(), ""},
      {Variant::Single(0.1f), "0,1"},
      {Variant::Single(12345678.0f), "1,234568E+07"},
      {Variant::Currency(-12345), "-1,2345"},
      {Variant::Currency(70000), "7"}};
  for (const auto& [v, text] : cases) EXPECT_EQ(vb::CStr(v), text);
  EXPECT_EQ(ErrorOf([] { vb::CStr(Variant::Null()); }), 94);
}

TEST(VbWhole, RoundsHalfToEven) {
  struct Case {
    double in;
    int32_t out;
  } cases[] = {{2.5, 2}, {3.5, 4},    {-2.5, -2},  {-3.5, -4}, {0.5, 0},
               {1.5, 2}, {2.4999, 2}, {2.5001, 3}, {-0.4, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(vb::CLng(Variant(c.in)), c.out) << c.in;
    EXPECT_EQ(vb::CInt(Variant(c.in)), c.out) << c.in;
  }
  const std::vector<std::pair<Variant, int32_t>> others{{Variant("2,5"), 2},
                                                        {Variant("1.000"), 1000},
                                                        {Variant::Currency(25000), 2},
                                                        {Variant::Currency(35000), 4},
                                                        {Variant::Currency(-25001), -3},
                                                        {Variant(true), -1},
                                                        {Variant(), 0}};
  for (const auto& [v, n] : others) EXPECT_EQ(vb::CLng(v), n) << vb::CStr(v);
  EXPECT_EQ(vb::CByte(Variant(254.5)), 254);
}

TEST(VbWhole, OverflowAndMismatch) {
  EXPECT_EQ(ErrorOf([] { vb::CLng(Variant(2147483647.5)); }), 6);
  EXPECT_EQ(vb::CLng(Variant(-2147483648.4)), INT32_MIN);
  EXPECT_EQ(ErrorOf([] { vb::CInt(Variant(32767.5)); }), 6);
  EXPECT_EQ(vb::CInt(Variant(-32768.0)), -32768);
  EXPECT_EQ(ErrorOf([] { vb::CByte(Variant(-1.0)); }), 6);
  EXPECT_EQ(ErrorOf([] { vb::CByte(Variant(255.5)); }), 6);
  EXPECT_EQ(vb::CByte(Variant(-0.5)), 0);
  EXPECT_EQ(ErrorOf([] { vb::CLng(Variant("abc")); }), 13);
  EXPECT_EQ(ErrorOf([] { vb::CLng(Variant::Null()); }), 94);
  EXPECT_EQ(ErrorOf([] { vb::CDbl(Variant("")); }), 13);
  EXPECT_EQ(ErrorOf([] { vb::CDbl(Variant("1E400")); }), 6);
  EXPECT_EQ(ErrorOf([] { vb::CSng(Variant(1e300)); }), 6);
}

TEST(VbCurrency, ScalesByTenThousandAndRoundsHalfEven) {
  EXPECT_EQ(vb::CCur(Variant(1.5)), 15000);
  EXPECT_EQ(vb::CCur(Variant(1.03125)), 10312);  // 10312.5 rounds to even
  EXPECT_EQ(vb::CCur(Variant(1.09375)), 10938);
  EXPECT_EQ(vb::CCur(Variant("1.234,5678")), 12345678);
  EXPECT_EQ(ErrorOf([] { vb::CCur(Variant(1e15)); }), 6);
}

TEST(VbBool, TextsAndNumbers) {
  for (const char* t : {"True", "true", "WAHR", "wahr", " True ", "-1", "1,5", "&H1", "#TRUE#"})
    EXPECT_TRUE(vb::CBool(Variant(t))) << t;
  for (const char* t : {"False", "FALSCH", "falsch", "0", "0,0", "#false#"})
    EXPECT_FALSE(vb::CBool(Variant(t))) << t;
  EXPECT_TRUE(vb::CBool(Variant(0.1)));
  EXPECT_FALSE(vb::CBool(Variant()));
  EXPECT_TRUE(vb::CBool(Variant::Currency(1)));
  EXPECT_EQ(ErrorOf([] { vb::CBool(Variant("ja")); }), 13);
  EXPECT_EQ(ErrorOf([] { vb::CBool(Variant("")); }), 13);
  EXPECT_EQ(ErrorOf([] { vb::CBool(Variant::Null()); }), 94);
}

TEST(VbDate, ParsesGermanAndIsoForms) {
  const double dec31 = 45657;  // 31.12.2024
  const double t1305 = (13 * 60 + 5) / 1440.0;
  struct Case {
    const char* text;
    double serial;
  } cases[] = {
      {"31.12.2024", dec31},
      {"31.12.2024 13:05:00", dec31 + t1305},
      {"31.12.24", dec31},
      {"1.1.30", 10959},  // two-digit years from 30 on are the 1900s
      {"2024-12-31", dec31},
      {"2024-12-31 13:05:00", dec31 + t1305},
      {"2024-12-31T13:05:00", dec31 + t1305},
      {"13:05", t1305},
      {" 29.02.2024 ", 45351},
      {"30.12.1899", 0},
      {"29.12.1899 06:00", -1.25},
  };
  for (const Case& c : cases) {
    double s = -99;
    ASSERT_TRUE(vb::ParseDate(c.text, s)) << c.text;
    EXPECT_NEAR(s, c.serial, 1e-9) << c.text;
    EXPECT_TRUE(vb::IsDate(Variant(c.text))) << c.text;
    EXPECT_NEAR(vb::CDate(Variant(c.text)), c.serial, 1e-9) << c.text;
  }
  for (const char* bad : {"", "31.13.2024", "29.02.2023", "32.01.2024", "2024-02-30", "25:00",
                          "12:60", "abc", "31.12.2024 25:00", "1.5", "45000", "2024-12"}) {
    double s;
    EXPECT_FALSE(vb::ParseDate(bad, s)) << bad;
  }
  EXPECT_EQ(ErrorOf([] { vb::CDate(Variant("morgen")); }), 13);
}

TEST(VbDate, NumbersAreSerials) {
  EXPECT_DOUBLE_EQ(vb::CDate(Variant(45657.5)), 45657.5);
  EXPECT_DOUBLE_EQ(vb::CDate(Variant(int32_t{2})), 2);
  EXPECT_FALSE(vb::IsDate(Variant(45657.0)));
  EXPECT_TRUE(vb::IsDate(Variant::Date(1)));
  EXPECT_EQ(ErrorOf([] { vb::CDate(Variant(1e9)); }), 6);
}

TEST(VbDate, TextOfSerialsBeforeAndAfterTheEpoch) {
  struct Case {
    double serial;
    const char* text;
  } cases[] = {
      {45657.5451388889, "31.12.2024 13:05:00"},
      {0.25, "06:00:00"},
      {0, "30.12.1899"},
      {-1, "29.12.1899"},
      {-1.25, "29.12.1899 06:00:00"},  // the fraction counts away from day 0
      {-0.5, "12:00:00"},
      {2.99999999, "02.01.1900"},  // rounds into the next day
      {-1.99999999, "30.12.1899"},
      {-657434, "01.01.0100"},
      {2958465, "31.12.9999"},
  };
  for (const Case& c : cases) EXPECT_EQ(vb::DateToText(c.serial), c.text) << c.serial;
  EXPECT_EQ(vb::CStr(Variant::Date(60)), "28.02.1900");              // 1900 was no leap year
  EXPECT_EQ(vb::CStr(Variant::Date(1e300)), "31.12.9999 23:59:59");  // held at the range's edge
}

TEST(VbDate, SerialArithmeticRollsOver) {
  EXPECT_DOUBLE_EQ(vb::DateSerial(2024, 12, 31), 45657);
  EXPECT_DOUBLE_EQ(vb::DateSerial(2024, 13, 1), 45658);
  EXPECT_DOUBLE_EQ(vb::DateSerial(2024, 3, 0), 45351);     // 29.02.2024
  EXPECT_DOUBLE_EQ(vb::DateSerial(2025, -11, 31), 45322);  // 31.01.2024
  EXPECT_DOUBLE_EQ(vb::DateSerial(24, 12, 31), 45657);
  EXPECT_DOUBLE_EQ(vb::DateSerial(99, 1, 1), vb::DateSerial(1999, 1, 1));
  EXPECT_EQ(ErrorOf([] { vb::DateSerial(10000, 1, 1); }), 5);
  EXPECT_DOUBLE_EQ(vb::TimeSerial(13, 5, 0), (13 * 60 + 5) / 1440.0);
  EXPECT_DOUBLE_EQ(vb::TimeSerial(25, 0, 0), 1 + 1 / 24.0);
  EXPECT_EQ(vb::DateToText(vb::TimeSerial(-1, 0, 0)), "29.12.1899 23:00:00");
}

TEST(VbDate, SplitAndWeekday) {
  int y, m, d, h, n, s, ms;
  vb::SplitDate(45657.5451388889 + 0.25 / 86400, y, m, d, h, n, s, ms);
  EXPECT_EQ((std::vector<int>{y, m, d, h, n, s, ms}),
            (std::vector<int>{2024, 12, 31, 13, 5, 0, 250}));
  vb::SplitDate(-1.25, y, m, d, h, n, s, ms);
  EXPECT_EQ((std::vector<int>{d, h}), (std::vector<int>{29, 6}));
  EXPECT_EQ(vb::Weekday(45657), 3);     // a Tuesday, Sunday first
  EXPECT_EQ(vb::Weekday(45657, 2), 2);  // Monday first
  EXPECT_EQ(vb::Weekday(45657, 0), 2);  // the system's first day: Monday in Germany
  EXPECT_EQ(vb::Weekday(0), 7);         // 30.12.1899 was a Saturday
  EXPECT_EQ(vb::Weekday(-1.25), 6);
  double now = vb::Now();
  EXPECT_GT(now, 45000);
  EXPECT_LT(now, 80000);
  vb::SplitDate(now, y, m, d, h, n, s, ms);
  EXPECT_EQ(ms, 0);  // whole seconds, so Format never rounds the clock up
}
