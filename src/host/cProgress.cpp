#include "host/cProgress.h"

namespace fern {

Variant cProgress::Invoke(std::string_view name, unsigned, std::span<Variant>) {
  ThrowNoMember(name);
}

}  // namespace fern
