// The placeholder engine of teaser and text templates.
#include "website/cWebserverV2.h"

namespace fern {

std::string cWebserverV2::ExpandPlaceholders(const std::string&, const std::string& templ,
                                             const std::string&, int32_t, bool&) {
  return templ;
}

std::string cWebserverV2::ResolvePlaceholder(const std::string&, const std::string&,
                                             const std::string&, int32_t, bool&) {
  return {};
}

}  // namespace fern
