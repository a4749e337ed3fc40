// Row criteria of recordset filters and finds, parsed once and evaluated per row.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/variant.h"

namespace fern::db {

// A row's field values as the criteria read them.
class FieldSource {
 public:
  virtual const Variant& Get(size_t field) const = 0;

 protected:
  ~FieldSource() = default;
};

// `Field op value` comparisons joined by AND/OR (AND binds tighter) with parentheses.
// Field: a name (letters, digits, _, umlauts) or [any name]. op: = <> != < > <= >= LIKE,
// or IS [NOT] NULL. value: 'text' with '' for an apostrophe, a number ("." decimal point),
// #date# (yyyy-mm-dd, dd.mm.yyyy or mm/dd/yyyy, each with an optional hh:nn[:ss]), Null.
// `= Null` and `<> Null` test for Null; any other comparison with a Null field is false.
// Text compares as the database does: case-insensitive with German letters. LIKE takes * and %
// as wildcards. A field of numbers compared with a text that is no number does not match.
class Criteria {
 public:
  // `resolve` gives a field's index or -1; an unknown field is HostError 3265, a criteria text
  // that does not parse is HostError 3001, both naming the text.
  Criteria(std::string_view text, const std::function<int(std::string_view)>& resolve);
  ~Criteria();
  bool Matches(const FieldSource& row) const;
  bool Matches(const std::vector<Variant>& row) const;

  struct Node;

 private:
  std::vector<Node> nodes_;
  int root_ = -1;
};

// Sort order of two values: Null and Empty first, numbers, dates and booleans by value, text
// in German order without regard to case; a number and a text compare as numbers when the
// text is one, else as texts.
int CompareValues(const Variant& a, const Variant& b);

// Parses the date forms of criteria literals into an OLE serial; false when it is none.
bool ParseCriteriaDate(std::string_view s, double& serial);

}  // namespace fern::db
