#include <gtest/gtest.h>

#include "host/cCryptUtil.h"
#include "host/cUtil.h"
#include "host/host_cipher.h"
#include "platform/text.h"

namespace fern {
namespace {

TEST(HostCipher, RoundTripsUnderEachKey) {
  for (const std::string& plain :
       std::vector<std::string>{"", "a", "geheim", "Pa ßwört'\"; €", std::string(300, 'x')}) {
    for (int32_t key : {host::kPortalPasswordKey, host::kUserPasswordKey, 0, -1}) {
      std::string enc = host::Encipher(plain, key);
      EXPECT_EQ(host::Decipher(enc, key), plain) << plain << " / " << key;
      EXPECT_EQ(enc.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    }
  }
}

TEST(HostCipher, WrongKeyOrForeignTextGivesEmpty) {
  std::string enc = host::Encipher("geheim", host::kPortalPasswordKey);
  EXPECT_EQ(host::Decipher(enc, host::kUserPasswordKey), "");
  EXPECT_EQ(host::Decipher("geheim", host::kPortalPasswordKey), "");  // plain text stored
  EXPECT_EQ(host::Decipher("ABC", host::kPortalPasswordKey), "");     // odd length
  EXPECT_EQ(host::Decipher("", host::kPortalPasswordKey), "");
  std::string tampered = enc;
  tampered[6] = tampered[6] == '0' ? '1' : '0';
  EXPECT_EQ(host::Decipher(tampered, host::kPortalPasswordKey), "");
  // Lower-case hex is read as well.
  EXPECT_EQ(host::Decipher(text::LowerAscii(enc), host::kPortalPasswordKey), "geheim");
}

TEST(HostCipher, SameTextDiffersByKey) {
  EXPECT_NE(host::Encipher("geheim", 1), host::Encipher("geheim", 2));
}

TEST(HostCipher, DechiffreFallsBackToDecryptAsTheRestClientDoes) {
  cCryptUtil crypt;
  std::string stored = cUtil::Encrypt("pw", host::kPortalPasswordKey);
  std::string pw = crypt.dechiffre(stored, host::kUserPasswordKey);
  if (pw.empty()) pw = cUtil::Decrypt(stored, host::kPortalPasswordKey);
  EXPECT_EQ(pw, "pw");

  std::vector<Variant> args{Variant(crypt.chiffre("x", host::kUserPasswordKey)),
                            Variant(host::kUserPasswordKey)};
  EXPECT_EQ(crypt.Invoke("DECHIFFRE", kMethod, args).str(), "x");
}

}  // namespace
}  // namespace fern
