#include "host/cCryptUtil.h"

#include "host/host_args.h"
#include "host/host_cipher.h"

namespace fern {

std::string cCryptUtil::dechiffre(const std::string& stored, int32_t key) const {
  return host::Decipher(stored, key);
}

std::string cCryptUtil::chiffre(const std::string& plain, int32_t key) const {
  return host::Encipher(plain, key);
}

Variant cCryptUtil::Invoke(std::string_view name, unsigned, std::span<Variant> args) {
  if (NameIs(name, "dechiffre")) {
    CheckArgCount(args, 2, 2, name);
    return Variant(dechiffre(host::ArgStr(args, 0), host::ArgLong(args, 1)));
  }
  if (NameIs(name, "chiffre")) {
    CheckArgCount(args, 2, 2, name);
    return Variant(chiffre(host::ArgStr(args, 0), host::ArgLong(args, 1)));
  }
  ThrowNoMember(name);
}

}  // namespace fern
