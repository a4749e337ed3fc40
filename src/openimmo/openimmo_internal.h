// Small helpers shared by the exporter's files.
#pragma once

#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host_path.h"
#include "platform/vb.h"
#include "xml/xml_dom.h"

namespace fern {
class cFernDispatcher;
}

namespace fern::openimmo {

// The host folder without its trailing separator: the run's, or the session's when a step runs
// without a session object (tests).
std::string HostFolderOf(const cFernDispatcher* app);

inline constexpr const char* kXsdNs = "http://www.w3.org/2001/XMLSchema";
inline constexpr const char* kXsiNs = "http://www.w3.org/2001/XMLSchema-instance";

// The attribute's text trimmed; "" when missing or when the node is none.
inline std::string Attr(const XmlNodePtr& node, std::string_view name) {
  if (!node) return {};
  auto v = node->getAttribute(name);
  return v ? vb::Trim(*v) : std::string();
}

// Whole number from text: the leading number, rounded half to even.
inline int32_t ToLong(std::string_view text) {
  double d = vb::Val(vb::Trim(text));
  double r = std::nearbyint(d);
  if (r > 2147483647.0) r = 2147483647.0;
  if (r < -2147483648.0) r = -2147483648.0;
  return static_cast<int32_t>(r);
}

inline std::string Real(std::string_view hostPath) { return ResolveHostPath(hostPath).string(); }

inline bool StartsWithNoCase(std::string_view text, std::string_view start) {
  return vb::UCase(vb::Left(text, static_cast<int64_t>(vb::Len(start)))) == vb::UCase(start);
}

// A node list's nodes by value, so a loop over a selection keeps them alive.
inline std::vector<XmlNodePtr> List(const XmlNodeListPtr& list) {
  return list ? list->items() : std::vector<XmlNodePtr>();
}

// The number text in `format` with "." as the decimal point ("0.00", "12,5" -> "12.50").
std::string FormatNumber(const std::string& format, const std::string& value);

inline std::string Text(const XmlNodePtr& node) { return node ? node->text() : std::string(); }

}  // namespace fern::openimmo
