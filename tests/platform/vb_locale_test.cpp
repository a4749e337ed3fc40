// Regional settings: the same conversions under each locale scripts may choose, and German
// wherever no locale is passed.
#include <gtest/gtest.h>

#include "platform/vb.h"

using fern::Variant;
namespace vb = fern::vb;

namespace {

const vb::Locale& L(int32_t id) {
  const vb::Locale* loc = vb::FindLocale(id);
  if (!loc) throw std::runtime_error("no locale " + std::to_string(id));
  return *loc;
}

const int32_t kIds[] = {1031, 3079, 2055, 1033, 2057, 1036, 1040, 3082, 1034, 1043};

// 05.03.2026 13:05:09, a Thursday.
const double kSerial = 46086 + (13 * 3600 + 5 * 60 + 9) / 86400.0;

}  // namespace

TEST(VbLocale, TextToNumberUsesTheLocaleSeparators) {
  struct Case {
    int32_t id;
    const char* text;
    bool ok;
    double value;
  } cases[] = {
      {1031, "1.234,5", true, 1234.5},
      {1031, "1.5", true, 15},
      {1033, "1,234.5", true, 1234.5},
      {1033, "1,5", true, 15},
      {1033, "1.234,5", false, 0},
      {2057, "-0.25", true, -0.25},
      {2055, "1'234.5", true, 1234.5},
      {2055,
       "1\xE2\x80\x99"
       "234.5",
       true, 1234.5},
      {2055, "1,5", false, 0},
      {1036, "1 234,5", true, 1234.5},
      {1036,
       "1\xC2\xA0"
       "234,5",
       true, 1234.5},
      {1036,
       "1\xE2\x80\xAF"
       "234,5",
       true, 1234.5},
      {1043, "2,5E3", true, 2500},
      {3082, ",5", true, 0.5},
  };
  for (const Case& c : cases) {
    double d = 0;
    EXPECT_EQ(vb::ParseNumber(c.text, d, L(c.id)), c.ok) << c.id << " " << c.text;
    if (c.ok) {
      EXPECT_EQ(d, c.value) << c.id << " " << c.text;
    }
  }
}

TEST(VbLocale, TextToDateFollowsTheShortDateOrder) {
  struct Case {
    int32_t id;
    const char* text;
    bool ok;
    double serial;
  } cases[] = {
      {1033, "3/5/2026", true, 46086},
      {1033, "12/31/2026 1:05 PM", true, 46387 + (13 * 60 + 5) / 1440.0},
      {1033, "12:30 AM", true, 30 / 1440.0},
      {1033, "13:05 PM", false, 0},
      {1033, "31/12/2026", false, 0},
      {2057, "05/03/2026", true, 46086},
      {1043, "5-3-2026", true, 46086},
      {1043, "2026-03-05", true, 46086},
      {1031, "5/3/2026", true, 46086},
      {1031, "5-3-2026", false, 0},  // "-" only in ISO order where it is not the locale's own
      {1031, "1:05 PM", false, 0},
  };
  for (const Case& c : cases) {
    double serial = -1;
    EXPECT_EQ(vb::ParseDate(c.text, serial, L(c.id)), c.ok) << c.id << " " << c.text;
    if (c.ok) {
      EXPECT_NEAR(serial, c.serial, 1e-9) << c.id << " " << c.text;
    }
  }
}

TEST(VbLocale, EveryLocaleReadsBackWhatItWrites) {
  for (int32_t id : kIds) {
    const vb::Locale& loc = L(id);
    for (double d : {1.5, -1234567.25, 0.0001, 1e20}) {
      std::string text = vb::CStr(Variant(d), loc);
      EXPECT_EQ(vb::CDbl(Variant(text), loc), d) << id << " " << text;
    }
    for (double serial : {kSerial, 46086.0, 0.5, -1.25}) {
      std::string text = vb::CStr(Variant::Date(serial), loc);
      EXPECT_NEAR(vb::CDate(Variant(text), loc), serial, 1e-9) << id << " " << text;
    }
  }
}

TEST(VbLocale, FormatWritesTheLocaleSeparatorsAndNames) {
  const Variant date = Variant::Date(kSerial);
  struct Case {
    int32_t id;
    Variant value;
    const char* pattern;
    const char* expected;
  } cases[] = {
      {1033, Variant(1234.5), "#,##0.00", "1,234.50"},
      {2055, Variant(1234.5), "Standard", "1'234.50"},
      {1036, Variant(-1234.5), "#,##0.0",
       "-1\xC2\xA0"
       "234,5"},
      {1033, date, "Short Date", "3/5/2026"},
      {1033, date, "Long Time", "1:05:09 PM"},
      {1033, date, "hh:nn AM/PM", "01:05 PM"},
      {1031, date, "h a/p", "1 p"},
      {1033, date, "Long Date", "Thursday, March 5, 2026"},
      {2057, date, "dd/mm/yyyy ddd", "05/03/2026 Thu"},
      {3079, Variant::Date(46023), "d. mmmm yyyy", "1. Jänner 2026"},
      {1043, date, "General Date", "5-3-2026 13:05:09"},
      {3082, date, "Long Date", "jueves, 5 de marzo de 2026"},
      {1031, date, "Long Date", "Donnerstag, 5. März 2026"},
      {1031, date, "mmm", "Mrz"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(vb::Format(c.value, c.pattern, L(c.id)), c.expected) << c.id << " " << c.pattern;
}

TEST(VbLocale, WithoutALocaleEverythingIsGerman) {
  EXPECT_EQ(&vb::German(), vb::FindLocale(1031));
  EXPECT_EQ(vb::FindLocale("DE_at"), vb::FindLocale(3079));
  EXPECT_EQ(vb::FindLocale(9999), nullptr);
  EXPECT_EQ(vb::FindLocale("xx"), nullptr);
  EXPECT_EQ(vb::CStr(Variant(1.5)), "1,5");
  EXPECT_EQ(vb::Concat(Variant("x"), Variant(0.5)).str(), "x0,5");
  EXPECT_EQ(vb::Add(Variant("1,5"), Variant(int16_t{1})).doubleVal(), 2.5);
  EXPECT_EQ(vb::Add(Variant("1,5"), Variant(int16_t{1}), L(1033)).doubleVal(), 16);
  EXPECT_EQ(vb::Weekday(46082, 0), 7);           // Sunday, 1.3.2026: the week starts Monday
  EXPECT_EQ(vb::Weekday(46082, 0, L(1033)), 1);  // ... and Sunday in the US
}
