#include "publish/ftp_address.h"

#include <gtest/gtest.h>

TEST(FtpAddress, SchemesHostsAndPorts) {
  const struct {
    const char* server;
    FtpSecurity security;
    const char* url;
  } cases[] = {
      {"ftp.example.net", FtpSecurity::kPlain, "ftp://ftp.example.net/"},
      {"ftp.example.net:2121", FtpSecurity::kPlain, "ftp://ftp.example.net:2121/"},
      {"FTP://host/", FtpSecurity::kPlain, "ftp://host/"},
      {"ftpes://host:21", FtpSecurity::kExplicit, "ftp://host:21/"},
      {"ftps://host", FtpSecurity::kImplicit, "ftps://host/"},
      {"[::1]:2121", FtpSecurity::kPlain, "ftp://[::1]:2121/"},
      {"", FtpSecurity::kPlain, "ftp:///"},
  };
  for (const auto& c : cases) {
    const auto address = ParseFtpAddress(c.server);
    ASSERT_TRUE(address) << c.server;
    EXPECT_EQ(address->security, c.security) << c.server;
    EXPECT_EQ(address->BaseUrl(), c.url) << c.server;
  }
  for (const char* refused : {"http://host", "scp://host", "host/dir", "user:pw@host", "host?x"})
    EXPECT_FALSE(ParseFtpAddress(refused)) << refused;
  const struct {
    const char* server;
    const char* host;
    int port;
  } sftp[] = {{"sftp://web.example.net", "web.example.net", 0}, {"SFTP://host:2222/", "host", 2222},
              {"sftp://[::1]:22", "::1", 22}, {"sftp://host:99999", "host", -1}, {"sftp://host:x", "host", -1}};
  for (const auto& c : sftp) {
    const auto address = ParseFtpAddress(c.server);
    ASSERT_TRUE(address) << c.server;
    EXPECT_EQ(address->security, FtpSecurity::kSftp) << c.server;
    EXPECT_EQ(address->Host(), c.host) << c.server;
    EXPECT_EQ(address->Port(), c.port) << c.server;
  }
}

TEST(FtpAddress, UnsafeCharacters) {
  EXPECT_FALSE(HasUnsafeCharacters("pass word!"));
  EXPECT_TRUE(HasUnsafeCharacters("pw\r\nDELE x"));
  EXPECT_TRUE(HasUnsafeCharacters("pw\n"));
  EXPECT_TRUE(HasUnsafeCharacters(std::string("pw\0x", 4)));
}
