#include "platform/dispatch.h"

namespace fern {

bool Dispatch::Enumerate(std::vector<Variant>&) { return false; }

bool NameIs(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

void ThrowNoMember(std::string_view name) {
  throw HostError(err::kNoMember,
                  "Object doesn't support this property or method: '" + std::string(name) + "'");
}

void CheckArgCount(std::span<Variant> args, size_t min, size_t max, std::string_view name) {
  if (args.size() < min || args.size() > max)
    throw HostError(
        err::kWrongArgCount,
        "Wrong number of arguments or invalid property assignment: '" + std::string(name) + "'");
}

Variant CallByName(const Variant& target, std::string_view name, unsigned kind,
                   std::span<Variant> args) {
  if (!target.IsObject() || !target.obj()) throw HostError(err::kObjectRequired, "Object required");
  return target.obj()->Invoke(name, kind, args);
}

}  // namespace fern
