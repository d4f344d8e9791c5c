// SPDX-License-Identifier: GPL-3.0-or-later
// known_hosts as OpenSSH writes and users keep it: markers, patterns, hashed names, long lines,
// CR LF, and files that are not files.

#include "publish/base64.h"
#include "publish/known_hosts.h"


#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace {

HostKey Key(const std::string& type, char fill) {
  std::string blob = {0, 0, 0, static_cast<char>(type.size())};
  blob += type;
  blob += std::string({0, 0, 0, 32}) + std::string(32, fill);
  return {type, blob};
}

std::string Line(const std::string& hosts, const HostKey& key) {
  return hosts + " " + key.type + " " + EncodeBase64(key.blob);
}

std::string HashedName(const std::string& host) {
  const std::string salt(20, 's');
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  HMAC(EVP_sha1(), salt.data(), static_cast<int>(salt.size()), reinterpret_cast<const unsigned char*>(host.data()),
       host.size(), digest, &size);
  return "|1|" + EncodeBase64(salt) + "|" + EncodeBase64(std::string(reinterpret_cast<char*>(digest), size));
}

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

TEST(KnownHosts, MarkersPatternsHashedNamesLongLinesAndCrLf) {
  TempDir dir;
  const HostKey k1 = Key("ssh-ed25519", 'a'), k2 = Key("ssh-ed25519", 'b'), revoked = Key("ssh-ed25519", 'r');
  const HostKey ca = Key("ssh-ed25519", 'c'), ecdsa = Key("ecdsa-sha2-nistp256", 'e');
  const std::string file = "# a comment\r\n" + Line("junk.example", Key("ssh-ed25519", 'j')) + std::string(10000, 'A') +
                           "\n" + "@cert-authority * " + Line("", ca).substr(1) + "\n" +
                           "@revoked [rev.example]:2222 " + Line("", k1).substr(1) + "\n" +
                           "@revoked * " + Line("", revoked).substr(1) + "\n" +
                           Line("known.example,!bad.example", k1) + "\r\n" + Line("*.wild.example", k1) + "\n" +
                           Line(HashedName("hashed.example"), k1) + "\n" + Line("ecdsa.example", ecdsa) + "\n" +
                           "@unknown-marker x.example " + Line("", k1).substr(1) + "\n" + "broken line\n";
  Write(dir.File("known_hosts"), file);
  KnownHosts known;
  ASSERT_TRUE(known.Load(dir.File("known_hosts")).ok);
  const struct {
    const char* host;
    HostKey key;
    HostKeyVerdict verdict;
  } cases[] = {
      {"known.example", k1, HostKeyVerdict::kKnown},  // after a 10 KB line, on a CR LF line
      {"KNOWN.Example", k1, HostKeyVerdict::kKnown},
      {"known.example", k2, HostKeyVerdict::kChanged},
      {"bad.example", k1, HostKeyVerdict::kUnknown},
      {"a.wild.example", k1, HostKeyVerdict::kKnown},
      {"hashed.example", k1, HostKeyVerdict::kKnown},
      {"hashed.example", k2, HostKeyVerdict::kChanged},
      {"[rev.example]:2222", k1, HostKeyVerdict::kRevoked},
      {"known.example", revoked, HostKeyVerdict::kRevoked},
      {"ca.example", ca, HostKeyVerdict::kUnknown},  // a CA's key does not make a host known
      {"ecdsa.example", k1, HostKeyVerdict::kOtherType},
      {"x.example", k1, HostKeyVerdict::kUnknown},
  };
  for (const auto& c : cases) EXPECT_EQ(known.Check(c.host, c.key), c.verdict) << c.host;
  EXPECT_EQ(known.TypesFor("ecdsa.example"), std::vector<std::string>{"ecdsa-sha2-nistp256"});

  // Recorded at the end of a file whose last line has no line end: on a line of its own, once.
  ASSERT_TRUE(KnownHosts::Record(dir.File("known_hosts"), "[new.example]:22001", k2).ok);
  ASSERT_TRUE(known.Load(dir.File("known_hosts")).ok);
  EXPECT_EQ(known.Check("[new.example]:22001", k2), HostKeyVerdict::kKnown);
  EXPECT_EQ(known.Check("x.example", k1), HostKeyVerdict::kUnknown);
}

// What cannot be read whole is an error, never an empty file that makes every host "new"; and
// nothing blocks.
TEST(KnownHosts, FilesThatCannotBeReadWholeAreRefused) {
  TempDir dir;
  KnownHosts known;
  EXPECT_TRUE(known.Load(dir.File("missing")).ok);
  ASSERT_TRUE(MakeFifo(dir.File("fifo")));
  EXPECT_FALSE(known.Load(dir.File("fifo")).ok);
  EXPECT_FALSE(KnownHosts::Record(dir.File("fifo"), "h", Key("ssh-ed25519", 'a')).ok);
  EXPECT_FALSE(known.Load(kDeviceFile).ok);
  EXPECT_FALSE(KnownHosts::Record(kDeviceFile, "h", Key("ssh-ed25519", 'a')).ok);
  Write(dir.File("huge"), "");
  std::filesystem::resize_file(dir.File("huge"), KnownHosts::kLargestFile + 1);
  EXPECT_FALSE(known.Load(dir.File("huge")).ok);
}

}  // namespace
