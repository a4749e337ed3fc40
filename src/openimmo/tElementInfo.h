// What the exporter knows of one element and one attribute declared in a portal's XSD: value
// type, occurrence bounds, lengths and the attributes with their allowed values. Read by the
// mapping engine, the mandatory-field check and the fillers of pictures and contacts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fern {

// Value type codes of elements and attributes.
namespace etype {
inline constexpr int32_t kOther = 0;
inline constexpr int32_t kText = 1;
inline constexpr int32_t kInteger = 2;
inline constexpr int32_t kBoolean = 3;
inline constexpr int32_t kDate = 4;
inline constexpr int32_t kDecimal = 5;
}  // namespace etype

struct tAttribute {
  std::string strAttrName;
  int32_t eType = 0;
  // Allowed values (enumeration, or "true" for a Boolean); unset until strOptionsClear.
  std::optional<std::vector<std::string>> strOptions;

  void strOptionsClear() { strOptions.emplace(); }
  bool HasOptions() const { return strOptions && !strOptions->empty(); }
};

struct tElementInfo {
  std::string strElementname;
  std::string strFeldName;
  std::string strComment;
  int32_t eType = 0;
  std::string strType;
  int32_t lMaxOccurs = 1;  // "unbounded" reads as 50
  int32_t lMinOccurs = 1;
  bool blnMixedCont = false;
  bool blnHasAtts = false;
  std::vector<tAttribute> aryAttribs;  // in declaration order, names unique
  int32_t lmaxLength = 0;
  int32_t lminlength = 0;
  bool blnComplexType = false;
  bool blnComplexTypeSimpleContent = false;

  const tAttribute* Attribute(std::string_view name) const {
    for (const auto& a : aryAttribs)
      if (a.strAttrName == name) return &a;
    return nullptr;
  }
};

}  // namespace fern
