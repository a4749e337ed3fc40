#include "website/placeholder_grammar.h"

#include <cmath>

#include "platform/host_error.h"
#include "platform/text.h"
#include "platform/vb.h"

namespace fern::website {

namespace {

constexpr double kNotGiven = 1E+100;

[[noreturn]] void Fail(const std::string& what) {
  throw HostError(err::kInvalidValue, what, "ExpandPlaceholders");
}

bool IsNumber(const Variant& v) { return !v.IsNull() && !v.IsEmpty(); }

}  // namespace

Placeholder ParsePlaceholder(const std::string& inner) {
  Placeholder p;
  size_t modeAt = inner.find('@');
  if (modeAt != std::string::npos) {
    p.mode = '@';
  } else if ((modeAt = inner.find('$')) != std::string::npos) {
    p.mode = '$';
  }
  const size_t unitAt = inner.find('#');
  if (unitAt != std::string::npos) p.unit = inner.substr(unitAt + 1);
  if (p.mode) {
    if (unitAt != std::string::npos && unitAt < modeAt)
      Fail("Platzhalter {" + inner + "}: die Einheit steht vor dem Namen.");
    p.label = inner.substr(0, modeAt);
    p.name = inner.substr(modeAt + 1,
                          unitAt == std::string::npos ? std::string::npos : unitAt - modeAt - 1);
  } else {
    p.name = inner.substr(0, unitAt);
  }
  return p;
}

std::string ComposePlaceholder(const std::string& label, const std::string& value,
                               const std::string& unit) {
  if (value.empty()) return {};
  std::string out = label.empty() ? value : label + " " + value;
  if (!unit.empty()) out += " " + unit;
  return out;
}

std::string ExpandTemplate(std::string_view templ,
                           const std::function<std::string(const std::string&)>& resolve) {
  std::string out;
  out.reserve(templ.size());
  size_t at = 0;
  while (at < templ.size()) {
    const size_t open = templ.find_first_of("{}", at);
    if (open == std::string_view::npos) {
      out.append(templ.substr(at));
      break;
    }
    out.append(templ.substr(at, open - at));
    if (templ[open] == '}') {  // a stray closing brace is not text of the teaser
      at = open + 1;
      continue;
    }
    const size_t close = templ.find_first_of("{}", open + 1);
    if (close == std::string_view::npos || templ[close] != '}')
      Fail("Platzhalter ohne schließende Klammer: " + std::string(templ.substr(open)));
    const std::string value = resolve(std::string(templ.substr(open + 1, close - open - 1)));
    if (!value.empty()) out += value + ", ";
    at = close + 1;
  }
  out = std::string(text::TrimBlanks(out));
  if (!out.empty() && out.back() == ',') out.pop_back();
  return out;
}

std::string TranslateIntervalWords(const std::string& value,
                                   const std::function<std::string(const std::string&)>& word) {
  std::string out = value;
  for (const char* w : {"von", "bis", "ab"})
    out = vb::Replace(out, std::string(w) + " ", word(w) + " ");
  return out;
}

bool NotGiven(double value) { return value >= kNotGiven; }

std::string FormatWhole(double value) { return vb::Format(Variant(value), "#,##0"); }

std::string FormatAmountText(const Variant& value) {
  if (!IsNumber(value)) return {};
  const double d = vb::CDbl(value);
  return vb::Format(Variant(d), d == std::trunc(d) ? "#,##0" : "#,##0.00");
}

std::string TeaserRange(const Variant& von, const Variant& bis) {
  const bool highGiven = IsNumber(bis) && !NotGiven(vb::CDbl(bis));
  const double low = IsNumber(von) ? vb::CDbl(von) : 0;
  if (low == 0 || NotGiven(low)) return highGiven ? "bis " + FormatWhole(vb::CDbl(bis)) : "";
  if (!IsNumber(bis)) return FormatWhole(low);
  const double high = vb::CDbl(bis);
  if (NotGiven(high)) return "ab " + FormatWhole(low);
  if (low != high) return FormatWhole(low) + " bis " + FormatWhole(high);
  return FormatWhole(low);
}

std::string KeyFactsRange(const Variant& von, const Variant& bis) {
  const bool lowGiven = IsNumber(von) && !NotGiven(vb::CDbl(von));
  const bool highGiven = IsNumber(bis) && !NotGiven(vb::CDbl(bis));
  if (!lowGiven) return highGiven ? "bis " + FormatAmountText(bis) : "";
  if (!IsNumber(bis)) return FormatAmountText(von);
  if (!highGiven) return "ab " + FormatAmountText(von);
  if (vb::CDbl(von) != vb::CDbl(bis))
    return FormatAmountText(von) + " bis " + FormatAmountText(bis);
  return FormatAmountText(von);
}

std::string LinkText(const std::string& text) {
  if (vb::StrComp(vb::Left(text, 7), "http://", true) != 0) return text;
  const size_t hash = text.find('#');
  std::string url = text, caption = text;
  if (hash != std::string::npos) {
    url = text.substr(0, hash);
    const size_t next = text.find('#', hash + 1);
    caption =
        text.substr(hash + 1, next == std::string::npos ? std::string::npos : next - hash - 1);
  }
  return "<a href=\"" + url + "\" target=_blank>" + caption + "</a>";
}

std::string CommissionWord(const std::string& value, const Variant& eart) {
  if (vb::Val(value) != 0) return {};
  if (vb::Len(value) > 3) return "siehe Exposétext";
  if (IsNumber(eart)) {
    const double kind = vb::CDbl(eart);
    if (kind == 0) return "Keine zusätzliche Käuferprovision";
    if (kind == 1) return "Auftraggeber des Maklers ist der Vermieter";
  }
  return "Keine zusätzliche Provision";
}

}  // namespace fern::website
