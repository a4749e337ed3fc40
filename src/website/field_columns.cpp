#include "website/field_columns.h"

#include <set>

#include "platform/cp1252.h"
#include "platform/vb.h"
#include "website/sql_literals.h"
#include "website/text_helpers.h"

namespace fern::website {

namespace {

constexpr size_t kStatementLimit = 2000;
constexpr size_t kMaxIdentifier = 64;

const char* const kTextColumns[] = {
    "EXPOSE",          "KURZEXPOSE",       "TEXTOBJEKT",        "TEXTLAGE",
    "TEXTAUSSTATTUNG", "TEXTBEBAUBARKEIT", "TEXTERSCHLIESSUNG", "TEXTFREI",
    "TEXTEXTRA1",      "TEXTEXTRA2",       "TEXTEXTRA3",        "TEXTEXTRA4"};

std::string Fold(const std::string& s) { return vb::UCase(s); }

const std::string& ValueAt(const std::vector<std::string>& values, size_t i) {
  static const std::string empty;
  const std::string& first = values.empty() ? empty : values[0];
  if (i >= values.size() || values[i].empty()) return first;
  return values[i];
}

}  // namespace

std::string ContentLanguages::Suffix(size_t position) const {
  if (position == 0 || position >= lcids.size()) return {};
  return "_LCID" + lcids[position];
}

std::string LangColumnList(const std::string& column, const ContentLanguages& languages) {
  std::string out;
  for (size_t i = 0; i < languages.Count(); ++i)
    out += (i ? "," : "") + column + languages.Suffix(i);
  return out;
}

std::string LangValueList(const std::vector<std::string>& values,
                          const ContentLanguages& languages) {
  std::string out;
  for (size_t i = 0; i < languages.Count(); ++i)
    out += (i ? "," : "") + SqlValue(Variant(ValueAt(values, i)));
  return out;
}

std::string LangSetList(const std::string& column, const std::vector<std::string>& values,
                        const ContentLanguages& languages) {
  std::string out;
  for (size_t i = 0; i < languages.Count(); ++i)
    out +=
        (i ? "," : "") + column + languages.Suffix(i) + "=" + SqlValue(Variant(ValueAt(values, i)));
  return out;
}

const std::vector<std::string>& FixedListingColumns() {
  static const std::vector<std::string> fixed = [] {
    std::vector<std::string> v = {"DSN",     "MEMBER",          "KENNUNG", "INTERN",
                                  "EART",    "KOLLEGE_KENNUNG", "KURZ",    "LANG",
                                  "ADRESSE", "OBJDSN",          "PROVINT", "PROVANB"};
    for (const char* c : kTextColumns) v.push_back(c);
    return v;
  }();
  return fixed;
}

FieldColumns::FieldColumns(ContentLanguages languages, Warn warn, Translate translate)
    : languages_(std::move(languages)), warn_(std::move(warn)), translate_(std::move(translate)) {}

std::string FieldColumns::ColumnName(const std::string& kuerzel) {
  return ReplaceString(kuerzel, "_");
}

bool FieldColumns::Definitions(const FieldTypeRow& row, const std::string& c,
                               std::vector<ColumnDefinition>& out) const {
  auto perLanguage = [&] {
    for (size_t i = 1; i < languages_.Count(); ++i)
      out.push_back({c + languages_.Suffix(i), "TEXT"});
  };
  const bool number = row.typ == 1 || row.typ == 2;
  switch (row.status) {
    case 1:
      out.push_back({c, number ? "DOUBLE" : "TEXT"});
      if (row.typ == 0) out.push_back({c + "WERT", "TEXT"});
      if (row.typ == 0 || row.typ == 3) perLanguage();
      return true;
    case 2:
      out.push_back({c, "TEXT"});
      if (row.typ == 0 || row.typ == 3) perLanguage();
      if (row.typ == 0) out.push_back({c + "WERT", "TEXT"});
      return true;
    case 3:
      if (!number) {
        warn_("",
              translate_("WARNUNG", "") + ": " +
                  translate_("Intervall bei Feldart %1 nicht möglich.", "<" + row.kuerzel + " >") +
                  " " + translate_("Daten werden nicht übertragen.", ""));
        return false;
      }
      out.push_back({c + "_VON", "DOUBLE"});
      out.push_back({c, "DOUBLE"});
      return true;
    default:
      return false;  // 0 and unknown states add no column
  }
}

void FieldColumns::Build(const std::vector<FieldTypeRow>& rows) {
  columns_.clear();
  std::set<std::string> kuerzel;
  std::set<std::string> taken;
  for (const std::string& f : FixedListingColumns())
    for (size_t i = 0; i < languages_.Count(); ++i) taken.insert(Fold(f + languages_.Suffix(i)));
  for (const FieldTypeRow& row : rows) {
    const std::string key = Fold(row.kuerzel);
    if (key == "RDM OBJEKTART") continue;
    const auto duplicate = [&] {
      warn_("WARNUNG:",
            "Die Feldart '" + row.kuerzel + "' kommt doppelt vor! Bitte ändern Sie das!");
    };
    if (!kuerzel.insert(key).second) {
      duplicate();
      continue;
    }
    FieldColumn col{row.kuerzel, ColumnName(row.kuerzel), {}};
    if (!Definitions(row, col.column, col.definitions)) continue;
    bool usable = !col.column.empty();
    for (const ColumnDefinition& d : col.definitions)
      usable = usable && d.name.size() <= kMaxIdentifier;
    if (!usable) {
      warn_("", translate_("WARNUNG", "") + ": " +
                    translate_("Die Feldart %1 ergibt keinen gültigen Spaltennamen.",
                               "<" + row.kuerzel + " >") +
                    " " + translate_("Daten werden nicht übertragen.", ""));
      continue;
    }
    bool clash = false;
    for (const ColumnDefinition& d : col.definitions)
      clash = clash || taken.count(Fold(d.name)) > 0;
    if (clash) {
      duplicate();
      continue;
    }
    for (const ColumnDefinition& d : col.definitions) taken.insert(Fold(d.name));
    columns_.push_back(std::move(col));
  }
}

std::string FieldColumns::ColumnOf(const std::string& kuerzel) const {
  for (const FieldColumn& c : columns_)
    if (Fold(c.kuerzel) == Fold(kuerzel)) return c.column;
  return {};
}

std::vector<std::string> FieldColumns::AlterStatements() const {
  std::vector<std::string> out;
  std::string statement;
  for (const FieldColumn& c : columns_) {
    for (const ColumnDefinition& d : c.definitions) {
      statement += statement.empty() ? "alter table $table_dat ADD " : ", ADD ";
      statement += "`" + d.name + "` " + d.type + " NULL ";
    }
    if (statement.size() >= kStatementLimit) {
      out.push_back(statement);
      statement.clear();
    }
  }
  if (!statement.empty()) out.push_back(statement);
  return out;
}

std::string FieldColumns::TextColumnStatement() const {
  std::string adds;
  for (size_t i = 1; i < languages_.Count(); ++i)
    for (const char* column : kTextColumns)
      adds += std::string(adds.empty() ? "" : ",") + " add " + column + languages_.Suffix(i) +
              " TEXT NULL";
  return adds.empty() ? std::string() : "alter table $table_dat" + adds;
}

std::string FieldColumns::RequestColumnStatement() const {
  std::string adds;
  for (size_t i = 1; i < languages_.Count(); ++i)
    for (const char* column : {"INT_HEADLINE", "INT_DETAILS"})
      adds += std::string(adds.empty() ? "" : ",") + " add " + column + languages_.Suffix(i) +
              " TEXT NULL";
  return adds.empty() ? std::string() : "alter table $table_interessenten" + adds;
}

}  // namespace fern::website
