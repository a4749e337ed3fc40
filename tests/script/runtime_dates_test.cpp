#include <cmath>

#include "platform/vb.h"
#include "runtime_test_support.h"

namespace fern::script {
namespace {

using testing::Call;
using testing::ErrorOf;
using testing::Str;

Variant D(int y, int m, int d, int h = 0, int n = 0, int s = 0) {
  double day = vb::DateSerial(y, m, d);
  double time = vb::TimeSerial(h, n, s);
  return Variant::Date(day >= 0 ? day + time : day - time);
}

std::string Text(const Variant& v) { return vb::DateToText(v.dateVal()); }

TEST(RuntimeDates, DateAddClampsMonthEndsAndCarriesTime) {
  EXPECT_EQ(Text(Call("DateAdd", {"m", int32_t{1}, D(2024, 1, 31)})), "29.02.2024");
  EXPECT_EQ(Text(Call("DateAdd", {"yyyy", int32_t{1}, D(2024, 2, 29)})), "28.02.2025");
  EXPECT_EQ(Text(Call("DateAdd", {"q", int32_t{-1}, D(2024, 5, 31, 8, 30)})),
            "29.02.2024 08:30:00");
  EXPECT_EQ(Text(Call("DateAdd", {"d", int32_t{1}, D(2024, 12, 31, 23, 0)})),
            "01.01.2025 23:00:00");
  EXPECT_EQ(Text(Call("DateAdd", {"ww", int32_t{2}, D(2024, 12, 20)})), "03.01.2025");
  EXPECT_EQ(Text(Call("DateAdd", {"h", int32_t{25}, D(2024, 3, 1, 12)})), "02.03.2024 13:00:00");
  EXPECT_EQ(Text(Call("DateAdd", {"n", int32_t{-90}, D(2024, 3, 1, 0, 30)})),
            "29.02.2024 23:00:00");
  EXPECT_EQ(Text(Call("DateAdd", {"S", int32_t{61}, D(2024, 3, 1)})), "01.03.2024 00:01:01");
  EXPECT_EQ(Text(Call("DateAdd", {"d", int32_t{1}, "31.12.2024"})), "01.01.2025");
  EXPECT_EQ(Call("DateAdd", {"d", int32_t{1}, D(2024, 1, 1)}).type(), VType::Date);
  EXPECT_TRUE(Call("DateAdd", {"d", int32_t{1}, Variant::Null()}).IsNull());
  EXPECT_EQ(ErrorOf([] { Call("DateAdd", {"x", int32_t{1}, D(2024, 1, 1)}); }), 5);
  EXPECT_EQ(ErrorOf([] { Call("DateAdd", {"yyyy", int32_t{9000}, D(2024, 1, 1)}); }), 5);
}

TEST(RuntimeDates, ArithmeticAcrossTheEpochKeepsTheClock) {
  // Before 30.12.1899 a serial counts its time away from day 0; plain adding breaks that.
  EXPECT_EQ(Text(Call("DateAdd", {"h", int32_t{-18}, D(1899, 12, 30, 12)})), "29.12.1899 18:00:00");
  EXPECT_EQ(Text(Call("DateAdd", {"d", int32_t{-2}, D(1899, 12, 31, 6)})), "29.12.1899 06:00:00");
  EXPECT_EQ(Call("DateDiff", {"h", D(1899, 12, 29, 18), D(1899, 12, 30, 6)}).longVal(), 12);
  EXPECT_EQ(Call("Hour", {D(1899, 12, 29, 18)}).intVal(), 18);
}

TEST(RuntimeDates, DateDiffCountsBoundaries) {
  EXPECT_EQ(Call("DateDiff", {"yyyy", D(2024, 12, 31), D(2025, 1, 1)}).longVal(), 1);
  EXPECT_EQ(Call("DateDiff", {"m", D(2024, 1, 31), D(2024, 2, 1)}).longVal(), 1);
  EXPECT_EQ(Call("DateDiff", {"q", D(2024, 3, 31), D(2024, 4, 1)}).longVal(), 1);
  EXPECT_EQ(Call("DateDiff", {"d", D(2024, 1, 1, 23), D(2024, 1, 2, 1)}).longVal(), 1);
  EXPECT_EQ(Call("DateDiff", {"d", D(2024, 3, 1), D(2024, 2, 1)}).longVal(), -29);
  EXPECT_EQ(Call("DateDiff", {"h", D(2024, 1, 1, 10, 59), D(2024, 1, 1, 11, 1)}).longVal(), 1);
  EXPECT_EQ(Call("DateDiff", {"n", D(2024, 1, 1, 10, 0, 59), D(2024, 1, 1, 10, 1, 0)}).longVal(),
            1);
  EXPECT_EQ(Call("DateDiff", {"s", D(2024, 1, 1), D(2024, 1, 2)}).longVal(), 86400);
  // "w" counts whole weeks, "ww" the week starts (Sundays by default) in between.
  EXPECT_EQ(Call("DateDiff", {"w", D(2024, 1, 1), D(2024, 1, 13)}).longVal(), 1);
  EXPECT_EQ(Call("DateDiff", {"ww", D(2024, 1, 6), D(2024, 1, 7)}).longVal(), 1);
  EXPECT_EQ(Call("DateDiff", {"ww", D(2024, 1, 7), D(2024, 1, 8), int32_t{2}}).longVal(), 1);
  EXPECT_TRUE(Call("DateDiff", {"d", Variant::Null(), D(2024, 1, 1)}).IsNull());
}

TEST(RuntimeDates, DatePartWeeksFollowTheChosenRules) {
  EXPECT_EQ(Call("DatePart", {"q", D(2024, 8, 15)}).intVal(), 3);
  EXPECT_EQ(Call("DatePart", {"y", D(2024, 12, 31)}).intVal(), 366);
  EXPECT_EQ(Call("DatePart", {"w", D(2024, 12, 2)}).intVal(), 2);  // Monday, Sunday first
  EXPECT_EQ(Call("DatePart", {"w", D(2024, 12, 2), int32_t{2}}).intVal(), 1);
  // ISO weeks: Monday first, first week with four days.
  EXPECT_EQ(Call("DatePart", {"ww", D(2021, 1, 3), int32_t{2}, int32_t{2}}).intVal(), 53);
  EXPECT_EQ(Call("DatePart", {"ww", D(2021, 1, 4), int32_t{2}, int32_t{2}}).intVal(), 1);
  EXPECT_EQ(Call("DatePart", {"ww", D(2024, 12, 30), int32_t{2}, int32_t{2}}).intVal(), 1);
  EXPECT_EQ(Call("DatePart", {"ww", D(2024, 12, 30)}).intVal(), 53);  // week of 1 January
  EXPECT_EQ(Call("DatePart", {"ww", D(2024, 6, 15), int32_t{0}, int32_t{0}}).intVal(), 24);
  EXPECT_EQ(ErrorOf([] { Call("DatePart", {"ww", D(2024, 1, 1), int32_t{8}}); }), 5);
}

TEST(RuntimeDates, PartsNamesAndSerials) {
  Variant d = D(2026, 12, 6, 17, 5, 9);
  EXPECT_EQ(Call("Year", {d}).intVal(), 2026);
  EXPECT_EQ(Call("Month", {d}).intVal(), 12);
  EXPECT_EQ(Call("Day", {d}).intVal(), 6);
  EXPECT_EQ(Call("Minute", {d}).intVal(), 5);
  EXPECT_EQ(Call("Second", {d}).intVal(), 9);
  // Parts are read from the time rounded to the second, which may carry up to the day.
  double late = D(2026, 12, 6, 23, 59, 59).dateVal();
  EXPECT_EQ(Call("Second", {Variant::Date(late + 0.4 / 86400)}).intVal(), 59);
  Variant carried = Variant::Date(late + 0.6 / 86400);
  EXPECT_EQ(Call("Second", {carried}).intVal(), 0);
  EXPECT_EQ(Call("Minute", {carried}).intVal(), 0);
  EXPECT_EQ(Call("Hour", {carried}).intVal(), 0);
  EXPECT_EQ(Call("Day", {carried}).intVal(), 7);
  EXPECT_EQ(Call("DatePart", {"s", carried}).intVal(), 0);
  EXPECT_EQ(Call("Day", {"24.12.2024"}).intVal(), 24);
  EXPECT_TRUE(Call("Year", {Variant::Null()}).IsNull());
  EXPECT_EQ(Call("Weekday", {d}).intVal(), 1);  // a Sunday
  EXPECT_EQ(Call("Weekday", {d, int32_t{2}}).intVal(), 7);
  EXPECT_EQ(Str("WeekdayName", {int32_t{1}}), "Sonntag");
  EXPECT_EQ(Str("WeekdayName", {int32_t{1}, false, int32_t{0}}), "Montag");  // system: Monday
  EXPECT_EQ(Str("WeekdayName", {int32_t{1}, true, int32_t{1}}), "So");
  EXPECT_EQ(Str("WeekdayName", {Call("Weekday", {d}), false, int32_t{1}}), "Sonntag");
  EXPECT_EQ(Str("MonthName", {int32_t{3}}), "März");
  EXPECT_EQ(Str("MonthName", {int32_t{3}, true}), "Mär");
  EXPECT_EQ(ErrorOf([] { Call("MonthName", {int32_t{13}}); }), 5);
  EXPECT_EQ(Text(Call("DateSerial", {int32_t{2024}, int32_t{3}, int32_t{0}})), "29.02.2024");
  EXPECT_EQ(Text(Call("DateSerial", {int32_t{2024}, int32_t{14}, int32_t{1}})), "01.02.2025");
  EXPECT_EQ(Text(Call("DateSerial", {int32_t{99}, int32_t{1}, int32_t{1}})), "01.01.1999");
  EXPECT_EQ(Text(Call("TimeSerial", {int32_t{12}, int32_t{-1}, int32_t{0}})), "11:59:00");
  EXPECT_EQ(Text(Call("DateValue", {D(2024, 5, 1, 13)})), "01.05.2024");
  EXPECT_EQ(Text(Call("TimeValue", {"01.05.2024 13:15:00"})), "13:15:00");
}

TEST(RuntimeDates, FormatDateTimeNamedFormats) {
  Variant d = D(2026, 12, 6, 7, 5, 9);
  EXPECT_EQ(Str("FormatDateTime", {d}), "06.12.2026 07:05:09");
  EXPECT_EQ(Str("FormatDateTime", {d, int32_t{1}}), "Sonntag, 6. Dezember 2026");
  EXPECT_EQ(Str("FormatDateTime", {d, int32_t{2}}), "06.12.2026");
  EXPECT_EQ(Str("FormatDateTime", {d, int32_t{3}}), "07:05:09");
  EXPECT_EQ(Str("FormatDateTime", {d, int32_t{4}}), "07:05");
  EXPECT_EQ(ErrorOf([&] { Call("FormatDateTime", {d, int32_t{5}}); }), 5);
}

TEST(RuntimeDates, NowDateAndTimeAgree) {
  double now = Call("Now").dateVal();
  double date = Call("Date").dateVal();
  double time = Call("Time").dateVal();
  EXPECT_EQ(date, std::trunc(date));
  EXPECT_LT(time, 1.0);
  EXPECT_NEAR(now, date + time, 2.0 / 86400 + 1.0);  // allows for a midnight in between
  float timer = Call("Timer").singleVal();
  EXPECT_GE(timer, 0.0f);
  EXPECT_LT(timer, 86400.0f);
}

}  // namespace
}  // namespace fern::script
