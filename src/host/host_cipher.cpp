#include "host/host_cipher.h"

#include <vector>

namespace fern::host {
namespace {

constexpr uint8_t kChainStart = 0x5A;
constexpr char kTag[2] = {'F', 'D'};

class KeyStream {
 public:
  explicit KeyStream(int32_t key) : s_(static_cast<uint32_t>(key)) {}
  uint8_t Next() {
    s_ = s_ * 1664525u + 1013904223u;
    return static_cast<uint8_t>(s_ >> 24);
  }

 private:
  uint32_t s_;
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string Encipher(std::string_view plain, int32_t key) {
  std::vector<uint8_t> bytes{static_cast<uint8_t>(kTag[0]), static_cast<uint8_t>(kTag[1])};
  uint8_t sum = 0;
  for (char c : plain) {
    bytes.push_back(static_cast<uint8_t>(c));
    sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
  }
  bytes.push_back(sum);

  static const char* hex = "0123456789ABCDEF";
  KeyStream ks(key);
  uint8_t prev = kChainStart;
  std::string out;
  out.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    uint8_t e = static_cast<uint8_t>(b ^ ks.Next() ^ prev);
    out += hex[e >> 4];
    out += hex[e & 0x0F];
    prev = e;
  }
  return out;
}

std::string Decipher(std::string_view enciphered, int32_t key) {
  if (enciphered.size() < 6 || enciphered.size() % 2 != 0) return {};
  KeyStream ks(key);
  uint8_t prev = kChainStart;
  std::vector<uint8_t> bytes;
  bytes.reserve(enciphered.size() / 2);
  for (size_t i = 0; i < enciphered.size(); i += 2) {
    int hi = HexDigit(enciphered[i]), lo = HexDigit(enciphered[i + 1]);
    if (hi < 0 || lo < 0) return {};
    auto e = static_cast<uint8_t>(hi * 16 + lo);
    bytes.push_back(static_cast<uint8_t>(e ^ ks.Next() ^ prev));
    prev = e;
  }
  if (bytes[0] != static_cast<uint8_t>(kTag[0]) || bytes[1] != static_cast<uint8_t>(kTag[1]))
    return {};
  uint8_t sum = 0;
  std::string plain;
  for (size_t i = 2; i + 1 < bytes.size(); ++i) {
    plain += static_cast<char>(bytes[i]);
    sum = static_cast<uint8_t>(sum + bytes[i]);
  }
  if (sum != bytes.back()) return {};
  return plain;
}

}  // namespace fern::host
