#include "host/host_list.h"

#include "host/host_args.h"

namespace fern::host {

const std::string& HostList::Item(int32_t index) const {
  if (index < 1 || index > Count())
    throw HostError(err::kSubscript, "Subscript out of range", "Item");
  return items_[static_cast<size_t>(index - 1)];
}

Variant HostList::Invoke(std::string_view name, unsigned, std::span<Variant> args) {
  if (NameIs(name, "Count")) return Count();
  if (NameIs(name, "Item") || name.empty()) {
    CheckArgCount(args, 1, 1, "Item");
    return Variant(Item(ArgLong(args, 0)));
  }
  ThrowNoMember(name);
}

bool HostList::Enumerate(std::vector<Variant>& items) {
  items.clear();
  for (const auto& s : items_) items.emplace_back(s);
  return true;
}

}  // namespace fern::host
