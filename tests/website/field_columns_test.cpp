#include "website/field_columns.h"

#include <gtest/gtest.h>

namespace fern::website {
namespace {

struct Collected {
  std::vector<std::string> warnings;
  FieldColumns Make(ContentLanguages languages = {}) {
    return FieldColumns(
        std::move(languages),
        [this](const std::string& kind, const std::string& text) {
          warnings.push_back(kind + "|" + text);
        },
        [](const std::string& german, const std::string& p1) {
          std::string t = german;
          if (auto at = t.find("%1"); at != std::string::npos) t.replace(at, 2, p1);
          return t;
        });
  }
};

TEST(FieldColumns, StatementsForEachStatusAndType) {
  Collected c;
  FieldColumns cols = c.Make(ContentLanguages{{"1031", "1033"}});
  cols.Build({{"OBJART", 0, 1},
              {"Wohnfläche m²", 1, 1},
              {"HEADLINE", 3, 2},
              {"FLAECHE", 1, 3},
              {"BALKON", 4, 3},
              {"RDM OBJEKTART", 0, 1},
              {"NICHTS", 6, 0},
              {"select", 6, 1},
              {"2024", 6, 2}});
  const auto statements = cols.AlterStatements();
  ASSERT_EQ(statements.size(), 1u);
  EXPECT_EQ(statements[0],
            "alter table $table_dat ADD `OBJART` TEXT NULL , ADD `OBJARTWERT` TEXT NULL , ADD "
            "`OBJART_LCID1033` TEXT NULL , ADD `Wohnflaeche_m_` DOUBLE NULL , ADD `HEADLINE` TEXT "
            "NULL , ADD `HEADLINE_LCID1033` TEXT NULL , ADD `FLAECHE_VON` DOUBLE NULL , ADD "
            "`FLAECHE` DOUBLE NULL , ADD `select` TEXT NULL , ADD `2024` TEXT NULL ");
  ASSERT_EQ(c.warnings.size(), 1u);
  EXPECT_EQ(
      c.warnings[0],
      "|WARNUNG: Intervall bei Feldart <BALKON > nicht möglich. Daten werden nicht übertragen.");
  EXPECT_EQ(cols.ColumnOf("Wohnfläche m²"), "Wohnflaeche_m_");
  EXPECT_EQ(cols.TextColumnStatement().substr(0, 62),
            "alter table $table_dat add EXPOSE_LCID1033 TEXT NULL, add KURZ");
  EXPECT_EQ(cols.RequestColumnStatement(),
            "alter table $table_interessenten add INT_HEADLINE_LCID1033 TEXT NULL, add "
            "INT_DETAILS_LCID1033 TEXT NULL");
}

TEST(FieldColumns, DuplicatesAndUnusableNamesAreLeftOutWithAWarning) {
  Collected c;
  FieldColumns cols = c.Make();
  cols.Build({{"Fläche", 1, 1},
              {"FLÄCHE", 6, 2},   // same short name, lower status
              {"Flaeche", 6, 1},  // same column
              {"kennung", 6, 1},  // a fixed column of the listing table
              {"TYP", 0, 1},      // TYP + TYPWERT
              {"TYPWERT", 6, 1},  // taken by the option column above
              {"?", 6, 1},        // "_" is a name
              {std::string(70, 'L'), 6, 1}});
  std::vector<std::string> names;
  for (const auto& col : cols.Columns()) names.push_back(col.column);
  EXPECT_EQ(names, (std::vector<std::string>{"Flaeche", "TYP", "_"}));
  ASSERT_EQ(c.warnings.size(), 5u);
  EXPECT_EQ(c.warnings[0],
            "WARNUNG:|Die Feldart 'FLÄCHE' kommt doppelt vor! Bitte ändern Sie das!");
  EXPECT_NE(c.warnings[4].find("keinen gültigen Spaltennamen"), std::string::npos);
  EXPECT_EQ(cols.TextColumnStatement(), "");
}

TEST(FieldColumns, LongListsSplitAt2000Characters) {
  Collected c;
  FieldColumns cols = c.Make();
  std::vector<FieldTypeRow> rows;
  for (int i = 0; i < 120; ++i) rows.push_back({"FELD" + std::to_string(1000 + i), 6, 1});
  cols.Build(rows);
  const auto statements = cols.AlterStatements();
  ASSERT_GE(statements.size(), 2u);
  std::string all;
  for (const auto& s : statements) {
    EXPECT_EQ(s.rfind("alter table $table_dat ADD `", 0), 0u);
    EXPECT_LT(s.size(), 2000u + 40u);
    all += s + ", ";
  }
  // Every field's column is added, once.
  for (const auto& col : cols.Columns())
    for (const auto& d : col.definitions) {
      const std::string add = "ADD `" + d.name + "` ";
      const size_t at = all.find(add);
      EXPECT_NE(at, std::string::npos) << d.name;
      EXPECT_EQ(all.find(add, at + 1), std::string::npos) << d.name;
    }
  EXPECT_EQ(cols.Columns().size(), rows.size());
}

}  // namespace
}  // namespace fern::website
