// Host-key fingerprints: the forms "sftp.ini" may hold and the one we store.
#include "services/host_key.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/base64.h"
#include "platform/sha256.h"

namespace fern::services {
namespace {

TEST(HostKey, FingerprintFormsAndHash) {
  // Host keys of other types are longer than one hash block.
  EXPECT_EQ(Base64Encode(Sha256("abc"), true), "ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=");
  EXPECT_EQ(Base64Encode(Sha256(std::string(1000, 'a')), true),
            "Qe3s5C1j6Nm/UVqbppMuHCDLyfWl0TRkWttdsblzfqM=");
  const auto md5 = ParseFingerprint("ssh-rsa 2048 0A:1b:2c:3d:4e:5f:60:71:82:93:a4:b5:c6:d7:e8:f9");
  EXPECT_EQ(md5.kind, HostKeyFingerprint::kMd5);
  EXPECT_EQ(md5.value, "0a1b2c3d4e5f60718293a4b5c6d7e8f9");
  const auto sha = ParseFingerprint("SHA256:ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0");
  EXPECT_EQ(sha.kind, HostKeyFingerprint::kSha256);
  EXPECT_EQ(ParseFingerprint("ssh-ed25519 255 ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=").value,
            sha.value);
  EXPECT_EQ(ParseFingerprint("not a fingerprint").kind, HostKeyFingerprint::kNone);
  EXPECT_EQ(ParseFingerprint("ssh-rsa 2048 0a:1b").kind, HostKeyFingerprint::kNone);
}

TEST(HostKey, StoredFormOfAKeyAndItsMatch) {
  // An ed25519 key blob: its type as SSH string, then the 32 key bytes.
  std::string blob = std::string("\0\0\0\x0bssh-ed25519", 15) + std::string("\0\0\0\x20", 4);
  blob += std::string(32, '\x07');
  const std::string stored = FingerprintOfKey(blob);
  EXPECT_EQ(stored.rfind("ssh-ed25519 255 ", 0), 0u) << stored;
  EXPECT_TRUE(KeyMatches(ParseFingerprint(stored), blob));
  EXPECT_FALSE(KeyMatches(ParseFingerprint(stored), blob + "x"));
}

}  // namespace
}  // namespace fern::services
