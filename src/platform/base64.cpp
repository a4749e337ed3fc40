#include "platform/base64.h"

#include <cstdint>

namespace fern {

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}

std::string Base64Encode(std::string_view bytes, bool pad) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  auto byte = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])); };
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t n = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
    out += kAlphabet[n >> 18 & 63];
    out += kAlphabet[n >> 12 & 63];
    out += kAlphabet[n >> 6 & 63];
    out += kAlphabet[n & 63];
  }
  const size_t rest = bytes.size() - i;
  if (rest) {
    uint32_t n = byte(i) << 16;
    if (rest == 2) n |= byte(i + 1) << 8;
    out += kAlphabet[n >> 18 & 63];
    out += kAlphabet[n >> 12 & 63];
    if (rest == 2) out += kAlphabet[n >> 6 & 63];
    if (pad) out.append(rest == 2 ? 1 : 2, '=');
  }
  return out;
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool Base64Decode(std::string_view text, std::string& out) {
  while (!text.empty() && text.back() == '=') text.remove_suffix(1);
  out.clear();
  unsigned buffer = 0;
  int bits = 0;
  for (char c : text) {
    const int v = Base64Value(c);
    if (v < 0) return false;
    buffer = (buffer << 6) | static_cast<unsigned>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((buffer >> bits) & 0xFF);
    }
  }
  return true;
}

}  // namespace fern
