// SSH host-key fingerprints: the forms a settings file may hold, and the form we store for a
// key learned on first contact.
#pragma once

#include <string>

namespace fern::services {

// "[type [bits]] <hash>" where the hash is MD5 as 16 hex pairs with ":" ("MD5:" prefix
// allowed) or SHA-256 in Base64, padded or not ("SHA256:" prefix allowed).
struct HostKeyFingerprint {
  enum Kind { kNone, kMd5, kSha256 } kind = kNone;
  std::string value;  // kMd5: 32 lower-case hex digits; kSha256: Base64 without padding
};
HostKeyFingerprint ParseFingerprint(const std::string& stored);

// "<type> <bits> <SHA-256 Base64 without padding>" of a raw SSH public-key blob
// ("ssh-ed25519 255 3Hx...").
std::string FingerprintOfKey(const std::string& blob);

// Whether the key blob has the fingerprint (SHA-256 compared here; MD5 is compared by the
// SSH library before the key reaches us, so it counts as a match).
bool KeyMatches(const HostKeyFingerprint& expected, const std::string& blob);

}  // namespace fern::services
