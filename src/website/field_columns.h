// The site table's columns for the host's web field types, and the helpers that spread one
// column over all content languages.
//
// A field type's column is its short name through ReplaceString ("Wohnfläche m²" ->
// "Wohnflaeche_m_"); an option field adds C + "WERT", an interval C + "_VON", a text per
// further content language C + "_LCID<n>". The whole list is built first: a field type whose
// short name or any of whose columns was taken already (without regard to case, the site
// table's fixed columns included) is left out with the duplicate warning, and one whose column
// name MySQL can't take (empty, longer than 64 characters) with a warning of its own. Names are
// quoted with backticks, so reserved words and all-digit names work. Numbers are DOUBLE: FLOAT
// keeps six digits (a price of 1,234,567 would read back as 1234570).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fern::website {

// The content languages as the exporter holds them: the LCIDs as text in list order (empty for
// a host with one content language). Position 0 is the first language and has no suffix.
struct ContentLanguages {
  std::vector<std::string> lcids;
  size_t Count() const { return lcids.empty() ? 1 : lcids.size(); }
  // "" for position 0, "_LCID<n>" for a further one.
  std::string Suffix(size_t position) const;
};

// "A,A_LCID1033": the column for every content language.
std::string LangColumnList(const std::string& column, const ContentLanguages& languages);
// The values as SQL literals (SqlValue), one per language; an empty value takes position 0's.
std::string LangValueList(const std::vector<std::string>& values,
                          const ContentLanguages& languages);
// "A='x',A_LCID1033='y'" for an UPDATE, values as in LangValueList.
std::string LangSetList(const std::string& column, const std::vector<std::string>& values,
                        const ContentLanguages& languages);

// One row of the field-type query, in query order.
struct FieldTypeRow {
  std::string kuerzel;
  int32_t typ = 0;
  int32_t status = 0;  // WEBSERVERSTATUS
};

struct ColumnDefinition {
  std::string name;
  std::string type;  // "TEXT" or "DOUBLE"
};

struct FieldColumn {
  std::string kuerzel;
  std::string column;  // C
  std::vector<ColumnDefinition> definitions;
};

// The fixed columns of the site's listing table, which no field type may take.
const std::vector<std::string>& FixedListingColumns();

class FieldColumns {
 public:
  // Warnings for the user: (message kind, text) as WSMessage takes them. `translate` gives a
  // German text in the user's language with %1 filled.
  using Warn = std::function<void(const std::string& kind, const std::string& text)>;
  using Translate = std::function<std::string(const std::string& german, const std::string& p1)>;

  FieldColumns(ContentLanguages languages, Warn warn, Translate translate);

  static std::string ColumnName(const std::string& kuerzel);

  // Decides the columns of each row; rows are taken in query order (highest status first
  // within one short name).
  void Build(const std::vector<FieldTypeRow>& rows);
  const std::vector<FieldColumn>& Columns() const { return columns_; }
  // The column of the field type, "" when it has none.
  std::string ColumnOf(const std::string& kuerzel) const;

  // "alter table $table_dat ADD `C` TEXT NULL , ADD ..." statements, each closed once it
  // reaches 2000 characters.
  std::vector<std::string> AlterStatements() const;
  // The per-language text columns of $table_dat; "" with one content language.
  std::string TextColumnStatement() const;
  // The per-language request columns of $table_interessenten; "" with one content language.
  std::string RequestColumnStatement() const;

 private:
  bool Definitions(const FieldTypeRow& row, const std::string& c,
                   std::vector<ColumnDefinition>& out) const;

  ContentLanguages languages_;
  Warn warn_;
  Translate translate_;
  std::vector<FieldColumn> columns_;
};

}  // namespace fern::website
