// The host's decipher object for users' stored passwords (cipher in host_cipher.h).
#pragma once

#include <string>

#include "platform/dispatch.h"

namespace fern {

class cCryptUtil : public Dispatch {
 public:
  // The plain text, or "" when the text was not enciphered with this key.
  std::string dechiffre(const std::string& stored, int32_t key) const;
  // The matching encipher step, for whoever stores a password.
  std::string chiffre(const std::string& plain, int32_t key) const;

  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override { return "cCryptUtil"; }
};

}  // namespace fern
