// Publishing by SFTP against OpenSSH's sshd (started by the tests, keys of their own) and, for
// password logins, an asyncssh server.

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>


#include <gtest/gtest.h>

#include "base/utf8_path.h"
#include "publish/ftp_client.h"
#include "publish/ftp_errors.h"
#include "tests/support/files.h"
#include "tests/support/server_process.h"
#include "tests/support/ssh_server.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> Picture(size_t size, uint8_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 13 + seed + (i >> 9));
  return bytes;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  return text;
}

class SftpTest : public ::testing::Test {
 protected:
  SftpTest() {
    fs::create_directories(homepage_);
    WriteBytes(local_, Picture(30000, 1));
  }
  // A client that keeps its known_hosts here and logs in with the server's authorized key.
  void Trusting(FtpClient& client, const OpenSshServer& server) {
    client.SetSshFilesForTesting(known_hosts_, server.client_ssh_dir());
  }
  bool Start(FtpClient& client, const OpenSshServer& server) {
    return client.FtpConnect(server.address(), OpenSshServer::User(), "") == -1 && client.FtpSetCD(remote_homepage_) == -1;
  }

  TempDir dir_;
  std::string homepage_ = dir_.File("site/homepage");
  std::string remote_homepage_ = ShellPath(homepage_);  // as the server on this machine names it
  std::string local_ = dir_.File("live2.jpg");
  std::string known_hosts_ = dir_.File("known_hosts");

  // Uploads `video` into night/ under bounds that double until one cuts it in the middle, however
  // fast this machine is now; the size of the part left on the server, or 0 where none is left.
  uintmax_t LeaveAPart(FtpClient& client, const OpenSshServer& server, const std::string& video, uintmax_t size) {
    const std::string part = homepage_ + "/night/.video.mp4.part";
    uintmax_t held = 0;
    for (int ms = 25; ms <= 3200 && (held == 0 || held == size); ms *= 2) {
      client.LimitCallsTo(std::chrono::steady_clock::time_point::max());  // the last round's bound is past
      if (!Start(client, server)) return 0;
      client.LimitCallsTo(std::chrono::steady_clock::now() + std::chrono::milliseconds(ms));
      if (client.FtpPutBinInto(remote_homepage_ + "/night", video, "video.mp4") == -1) fs::remove(homepage_ + "/night/video.mp4");
      std::error_code error;
      held = fs::file_size(part, error);
      if (error) held = 0;
    }
    return client.LeftUnfinished() ? held : 0;
  }
};

// One login serves every upload; each lands whole under its name, replaced in one step, and a
// watcher of the published name never sees it short or missing. The host, new to the station,
// is recorded as OpenSSH records a host on another port. The key is found in a folder whose name no
// ANSI code page holds whole, as in an observer's profile on Windows.
TEST_F(SftpTest, OneLoginServesManyUploadsAndThePictureIsNeverMissing) {
  OpenSshServer server(dir_.path().string());
  const std::string keys = dir_.File("\xc5\x81ukasz \xe8\xa6\xb3\xe6\xb8\xac");  // Łukasz 観測
  fs::create_directories(Utf8Path(keys));
  fs::copy_file(Utf8Path(server.client_ssh_dir() + "/id_ed25519"), Utf8Path(keys + "/id_ed25519"));
  FtpClient client;
  client.SetSshFilesForTesting(known_hosts_, keys);
  ASSERT_TRUE(Start(client, server)) << client.FtpGetLastError() << "\n" << server.log();
  const std::string known = [&] {
    const std::vector<uint8_t> bytes = ReadBytes(known_hosts_);
    return std::string(bytes.begin(), bytes.end());
  }();
  EXPECT_EQ(known.rfind("[127.0.0.1]:" + std::to_string(server.port()) + " ssh-ed25519 ", 0), 0u) << known;
  EXPECT_NE(Joined(client.TakeNotes()).find("seen for the first time"), std::string::npos);

  for (int cycle = 0; cycle < 50; ++cycle) {
    const std::vector<uint8_t> picture = Picture(20000 + cycle * 101, static_cast<uint8_t>(cycle));
    WriteBytes(local_, picture);
    ASSERT_EQ(client.FtpPutBin(local_, "live2.jpg"), -1) << cycle << ": " << client.FtpGetLastError();
    ASSERT_EQ(ReadBytes(homepage_ + "/live2.jpg"), picture) << cycle;
  }

  const std::vector<uint8_t> a = Picture(3'000'000, 1), b = Picture(4'000'000, 2);
  WriteBytes(local_, a);
  ASSERT_EQ(client.FtpPutBin(local_, "live2.jpg"), -1) << client.FtpGetLastError();
  std::atomic<bool> done{false};
  std::atomic<int> reads{0}, bad{0};
  std::thread watcher([&] {
    while (!done) {
      try {
        const std::vector<uint8_t> seen = ReadBytes(homepage_ + "/live2.jpg");
        ++reads;
        if (seen.size() != a.size() && seen.size() != b.size()) ++bad;
      } catch (...) {
        ++bad;  // missing
      }
    }
  });
  for (int i = 0; i < 6 || (reads <= 5 && i < 200); ++i) {
    WriteBytes(local_, i % 2 ? a : b);
    ASSERT_EQ(client.FtpPutBin(local_, "live2.jpg"), -1) << client.FtpGetLastError();
  }
  done = true;
  watcher.join();
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(server.Count("Accepted publickey"), 1) << server.log();
  EXPECT_NE(Joined(client.TakeNotes()).find("posix-rename"), std::string::npos) << "replaced in one step";
  EXPECT_FALSE(fs::exists(homepage_ + "/.live2.jpg.part"));
  EXPECT_EQ(client.FtpDisconnect(), -1);
}

