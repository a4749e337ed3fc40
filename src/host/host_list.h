// A read-only list of texts that scripts and by-name callers walk with Count, Item(1-based) and
// For Each (the language pack's `ContentLangList`).
#pragma once

#include <string>
#include <vector>

#include "platform/dispatch.h"

namespace fern::host {

class HostList : public Dispatch {
 public:
  explicit HostList(std::vector<std::string> items) : items_(std::move(items)) {}

  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // HostError 9 outside 1..Count.
  const std::string& Item(int32_t index) const;

  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override { return "Collection"; }
  bool Enumerate(std::vector<Variant>& items) override;

 private:
  std::vector<std::string> items_;
};

}  // namespace fern::host
