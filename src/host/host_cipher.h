// The password cipher of the host components (`cUtil.Decrypt`, `cCryptUtil.dechiffre`).
//
// Scheme: the bytes are the tag "FD", the UTF-8 plain text, and a check byte (the sum of the
// plain bytes modulo 256). A keystream comes from a 32-bit linear congruential generator seeded
// with the key (s = s * 1664525 + 1013904223; each step gives the top byte of s). Each byte is
// combined with its keystream byte and with the previous enciphered byte (0x5A before the first):
// e[i] = b[i] ^ ks[i] ^ e[i-1]. The enciphered text is the bytes as upper-case hexadecimal pairs.
// A text that is no hex, carries another tag or fails the check deciphers to "" (a wrong key or a
// password enciphered by another program), which lets callers fall back to the other key.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace fern::host {

// The fixed key that the exporters hand to `Decrypt` for portal and web-database passwords.
inline constexpr int32_t kPortalPasswordKey = 47260518;
// The fixed six-digit key that the REST client hands to `dechiffre` for users' passwords.
inline constexpr int32_t kUserPasswordKey = 604381;

std::string Encipher(std::string_view plain, int32_t key);
// "" for an empty text and for anything that does not decipher under this key.
std::string Decipher(std::string_view enciphered, int32_t key);

}  // namespace fern::host
