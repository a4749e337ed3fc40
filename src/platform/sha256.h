// SHA-256 for host-key fingerprints.
#pragma once

#include <string>

namespace fern {

// The 32 raw bytes of the digest of `bytes`.
std::string Sha256(const std::string& bytes);

}  // namespace fern