// A key the server does not know is refused with 530. A host whose key changed is refused with
// 906 before any credential is sent: the server logs no login attempt at all.
TEST_F(SftpTest, AWrongKeyAndAChangedHostKeyAreRefused) {
  OpenSshServer server(dir_.path().string());
  fs::create_directories(dir_.File("stranger"));
  RunCommand("ssh-keygen -q -t ed25519 -N '' -f " + ShellQuote(dir_.File("stranger/id_ed25519")) + " >/dev/null 2>&1");
  FtpClient stranger;
  stranger.SetSshFilesForTesting(known_hosts_, dir_.File("stranger"));
  EXPECT_EQ(stranger.FtpConnect(server.address(), OpenSshServer::User(), ""), 0);
  EXPECT_EQ(stranger.FtpGetLastError(), 530);

  server.Restart(true);  // the same address, another host key
  const int attempts_before = server.Count("Failed") + server.Count("Accepted") + server.Count("Postponed");
  FtpClient client;
  Trusting(client, server);
  EXPECT_EQ(client.FtpConnect(server.address(), OpenSshServer::User(), ""), 0);
  EXPECT_EQ(client.FtpGetLastError(), ftp_error::kHostKeyChanged);
  EXPECT_NE(Joined(client.TakeNotes()).find("differs"), std::string::npos);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the server's last log lines
  EXPECT_EQ(server.Count("Failed") + server.Count("Accepted") + server.Count("Postponed"), attempts_before)
      << server.log();
}

// Whatever known_hosts says against the host, or cannot say, ends before any credential: a key
// marked @revoked (908), a host recorded only with a key of another type (906, and the note says
// which), a known_hosts that is a FIFO (907, at once, not waiting for a writer).
TEST_F(SftpTest, RevokedKeysOtherKeyTypesAndUnreadableKnownHostsAreRefusedBeforeLogin) {
  OpenSshServer server(dir_.path().string());
  const std::string host = "[127.0.0.1]:" + std::to_string(server.port());
  std::string recorded_key;  // the server's key as "type base64"
  {
    FtpClient first;
    Trusting(first, server);
    ASSERT_TRUE(Start(first, server)) << first.FtpGetLastError();
    const std::vector<uint8_t> bytes = ReadBytes(known_hosts_);
    recorded_key = std::string(bytes.begin(), bytes.end()).substr(host.size() + 1);
  }
  const int logins = server.Count("Accepted publickey");
  const auto refused = [&](const std::string& known_hosts, int32_t error, const char* note) {
    WriteBytes(known_hosts_, {known_hosts.begin(), known_hosts.end()});
    FtpClient client;
    Trusting(client, server);
    EXPECT_EQ(client.FtpConnect(server.address(), OpenSshServer::User(), ""), 0) << known_hosts;
    EXPECT_EQ(client.FtpGetLastError(), error) << known_hosts;
    EXPECT_NE(Joined(client.TakeNotes()).find(note), std::string::npos) << known_hosts;
  };
  refused("@revoked " + host + " " + recorded_key, ftp_error::kHostKeyRevoked, "revoked");
  refused(host + " " + recorded_key + "@revoked * " + recorded_key, ftp_error::kHostKeyRevoked, "revoked");
  refused(host + " ecdsa-sha2-nistp256 AAAAE2VjZHNhLXNoYTItbmlzdHAyNTYAAAAIbmlzdHAyNTYAAABBBA==\n",
          ftp_error::kHostKeyChanged, "another type than the recorded one");
  fs::remove(known_hosts_);
  ASSERT_TRUE(MakeFifo(known_hosts_));
  FtpClient client;
  Trusting(client, server);
  EXPECT_EQ(client.FtpConnect(server.address(), OpenSshServer::User(), ""), 0);
  EXPECT_EQ(client.FtpGetLastError(), ftp_error::kKnownHostsUnusable);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the server's last log lines
  EXPECT_EQ(server.Count("Accepted publickey"), logins) << server.log();
}

