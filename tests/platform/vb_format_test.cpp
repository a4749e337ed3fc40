#include <gtest/gtest.h>

#include "platform/host_error.h"
#include "platform/vb.h"

using fern::Variant;
namespace vb = fern::vb;

namespace {

struct Case {
  Variant value;
  const char* pattern;
  const char* expected;
};

void Check(const std::vector<Case>& cases) {
  for (const Case& c : cases)
    EXPECT_EQ(vb::Format(c.value, c.pattern), c.expected)
        << "Format(" << (c.value.IsNull() ? "Null" : vb::CStr(c.value)) << ", \"" << c.pattern
        << "\")";
}

// 31.12.2024 13:05:09, a Tuesday.
const Variant kDate = Variant::Date(45657 + (13 * 3600 + 5 * 60 + 9) / 86400.0);

}  // namespace

TEST(VbFormatDate, PatternsInEitherCase) {
  Check({
      {kDate, "dd.MM.yyyy hh:nn:ss", "31.12.2024 13:05:09"},
      {kDate, "_yyyyMMdd_hhmmss_", "_20241231_130509_"},
      {kDate, "HH:nn:ss", "13:05:09"},
      {kDate, "yyyy-mm-dd", "2024-12-31"},
      {kDate, "dd.mm.YYYY HH:MM:ss", "31.12.2024 13:05:09"},  // m after h: minutes
      {kDate, "mm:ss", "05:09"},                              // m before s: minutes
      {kDate, "d.m.yy h:n:s", "31.12.24 13:5:9"},
      {kDate, "ddd, dddd", "Di, Dienstag"},
      {kDate, "mmm mmmm", "Dez Dezember"},
      {Variant::Date(45352), "d. mmmm yyyy", "1. März 2024"},
      {Variant::Date(45352), "dd/mm/yyyy", "01.03.2024"},  // "/" is the German date separator
      {kDate, "y", "366"},
      {kDate, "q", "4"},
      {kDate, "w", "3"},
      {kDate, "\"am\" dd.mm.", "am 31.12."},
      {kDate, "\\d\\d dd", "dd 31"},
      {Variant::Date(-1.25), "dd.mm.yyyy hh:nn", "29.12.1899 06:00"},
      {Variant::Date(45657.99999999), "dd.mm.yyyy hh:nn:ss", "01.01.2025 00:00:00"},
  });
}

TEST(VbFormatDate, OtherValuesTakenAsDates) {
  Check({
      {Variant("31.12.2024 13:05"), "yyyymmddhhnn", "202412311305"},
      {Variant("2024-12-31"), "dd.mm.yyyy", "31.12.2024"},
      {Variant(45657.5), "dd.mm.yyyy hh:nn", "31.12.2024 12:00"},
      {Variant("45657,5"), "dd.mm.yyyy hh:nn", "31.12.2024 12:00"},
      {Variant(), "dd.mm.yyyy", "30.12.1899"},
      {Variant("kein Datum"), "dd.mm.yyyy", "kein Datum"},
  });
}

TEST(VbFormatDate, NamedFormats) {
  Check({
      {kDate, "Short Date", "31.12.2024"},
      {kDate, "Long Date", "Dienstag, 31. Dezember 2024"},
      {kDate, "Short Time", "13:05"},
      {kDate, "Long Time", "13:05:09"},
      {kDate, "General Date", "31.12.2024 13:05:09"},
      {Variant(45657.0), "general date", "31.12.2024"},
      {Variant::Date(0.5), "General Date", "12:00:00"},
  });
}

