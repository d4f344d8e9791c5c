// SPDX-License-Identifier: GPL-3.0-or-later
// The SFTP reply parser against damaged replies, through canned bytes instead of a server: each
// damage gives its exact error, and a session out of step stays so without waiting again.

#include "publish/sftp_wire.h"

#include <gtest/gtest.h>

#include "tests/support/canned_channel.h"

namespace {

std::string U32(uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
          static_cast<char>(value)};
}
std::string Str(const std::string& text) { return U32(static_cast<uint32_t>(text.size())) + text; }
std::string Framed(const std::string& packet) { return U32(static_cast<uint32_t>(packet.size())) + packet; }
std::string Reply(uint8_t type, uint32_t id, const std::string& body) {
  return Framed(std::string(1, static_cast<char>(type)) + U32(id) + body);
}
const std::string kVersion3 = Framed("\x02" + U32(3) + Str("posix-rename@openssh.com") + Str("1"));

SftpWire::Clock::time_point Soon() { return SftpWire::Clock::now() + std::chrono::seconds(1); }

TEST(SftpWire, EachDamagedReplyGivesItsExactError) {
  const struct {
    const char* damage;
    std::string reply;  // to a STAT, the session's first request (id 1)
    int32_t number;
    const char* reason;
  } cases[] = {
      {"cut short", U32(40) + "\x69" + U32(1), 56, "the connection ended"},
      {"length 0", U32(0), 56, "a reply of length 0"},
      {"length 2^32-1", U32(0xFFFFFFFF) + "\x69", 56, "a reply longer than 262144 bytes"},
      {"a type and nothing else", Framed("\x69"), 56, "a malformed reply"},
      {"size flag without the size", Reply(105, 1, U32(1) + std::string(3, '\0')), 56, "a malformed reply"},
      {"another request's id", Reply(105, 7, U32(0)), 56, "a reply to another request"},
      {"an unknown type", Reply(99, 1, ""), 56, "an unexpected reply of type 99"},
      {"a status where attributes belong", Reply(101, 1, U32(0)), 56, "an unexpected reply of type 101"},
      {"status out of range", Reply(101, 1, U32(1000)), 451, "the server refused: status 1000"},
      {"no such file", Reply(101, 1, U32(2)), 550, "no such file"},
      {"quota", Reply(101, 1, U32(15)), 552, "quota exceeded"},
  };
  for (const auto& c : cases) {
    CannedChannel channel(kVersion3 + c.reply);
    SftpWire wire(channel);
    ASSERT_TRUE(wire.Start(Soon()).ok) << c.damage;
    SftpWire::Attributes attributes;
    const Outcome stat = wire.Stat("/homepage", Soon(), attributes);
    EXPECT_FALSE(stat.ok) << c.damage;
    EXPECT_EQ(stat.number, c.number) << c.damage;
    EXPECT_EQ(stat.reason, c.reason) << c.damage;
    // A refusal leaves the session usable; anything else puts it out of step for good, and the
    // next request fails at once with the same error instead of waiting for a reply.
    const Outcome next = wire.Remove("/homepage/x", Soon());
    const std::string expected = stat.code == Outcome::Code::kRefused ? "the connection ended" : stat.reason;
    EXPECT_EQ(next.reason, expected) << c.damage;
  }

  // A string whose length runs past the packet, in the reply to REALPATH.
  CannedChannel channel(kVersion3 + Reply(104, 1, U32(1) + U32(1000) + "/ho"));
  SftpWire wire(channel);
  ASSERT_TRUE(wire.Start(Soon()).ok);
  std::string resolved;
  EXPECT_EQ(wire.RealPath(".", Soon(), resolved).reason, "a malformed reply");
}

TEST(SftpWire, VersionsAndAbsurdExtensions) {
  const struct {
    std::string reply;
    bool ok;
    const char* reason;
  } cases[] = {
      {Framed("\x02" + U32(3) + U32(0xFFFFFFFF) + "posix"), true, ""},  // an extension past the end: none offered
      {Framed("\x02" + U32(3) + Str("a") + Str("1") + Str("posix-rename@openssh.com")), true, ""},  // no version
      {Framed("\x02" + U32(2)), false, "SFTP version 2 is too old"},
      {Framed(std::string("\x02\x00", 2)), false, "a malformed reply"},
      {Reply(101, 0, U32(0)), false, "an unexpected reply of type 101"},
  };
  for (const auto& c : cases) {
    CannedChannel channel(c.reply);
    SftpWire wire(channel);
    const Outcome started = wire.Start(Soon());
    EXPECT_EQ(started.ok, c.ok) << started.reason;
    if (!c.ok) {
      EXPECT_EQ(started.reason, c.reason);
    }
    EXPECT_FALSE(wire.Offers("posix-rename@openssh.com"));
  }
}

}  // namespace
