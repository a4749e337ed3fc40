#include "platform/sha256.h"

#include <openssl/evp.h>

#include "platform/host_error.h"

namespace fern {

namespace {
constexpr int32_t kOutOfMemory = 7;  // VB's error: the digest fails only without memory
}  // namespace

std::string Sha256(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr) != 1)
    throw HostError(kOutOfMemory, "SHA-256 could not be computed", "Sha256");
  return std::string(reinterpret_cast<const char*>(digest), size);
}

}  // namespace fern