TEST(VbFormatNumber, Placeholders) {
  Check({
      {Variant(1234.5678), "0.00", "1234,57"},
      {Variant(1234.5678), "#,##0.00", "1.234,57"},
      {Variant(1234567.0), "###,###,### Bytes", "1.234.567 Bytes"},
      {Variant(int32_t{999}), "###,###,### Bytes", "999 Bytes"},
      {Variant(0.0), "###,###,### Bytes", " Bytes"},
      {Variant(1e20), "#,##0", "100.000.000.000.000.000.000"},
      {Variant(5.0), "000", "005"},
      {Variant(12345.0), "00", "12345"},
      {Variant(0.5), "#.##", ",5"},
      {Variant(5.0), "#.##", "5,"},
      {Variant(0.5), "0.##", "0,5"},
      {Variant(1.25), "0.0#", "1,25"},
      {Variant(1.2), "0.0#", "1,2"},
      {Variant(0.256), "##%", "26%"},
      {Variant(0.256), "0.0%", "25,6%"},
      {Variant(1234567.0), "#,##0,", "1.235"},  // a trailing comma divides by 1000
      {Variant(42.0), "\"Nr. \"0", "Nr. 42"},
      {Variant(42.0), "0 \\m\\²", "42 m²"},
      {Variant(3.0), "0 Stunden", "3 Stunden"},         // letters beside placeholders stay text
      {Variant(1234.0), "(###) ###-####", "() -1234"},  // digits fill from the right
  });
}

TEST(VbFormatNumber, RoundsHalfAwayFromZeroOnTheDecimalValue) {
  Check({
      {Variant(2.5), "0", "3"},
      {Variant(-2.5), "0", "-3"},
      {Variant(2.675), "0.00", "2,68"},  // 2.67499999... in binary, 2,675 as VB sees it
      {Variant(1.005), "0.00", "1,01"},
      {Variant(9.995), "0.00", "10,00"},
      {Variant(999.5), "#,##0", "1.000"},
      {Variant(-0.001), "0.00", "0,00"},  // no minus sign on a value shown as zero
      {Variant(52.520008), "0.000000000000###############", "52,520008000000"},
      {Variant(1.0 / 3), "0.000000000000###############", "0,333333333333333"},
      {Variant(1.5e-13), "0.000000000000###############", "0,00000000000015"},
      {Variant(1.23456789012345e-20), "0.000000000000###############",
       "0,000000000000000000012345679"},
      {Variant(13.4), "0.000000000000###############", "13,400000000000"},
  });
}

TEST(VbFormatNumber, Sections) {
  Check({
      {Variant(3.5), "0.0;(0.0);null", "3,5"},
      {Variant(-3.5), "0.0;(0.0);null", "(3,5)"},
      {Variant(0.0), "0.0;(0.0);null", "null"},
      {Variant(-3.5), "0.0;;null", "-3,5"},  // empty negative section: the first with a sign
      {Variant(-3.5), "0.0;0.0", "3,5"},     // the negative section writes no sign itself
      {Variant(0.0), "0.0;(0.0)", "0,0"},
      {Variant(1.0), "\"a;b\" 0", "a;b 1"},
  });
}

TEST(VbFormatNumber, NamedFormats) {
  Check({
      {Variant(1234.5), "General Number", "1234,5"},
      {Variant(0.5), "Fixed", "0,50"},
      {Variant(1234.567), "Standard", "1.234,57"},
      {Variant(0.1234), "Percent", "12,34%"},
      {Variant(int16_t{0}), "Yes/No", "No"},
      {Variant(2.0), "Yes/No", "Yes"},
      {Variant(true), "True/False", "True"},
      {Variant(int32_t{0}), "On/Off", "Off"},
      {Variant("0,0"), "On/Off", "Off"},
  });
}

TEST(VbFormatNumber, TextNullEmptyAndNoPattern) {
  Check({
      {Variant("1.234,5"), "#,##0.00", "1.234,50"},
      {Variant("abc"), "0.00", "abc"},
      {Variant(), "0.00", "0,00"},
      {Variant::Null(), "0.00", ""},
      {Variant::Null(), "", ""},
      {Variant(1.5), "", "1,5"},
      {Variant(true), "", "True"},
      {kDate, "", "31.12.2024 13:05:09"},
      {Variant::Currency(12345), "0.00", "1,23"},
      {Variant::Single(0.1f), "0.000000000000###", "0,100000000000"},
      {Variant::Date(45657.5), "0.00", "45657,50"},
  });
}
