// The pure text rules of teaser templates and key facts: how a template is scanned, how one
// placeholder's inner text splits into label, mode, name and unit, how a placeholder's text is
// composed, and how amounts and ranges are written. No database, no dictionary: the callers
// hand in what they looked up. Numbers are always written German (1.234,50), whatever the
// process locale is.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/variant.h"

namespace fern::website {

// A template placeholder's inner text (between "{" and "}"), taken apart.
//   name            a field by its short name, with the field type's own label
//   label$name      the same field with the literal label (none when "$" comes first)
//   label@column    a column of the listing's or request's row with the literal label
// Each may end in "#unit". With both "$" and "@", "@" decides.
struct Placeholder {
  char mode = 0;  // '$', '@' or 0
  std::string label;
  std::string name;
  std::string unit;
};

// HostError 50015 when the "#" stands before the mode character.
Placeholder ParsePlaceholder(const std::string& inner);

// "" for an empty value; else label, value and unit joined by single blanks, leaving out an
// empty label or unit.
std::string ComposePlaceholder(const std::string& label, const std::string& value,
                               const std::string& unit);

// One left-to-right scan over the template: literal text is copied (a stray "}" is dropped),
// each "{inner}" becomes resolve(inner) followed by ", ", or nothing when that is empty. Values
// are inserted as they are and never scanned again. The result is trimmed of blanks and loses
// one trailing ",". HostError 50015 for a "{" without its "}" (or with another "{" before it).
std::string ExpandTemplate(std::string_view templ,
                           const std::function<std::string(const std::string&)>& resolve);

// The words "von ", "bis " and "ab " of a range value replaced, in this order, by word(...) + " ".
std::string TranslateIntervalWords(const std::string& value,
                                   const std::function<std::string(const std::string&)>& word);

// True when the number stands for "not given" (1E+100 and above).
bool NotGiven(double value);

// A number as "#,##0" (German grouping, rounded to a whole number).
std::string FormatWhole(double value);
// A whole number as "#,##0", any other as "#,##0.00"; Null and Empty give "".
std::string FormatAmountText(const Variant& value);

// A teaser's amount range: a lower bound of 0 or one not given means "up to"; a range with
// neither bound gives "". "bis 5.000", "ab 100.000", "100 bis 200", or the one amount.
std::string TeaserRange(const Variant& von, const Variant& bis);
// A key-facts amount range with FormatAmountText: here 0 is a real lower bound; only 1E+100
// (or Null) is not given. Neither bound given gives "".
std::string KeyFactsRange(const Variant& von, const Variant& bis);

// A text that begins with "http://" (any case) as a link: "url#text" gives
// <a href="url" target=_blank>text</a>, a text without "#" links to itself. Any other text,
// "https://" included, stays as it is.
std::string LinkText(const std::string& text);

// The fixed commission word for a "PROV_INT" value whose number is 0: "siehe Exposétext" for
// a text of more than three characters, else by the kind of deal (0 buy, 1 rent). "" when the
// value starts with a number other than 0 and stays as it is.
std::string CommissionWord(const std::string& value, const Variant& eart);

}  // namespace fern::website
