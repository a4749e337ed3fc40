#include <gtest/gtest.h>

#include "db/Recordset.h"
#include "db/criteria.h"
#include "db/german_text.h"
#include "platform/host_error.h"
#include "platform/vb.h"

using namespace fern;
using namespace fern::db;

namespace {

// Fields: 0 Abteilung (text), 1 Aktiv (Boolean), 2 Preis (Double), 3 Datum, 4 "Straße Nr"
const std::vector<std::string> kNames = {"Abteilung", "Aktiv", "Preis", "Datum", "Straße Nr"};

int Resolve(std::string_view name) {
  for (size_t i = 0; i < kNames.size(); ++i)
    if (FoldKey(kNames[i]) == FoldKey(name)) return static_cast<int>(i);
  return -1;
}

bool Match(std::string_view criteria, const std::vector<Variant>& row) {
  return Criteria(criteria, Resolve).Matches(row);
}

std::vector<Variant> Row(Variant abteilung, Variant aktiv, Variant preis, Variant datum,
                         Variant strasse = Variant::Null()) {
  return {std::move(abteilung), std::move(aktiv), std::move(preis), std::move(datum),
          std::move(strasse)};
}

}  // namespace

TEST(Criteria, NumbersAgainstTextAndBooleanFields) {
  auto row = Row("3", true, 1.5, Variant::Date(vb::DateSerial(2024, 2, 29)));
  EXPECT_TRUE(Match(" Abteilung = 3", row));  // a department pasted unquoted
  EXPECT_TRUE(Match("Abteilung = '3'", row));
  EXPECT_FALSE(Match("Abteilung = 4", row));
  EXPECT_TRUE(Match("Aktiv <> 0", row));
  EXPECT_TRUE(Match("Aktiv = 1", row));  // stored flags are 1, VB's True is -1
  EXPECT_TRUE(Match("Aktiv = -1", row));
  EXPECT_TRUE(Match("Preis >= 1.5 AND Preis < 2", row));
  EXPECT_TRUE(Match("Preis > -1e3", row));
  EXPECT_TRUE(Match("Preis = '1,5'", row));    // German text of a number
  EXPECT_FALSE(Match("Preis = 'viel'", row));  // no number: no match, no error
  auto text = Row("Verkauf", false, 0.0, Variant::Null());
  EXPECT_FALSE(Match("Abteilung = 3", text));
  EXPECT_TRUE(Match("Abteilung != 'verkauf' OR Aktiv = 0", text));
}

TEST(Criteria, DatesNullAndBracketedNames) {
  auto row = Row(Variant::Null(), Variant::Null(), Variant::Null(),
                 Variant::Date(vb::DateSerial(2024, 2, 29) + vb::TimeSerial(10, 30, 0)), "Allee 5");
  EXPECT_TRUE(Match("Datum > #2024-02-29#", row));
  EXPECT_TRUE(Match("Datum = #29.02.2024 10:30#", row));
  EXPECT_TRUE(Match("Datum < #03/01/2024#", row));
  EXPECT_TRUE(Match("Datum >= '2024-02-29 10:30:00'", row));
  EXPECT_TRUE(Match("Abteilung = Null AND Abteilung IS NULL", row));
  EXPECT_FALSE(Match("Abteilung <> 'x'", row));  // Null is neither equal nor unequal
  EXPECT_FALSE(Match("Abteilung IS NOT NULL", row));
  EXPECT_TRUE(Match("[Straße Nr] LIKE 'allee*'", row));
  EXPECT_TRUE(Match("[STRASSE NR] = 'ALLEE 5'", row));
}

TEST(Criteria, RejectsWhatDoesNotParse) {
  auto err = [](std::string_view c) {
    try {
      Criteria(c, Resolve);
    } catch (const HostError& e) {
      return e.number();
    }
    return 0;
  };
  EXPECT_EQ(err("Abteilung"), dberr::kArgument);
  EXPECT_EQ(err("Abteilung = 1 AND"), dberr::kArgument);
  EXPECT_EQ(err("Abteilung = 1 garbage"), dberr::kArgument);
  EXPECT_EQ(err("Datum = #32.01.2024#"), dberr::kArgument);
  EXPECT_EQ(err("Preis < Null"), dberr::kArgument);
  EXPECT_EQ(err("Preis LIKE 3"), dberr::kArgument);
  EXPECT_EQ(err("[Straße Nr = 1"), dberr::kArgument);
  EXPECT_EQ(err("Fehlt = 1"), dberr::kItemNotFound);
}

TEST(CompareValues, SortOrderAcrossTypes) {
  EXPECT_LT(CompareValues(Variant::Null(), Variant(int32_t{-5})), 0);
  EXPECT_EQ(CompareValues(Variant::Null(), Variant()), 0);
  EXPECT_LT(CompareValues(Variant(int32_t{2}), Variant(10.0)), 0);
  EXPECT_LT(CompareValues(Variant("2"), Variant(int32_t{10})), 0);  // numeric text as number
  EXPECT_GT(CompareValues(Variant("abc"), Variant(int32_t{10})), 0);
  EXPECT_EQ(CompareValues(Variant("Maß"), Variant("MASS")), 0);
}
