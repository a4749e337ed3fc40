#include "services/host_key.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>

#include "platform/base64.h"
#include "platform/sha256.h"
#include "platform/text.h"

namespace fern::services {
namespace {

uint32_t ReadU32(const std::string& s, size_t at) {
  if (at + 4 > s.size()) return 0;
  return (static_cast<uint32_t>(static_cast<unsigned char>(s[at])) << 24) |
         (static_cast<uint32_t>(static_cast<unsigned char>(s[at + 1])) << 16) |
         (static_cast<uint32_t>(static_cast<unsigned char>(s[at + 2])) << 8) |
         static_cast<uint32_t>(static_cast<unsigned char>(s[at + 3]));
}

// The SSH wire string at `at`; `at` moves past it. Empty when the blob ends.
std::string ReadSshString(const std::string& blob, size_t& at) {
  const uint32_t n = ReadU32(blob, at);
  if (at + 4 + n > blob.size()) {
    at = blob.size();
    return {};
  }
  std::string s = blob.substr(at + 4, n);
  at += 4 + n;
  return s;
}

// The key size as ssh-keygen shows it.
int KeyBits(const std::string& type, const std::string& blob) {
  if (type == "ssh-ed25519") return 255;
  if (type == "ssh-ed448") return 448;
  if (type.rfind("ecdsa-sha2-nistp", 0) == 0) return std::atoi(type.c_str() + 16);
  if (type == "ssh-rsa" || type == "ssh-dss") {
    size_t at = 0;
    ReadSshString(blob, at);                      // the type
    std::string first = ReadSshString(blob, at);  // rsa: e; dss: p
    std::string modulus = type == "ssh-rsa" ? ReadSshString(blob, at) : first;
    size_t i = 0;
    while (i < modulus.size() && modulus[i] == 0) ++i;
    if (i == modulus.size()) return 0;
    int bits = static_cast<int>((modulus.size() - i - 1) * 8);
    for (auto c = static_cast<unsigned char>(modulus[i]); c; c >>= 1) ++bits;
    return bits;
  }
  return 0;
}

}  // namespace

HostKeyFingerprint ParseFingerprint(const std::string& stored) {
  HostKeyFingerprint fp;
  std::string last(text::TrimBlanks(stored));
  const size_t blank = last.find_last_of(" \t");
  if (blank != std::string::npos) last = last.substr(blank + 1);
  std::string body = last;
  const std::string lower = text::LowerAscii(last);
  if (lower.rfind("md5:", 0) == 0) body = last.substr(4);
  if (lower.rfind("sha256:", 0) == 0) body = last.substr(7);
  // MD5: 16 hex pairs joined by ":".
  if (body.size() == 47) {
    std::string hex;
    bool ok = true;
    for (size_t i = 0; i < body.size() && ok; ++i) {
      if (i % 3 == 2) {
        ok = body[i] == ':';
      } else {
        ok = std::isxdigit(static_cast<unsigned char>(body[i])) != 0;
        hex += static_cast<char>(std::tolower(static_cast<unsigned char>(body[i])));
      }
    }
    if (ok) {
      fp.kind = HostKeyFingerprint::kMd5;
      fp.value = hex;
      return fp;
    }
  }
  std::string raw;
  if (Base64Decode(body, raw) && raw.size() == 32) {
    fp.kind = HostKeyFingerprint::kSha256;
    fp.value = Base64Encode(raw, false);
  }
  return fp;
}

std::string FingerprintOfKey(const std::string& blob) {
  size_t at = 0;
  const std::string type = ReadSshString(blob, at);
  return (type.empty() ? std::string("ssh") : type) + " " + std::to_string(KeyBits(type, blob)) +
         " " + Base64Encode(Sha256(blob), false);
}

bool KeyMatches(const HostKeyFingerprint& expected, const std::string& blob) {
  if (expected.kind == HostKeyFingerprint::kSha256)
    return Base64Encode(Sha256(blob), false) == expected.value;
  return true;
}

}  // namespace fern::services
