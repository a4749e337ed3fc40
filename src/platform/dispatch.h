// Late binding by member name: every object that scripts or by-name callers reach implements
// Dispatch. C++ code calls the typed members of the concrete classes directly.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host_error.h"
#include "platform/variant.h"

namespace fern {

// Bit flags, as a caller may not know whether `obj.Name` is a method or a property.
enum CallKind : unsigned {
  kMethod = 1,
  kPropGet = 2,
  kPropLet = 4,
  kPropSet = 8,
};

class Dispatch : public std::enable_shared_from_this<Dispatch> {
 public:
  virtual ~Dispatch() = default;

  // Calls member `name` (ASCII case-insensitive; empty = the default member). The arguments are
  // the caller's own variables: a by-reference parameter writes its new value into them. For a
  // property Let/Set the last argument is the value assigned. Unknown members throw
  // HostError 438 through ThrowNoMember.
  virtual Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) = 0;

  // VB's TypeName of the object.
  virtual std::string TypeName() const = 0;

  // For Each: fills `items` and returns true when the object is a collection.
  virtual bool Enumerate(std::vector<Variant>& items);
};

// ASCII case-insensitive equality, the rule for member names.
bool NameIs(std::string_view a, std::string_view b) noexcept;

// HostError 438 "Object doesn't support this property or method: <name>".
[[noreturn]] void ThrowNoMember(std::string_view name);

// HostError 450 "Wrong number of arguments or invalid property assignment" unless
// min <= args.size() <= max.
void CheckArgCount(std::span<Variant> args, size_t min, size_t max, std::string_view name);

// Calls a member of an object held in a Variant: HostError 424 "Object required" when `target`
// holds no object.
Variant CallByName(const Variant& target, std::string_view name, unsigned kind,
                   std::span<Variant> args);
inline Variant CallByName(const Variant& target, std::string_view name, unsigned kind,
                          std::vector<Variant>&& args) {
  return CallByName(target, name, kind, std::span<Variant>(args));
}

}  // namespace fern
