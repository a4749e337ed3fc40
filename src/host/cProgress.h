// The host's progress object. The start-up creates it with the other host objects; nothing in
// this program calls a member of it, so it answers none.
#pragma once

#include "platform/dispatch.h"

namespace fern {

class cProgress : public Dispatch {
 public:
  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override { return "cProgress"; }
};

}  // namespace fern