// A link planted at the temporary name is removed and the upload made anew, never written
// through to the file the link points to.
TEST_F(SftpTest, ALinkAtTheTemporaryNameIsNotWrittenThrough) {
  OpenSshServer server(dir_.path().string());
  WriteBytes(dir_.File("secret.txt"), {'k', 'e', 'e', 'p'});
  ASSERT_TRUE(MakeLink(dir_.File("secret.txt"), homepage_ + "/.live2.jpg.part"));
  FtpClient client;
  Trusting(client, server);
  ASSERT_TRUE(Start(client, server)) << client.FtpGetLastError();
  ASSERT_EQ(client.FtpPutBin(local_, "live2.jpg"), -1) << client.FtpGetLastError();
  EXPECT_EQ(ReadBytes(dir_.File("secret.txt")), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
  EXPECT_FALSE(fs::is_symlink(homepage_ + "/live2.jpg"));
  EXPECT_EQ(ReadBytes(homepage_ + "/live2.jpg"), ReadBytes(local_));
}

// The server goes away and comes back between two cycles: the next upload logs in again.
TEST_F(SftpTest, ServerRestartedBetweenUploadsIsLoggedIntoAgain) {
  OpenSshServer server(dir_.path().string());
  FtpClient client;
  Trusting(client, server);
  ASSERT_TRUE(Start(client, server)) << client.FtpGetLastError();
  ASSERT_EQ(client.FtpPutBin(local_, "live2.jpg"), -1);
  server.Restart();
  WriteBytes(local_, Picture(25000, 9));
  ASSERT_EQ(client.FtpPutBin(local_, "live2.jpg"), -1) << client.FtpGetLastError();
  EXPECT_EQ(ReadBytes(homepage_ + "/live2.jpg"), ReadBytes(local_));
  EXPECT_EQ(server.Count("Accepted publickey"), 2);
}

// A server that stops answering in the middle of the session: the upload fails with 28 after the
// stall bound (scaled down to 2 s), and the next one, once the server answers again, goes through.
TEST_F(SftpTest, AStalledSessionFailsWithinTheStallBound) {
  OpenSshServer server(dir_.path().string());
  FtpClient client(FtpTimeouts{std::chrono::seconds(2), std::chrono::seconds(2), std::chrono::seconds(6)});
  Trusting(client, server);
  ASSERT_TRUE(Start(client, server)) << client.FtpGetLastError();
  server.FreezeConnections(true);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(client.FtpPutBin(local_, "live2.jpg"), 0);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  server.FreezeConnections(false);
  EXPECT_EQ(client.FtpGetLastError(), 28);
  EXPECT_LT(seconds, 2 + 1.0);
  EXPECT_EQ(client.FtpPutBin(local_, "live2.jpg"), -1) << client.FtpGetLastError();
  EXPECT_EQ(ReadBytes(homepage_ + "/live2.jpg"), ReadBytes(local_));
}

TEST_F(SftpTest, ASilentListenerFailsWithinTheConnectBound) {
  SilentListener listener;  // the kernel accepts; no server ever greets
  FtpClient client(FtpTimeouts{std::chrono::seconds(2), std::chrono::seconds(2), std::chrono::seconds(5)});
  client.SetSshFilesForTesting(known_hosts_, dir_.File("no-keys"));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(client.FtpConnect("sftp://127.0.0.1:" + std::to_string(listener.port()), "a", "b"), 0);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 3.5);
  EXPECT_EQ(client.FtpGetLastError(), 28);
}

// Password logins, against a second SSH implementation that takes its password from the test.
TEST_F(SftpTest, PasswordLoginsUploadAndAWrongPasswordGives530) {
  PasswordSftpServer server(dir_.File("site"), "observer", "s3cret pass");
  FtpClient wrong;
  wrong.SetSshFilesForTesting(known_hosts_, dir_.File("no-keys"));
  EXPECT_EQ(wrong.FtpConnect(server.address(), "observer", "nope"), 0);
  EXPECT_EQ(wrong.FtpGetLastError(), 530);

  FtpClient client;
  client.SetSshFilesForTesting(known_hosts_, dir_.File("no-keys"));
  ASSERT_EQ(client.FtpConnect(server.address(), "observer", "s3cret pass"), -1) << client.FtpGetLastError();
  ASSERT_EQ(client.FtpSetCD("/homepage"), -1) << client.FtpGetLastError();
  for (uint8_t i = 0; i < 3; ++i) {
    WriteBytes(local_, Picture(12000 + i, i));
    ASSERT_EQ(client.FtpPutBin(local_, "live2.jpg"), -1) << client.FtpGetLastError();
    EXPECT_EQ(ReadBytes(homepage_ + "/live2.jpg"), ReadBytes(local_));
  }
  EXPECT_EQ(client.FtpSetCD("/missing"), 0);
  EXPECT_EQ(client.FtpGetLastError(), 550);
  EXPECT_EQ(server.Count("LOGIN observer"), 1);

  // A host that asks for the password at a keyboard-interactive prompt only (PAM) gets it there.
  fs::create_directories(dir_.File("pam/site"));
  PasswordSftpServer pam(dir_.File("pam/site"), "observer", "s3cret pass", true);
  FtpClient prompted;
  prompted.SetSshFilesForTesting(known_hosts_, dir_.File("no-keys"));
  ASSERT_EQ(prompted.FtpConnect(pam.address(), "observer", "s3cret pass"), -1) << prompted.FtpGetLastError();
  EXPECT_EQ(pam.Count("LOGIN observer"), 1);
}

}  // namespace

namespace {

// A large file whose time ran out is continued where the server's part of it ends, and lands
// whole: each piece at its own offset.
TEST_F(SftpTest, AnUploadWhoseTimeRanOutGoesOnWhereItStopped) {
  OpenSshServer server(dir_.path().string());
  FtpClient client;
  Trusting(client, server);
  const std::string video = dir_.File("video.mp4");
  const std::vector<uint8_t> bytes = Picture(64 << 20, 3);
  WriteBytes(video, bytes);
  ASSERT_GT(LeaveAPart(client, server, video, bytes.size()), 0u) << server.log();
  ASSERT_TRUE(client.LeftUnfinished());
  client.LimitCallsTo(std::chrono::steady_clock::time_point::max());
  ASSERT_EQ(client.FtpPutBinInto(remote_homepage_ + "/night", video, "video.mp4"), -1) << client.FtpGetLastError();
  EXPECT_EQ(ReadBytes(homepage_ + "/night/video.mp4"), bytes);
  EXPECT_EQ(client.FtpDeleteIn(remote_homepage_ + "/night", "video.mp4"), -1) << client.FtpGetLastError();
  EXPECT_FALSE(fs::exists(homepage_ + "/night/video.mp4"));
  EXPECT_EQ(client.FtpDeleteIn(remote_homepage_ + "/night", "video.mp4"), 0);
  EXPECT_EQ(client.FtpGetLastError(), 550);
}

// A part is continued only while it is still what was sent. Continued, it grows in place (a
// second name of it grows too); a part whose bytes were changed on the server, or a link put in
// its place, is started afresh, and the file linked to stays as it was.
TEST_F(SftpTest, OnlyAnUnchangedPlainPartIsContinued) {
  OpenSshServer server(dir_.path().string());
  FtpClient client;
  Trusting(client, server);
  const std::string video = dir_.File("video.mp4"), part = homepage_ + "/night/.video.mp4.part";
  const std::vector<uint8_t> bytes = Picture(64 << 20, 5);
  WriteBytes(video, bytes);
  const auto leave_a_part = [&] { return LeaveAPart(client, server, video, bytes.size()); };
  const auto finish = [&] {
    client.LimitCallsTo(std::chrono::steady_clock::time_point::max());
    EXPECT_EQ(client.FtpPutBinInto(remote_homepage_ + "/night", video, "video.mp4"), -1) << client.FtpGetLastError();
    EXPECT_TRUE(ReadBytes(homepage_ + "/night/video.mp4") == bytes);
  };
  const std::string second_name = dir_.File("part-kept");
  ASSERT_GT(leave_a_part(), 0u);
  fs::create_hard_link(part, second_name);
  finish();
  EXPECT_EQ(fs::file_size(second_name), bytes.size()) << "the part was sent again rather than continued";

  const uintmax_t held = leave_a_part();
  ASSERT_GT(held, 0u);
  WriteBytes(part, std::vector<uint8_t>(held, 0));  // the same size, other bytes
  finish();

  ASSERT_GT(leave_a_part(), 0u);
  const std::vector<uint8_t> victim(fs::file_size(part), 'v');
  WriteBytes(dir_.File("victim.txt"), victim);
  fs::remove(part);
  ASSERT_TRUE(MakeLink(dir_.File("victim.txt"), part));
  finish();
  EXPECT_TRUE(ReadBytes(dir_.File("victim.txt")) == victim);
}

}  // namespace
