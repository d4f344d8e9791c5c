// The FTP layer against real servers on 127.0.0.1: pyftpdlib (plain and TLS) and vsftpd.

#include "publish/ftp_client.h"


#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "publish/ftp_errors.h"
#include "tests/support/files.h"
#include "tests/support/server_process.h"
#include "tests/support/temp_dir.h"

namespace {

std::vector<uint8_t> Picture(size_t size, uint8_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 31 + seed + (i >> 8));
  return bytes;
}

class FtpClientTest : public ::testing::Test {
 protected:
  FtpClientTest() {
    std::filesystem::create_directories(root_ + "/homepage");
    WriteBytes(local_, Picture(30000, 1));
  }
  std::string Remote(const std::string& name = "live2.jpg") { return root_ + "/homepage/" + name; }
  bool Start(FtpClient& client, PyFtpServer& server, const std::string& password = "secret") {
    return client.FtpConnect(server.address(), "observer", password) == -1 &&
           client.FtpSetCD("/homepage") == -1;
  }

  TempDir dir_;
  std::string root_ = dir_.File("root");
  std::string local_ = dir_.File("live2.jpg");
};

TEST_F(FtpClientTest, UploadsLandWholeAndOneLoginServesFiftyCycles) {
  PyFtpServer server(root_);
  FtpClient client;
  ASSERT_TRUE(Start(client, server)) << client.FtpGetLastError();
  for (int cycle = 0; cycle < 50; ++cycle) {
    const std::vector<uint8_t> picture = Picture(20000 + cycle * 97, static_cast<uint8_t>(cycle));
    WriteBytes(local_, picture);
    ASSERT_EQ(client.FtpPutBin(local_, "live2.jpg"), -1) << cycle << ": " << client.FtpGetLastError();
    ASSERT_EQ(ReadBytes(Remote()), picture) << cycle;
  }
  EXPECT_EQ(server.Count("LOGIN"), 1) << server.log();
  EXPECT_FALSE(std::filesystem::exists(Remote(".live2.jpg.part")));
  EXPECT_EQ(server.Count("CMD STOR live2.jpg"), 0) << "never written under the final name";
  EXPECT_EQ(client.FtpDisconnect(), -1);
  EXPECT_GE(server.Count("CMD QUIT"), 1);
}

// A link planted at the temporary name (by another user of a shared host) is removed, not
// written through: the file it points to keeps its bytes.
TEST_F(FtpClientTest, ALinkAtTheTemporaryNameIsNotWrittenThrough) {
  WriteBytes(root_ + "/secret.txt", {'k', 'e', 'e', 'p'});
  ASSERT_TRUE(MakeLink(root_ + "/secret.txt", Remote(".live2.jpg.part")));
  PyFtpServer server(root_);
  FtpClient client;
  ASSERT_TRUE(Start(client, server)) << client.FtpGetLastError();
  ASSERT_EQ(client.FtpPutBin(local_, "live2.jpg"), -1) << client.FtpGetLastError();
  EXPECT_EQ(ReadBytes(root_ + "/secret.txt"), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
  EXPECT_FALSE(std::filesystem::is_symlink(Remote()));
  EXPECT_EQ(ReadBytes(Remote()), ReadBytes(local_));
}

TEST_F(FtpClientTest, WrongPasswordGives530AndEveryLaterCallSaysSo) {
  PyFtpServer server(root_);
  FtpClient client;
  EXPECT_EQ(client.FtpConnect(server.address(), "observer", "wrong"), 0);
  EXPECT_EQ(client.FtpGetLastError(), 530);
  EXPECT_EQ(client.FtpSetCD("/homepage"), 0);
  EXPECT_EQ(client.FtpGetLastError(), 530);
  EXPECT_EQ(client.FtpPutBin(local_, "live2.jpg"), 0);
  EXPECT_EQ(client.FtpGetLastError(), 530);
  EXPECT_EQ(server.Count("CMD STOR"), 0);
  EXPECT_EQ(client.FtpDisconnect(), -1);
  EXPECT_EQ(client.FtpPutBin(local_, "live2.jpg"), 0);
  EXPECT_EQ(client.FtpGetLastError(), ftp_error::kNotConnected);
}

TEST_F(FtpClientTest, MissingDirectoryGives550AndUploadsStayWhereTheSessionIs) {
  PyFtpServer server(root_);
  FtpClient client;
  ASSERT_EQ(client.FtpConnect(server.address(), "observer", "secret"), -1);
  EXPECT_EQ(client.FtpSetCD("/nowhere"), 0);
  EXPECT_EQ(client.FtpGetLastError(), 550);
  ASSERT_EQ(client.FtpPutBin(local_, "live2.jpg"), -1) << client.FtpGetLastError();
  EXPECT_TRUE(std::filesystem::exists(root_ + "/live2.jpg")) << "the login directory";
  ASSERT_EQ(client.FtpSetCD("/homepage"), -1);
  ASSERT_EQ(client.FtpPutBin(local_, "live2.jpg"), -1);
  EXPECT_EQ(ReadBytes(Remote()), ReadBytes(local_));
  EXPECT_EQ(client.FtpPutBin(dir_.File("absent.jpg"), "live2.jpg"), 0);
  EXPECT_EQ(client.FtpGetLastError(), ftp_error::kLocalFile);
  EXPECT_EQ(client.FtpPutBin(dir_.path().string(), "live2.jpg"), 0) << "a directory";
  EXPECT_EQ(client.FtpGetLastError(), ftp_error::kLocalFile);
  ASSERT_TRUE(MakeFifo(dir_.File("fifo.jpg")));
  EXPECT_EQ(client.FtpPutBin(dir_.File("fifo.jpg"), "live2.jpg"), 0) << "a FIFO, without waiting for a writer";
  EXPECT_EQ(client.FtpGetLastError(), ftp_error::kLocalFile);
}

TEST_F(FtpClientTest, TransportFailuresGiveLibcurlCodes) {
  FtpClient client;
  EXPECT_EQ(client.FtpConnect("no-such-host.invalid", "a", "b"), 0);
  EXPECT_EQ(client.FtpGetLastError(), 6);
  EXPECT_EQ(client.FtpSetCD("/homepage"), 0);
  EXPECT_EQ(client.FtpGetLastError(), 6) << "later calls repeat why the connect failed";
  EXPECT_EQ(client.FtpConnect("127.0.0.1:" + std::to_string(FreePort()), "a", "b"), 0);
  EXPECT_EQ(client.FtpGetLastError(), 7);
  EXPECT_EQ(client.FtpConnect("", "a", "b"), 0);
  EXPECT_NE(client.FtpGetLastError(), 0);
  EXPECT_EQ(client.FtpConnect("http://127.0.0.1", "a", "b"), 0);
  EXPECT_EQ(client.FtpGetLastError(), ftp_error::kBadServerText);
}

TEST_F(FtpClientTest, ServerRestartedBetweenUploadsIsLoggedIntoAgain) {
  PyFtpServer server(root_);
  FtpClient client;
  ASSERT_TRUE(Start(client, server));
  ASSERT_EQ(client.FtpPutBin(local_, "live2.jpg"), -1);
  server.Restart();
  WriteBytes(local_, Picture(25000, 9));
  ASSERT_EQ(client.FtpPutBin(local_, "live2.jpg"), -1) << client.FtpGetLastError();
  EXPECT_EQ(ReadBytes(Remote()), ReadBytes(local_)) << "still into /homepage";
  EXPECT_EQ(server.Count("LOGIN"), 2);
}

TEST_F(FtpClientTest, SilentListenerFailsWithinTheBound) {
  SilentListener listener;  // the kernel accepts; nobody ever answers
  FtpClient client(FtpTimeouts{std::chrono::seconds(2), std::chrono::seconds(2), std::chrono::seconds(5)});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(client.FtpConnect("127.0.0.1:" + std::to_string(listener.port()), "a", "b"), 0);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(client.FtpGetLastError(), 28);
  EXPECT_LT(seconds, 4.5);
}

TEST_F(FtpClientTest, WatcherOfTheFinalNameNeverSeesAPartialPicture) {
  PyFtpServer server(root_);
  FtpClient client;
  ASSERT_TRUE(Start(client, server));
  const std::vector<uint8_t> a = Picture(3'000'000, 1), b = Picture(4'000'000, 2);
  WriteBytes(local_, a);
  ASSERT_EQ(client.FtpPutBin(local_, "live2.jpg"), -1);
  std::atomic<bool> done{false};
  std::atomic<int> reads{0}, bad{0};
  std::thread watcher([&] {
    while (!done) {
      std::vector<uint8_t> seen;
      try {
        seen = ReadBytes(Remote());
      } catch (...) {
        ++bad;  // the final name must never be missing either
        continue;
      }
      ++reads;
      if (seen != a && seen != b) ++bad;
    }
  });
  // At least six uploads, and as many more as the watcher needs to look often (a slow build).
  for (int i = 0; i < 6 || (reads <= 5 && i < 200); ++i) {
    WriteBytes(local_, i % 2 ? a : b);
    ASSERT_EQ(client.FtpPutBin(local_, "live2.jpg"), -1);
  }
  done = true;
  watcher.join();
  EXPECT_GT(reads, 5);
  EXPECT_EQ(bad, 0);
}

TEST_F(FtpClientTest, CommandsCannotBeSmuggledInThroughTheTexts) {
  PyFtpServer server(root_);
  WriteBytes(root_ + "/homepage/keep.txt", {1});
  FtpClient client;
  EXPECT_EQ(client.FtpConnect(server.address(), "observer", "secret\r\nDELE /homepage/keep.txt"), 0);
  EXPECT_EQ(client.FtpGetLastError(), ftp_error::kUnsafeText);
  ASSERT_TRUE(Start(client, server));
  EXPECT_EQ(client.FtpSetCD("/homepage\r\nDELE keep.txt"), 0);
  EXPECT_EQ(client.FtpGetLastError(), ftp_error::kUnsafeText);
  EXPECT_EQ(client.FtpPutBin(local_, "live2.jpg\nDELE keep.txt"), 0);
  EXPECT_EQ(client.FtpPutBin(local_, std::string("live2.jpg\0DELE keep.txt", 23)), 0);
  EXPECT_EQ(client.FtpGetLastError(), ftp_error::kUnsafeText);
  EXPECT_EQ(server.Count("CMD DELE"), 0) << server.log();
  EXPECT_TRUE(std::filesystem::exists(root_ + "/homepage/keep.txt"));
}

TEST_F(FtpClientTest, ServersThatRefuseRenamingOntoAFileGetTheOldPictureSetAsideFirst) {
  PyFtpServer::Options refusing;
  refusing.no_rename_over = true;
  PyFtpServer server(root_, refusing);
  FtpClient client;
  ASSERT_TRUE(Start(client, server));
  for (uint8_t i = 0; i < 3; ++i) {
    WriteBytes(local_, Picture(12345 + i, i));
    ASSERT_EQ(client.FtpPutBin(local_, "live2.jpg"), -1) << client.FtpGetLastError();
    EXPECT_EQ(ReadBytes(Remote()), ReadBytes(local_));
  }
  EXPECT_EQ(server.Count("CMD DELE /homepage/live2.jpg"), 0) << "the published picture is never deleted";
  EXPECT_GE(server.Count("CMD RNTO /homepage/.live2.jpg.old"), 2);
  EXPECT_FALSE(std::filesystem::exists(Remote(".live2.jpg.old")));
}

// A server that refuses RNFR or RNTO altogether: the old picture stays published, the error is
// reported, and the upload's temporary file is cleared away.
TEST_F(FtpClientTest, ServersThatRefuseRenamesKeepTheOldPicture) {
  for (const char* refused : {"RNFR", "RNTO"}) {
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_ + "/homepage");
    WriteBytes(Remote(), {'o', 'l', 'd'});
    PyFtpServer server(root_, {false, false, "", "", {"--refuse", refused}});
    FtpClient client;
    ASSERT_TRUE(Start(client, server));
    EXPECT_EQ(client.FtpPutBin(local_, "live2.jpg"), 0) << refused;
    EXPECT_EQ(client.FtpGetLastError(), 550) << refused;
    EXPECT_EQ(ReadBytes(Remote()), (std::vector<uint8_t>{'o', 'l', 'd'})) << refused;
    EXPECT_FALSE(std::filesystem::exists(Remote(".live2.jpg.part"))) << refused;
  }
}

// Servers that lie: one that reports another size than it holds, one that drops the connection
// at the first upload (the client logs in again and uploads once more).
TEST_F(FtpClientTest, ALyingSizeIsCaughtAndADroppedFirstUploadIsRetried) {
  {
    PyFtpServer server(root_, {false, false, "", "", {"--drop-on", "STOR:1"}});
    FtpClient client;
    ASSERT_TRUE(Start(client, server));
    WriteBytes(local_, Picture(31000, 5));
    ASSERT_EQ(client.FtpPutBin(local_, "live2.jpg"), -1) << client.FtpGetLastError();
    EXPECT_EQ(ReadBytes(Remote()), ReadBytes(local_));
    EXPECT_EQ(server.Count("DROP"), 1);
    EXPECT_EQ(server.Count("LOGIN"), 2);
  }
  PyFtpServer server(root_, {false, false, "", "", {"--lie-size", "17"}});
  FtpClient client;
  ASSERT_TRUE(Start(client, server));
  EXPECT_EQ(client.FtpPutBin(local_, "live2.jpg"), 0);
  EXPECT_EQ(client.FtpGetLastError(), ftp_error::kSizeMismatch);
}

// The time bounds hold as stated, against a server that is slow on purpose (bounds scaled down:
// connect 2 s, stall 3 s, whole call 6 s).
TEST_F(FtpClientTest, TimeBoundsHoldAgainstASlowServer) {
  const FtpTimeouts bounds{std::chrono::seconds(2), std::chrono::seconds(3), std::chrono::seconds(6)};
  const auto timed = [](auto&& call) {
    const auto start = std::chrono::steady_clock::now();
    call();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  {  // A passive-mode reply slower than the connect bound but within the stall bound still uploads.
    PyFtpServer server(root_, {false, false, "", "", {"--delay", "EPSV,PASV:2.5"}});
    FtpClient client(bounds);
    ASSERT_TRUE(Start(client, server));
    EXPECT_EQ(client.FtpPutBin(local_, "live2.jpg"), -1) << client.FtpGetLastError();
  }
  {  // An upload whose bytes stop moving fails with 28 after the stall bound, not later.
    PyFtpServer server(root_, {false, false, "", "", {"--stall-data-after", "1000000:8"}});
    FtpClient client(bounds);
    ASSERT_TRUE(Start(client, server));
    WriteBytes(local_, Picture(48'000'000, 3));
    int16_t result = 0;
    const double seconds = timed([&] { result = client.FtpPutBin(local_, "live2.jpg"); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(client.FtpGetLastError(), 28);
    EXPECT_LT(seconds, 3 + 1.5);
  }
  {  // Slow replies and the connection dropped at each upload: one deadline for the call, the
     // retry included (a retry would need 4.5 s more; only 1.5 s are left).
    WriteBytes(local_, Picture(30000, 1));
    PyFtpServer server(root_, {false, false, "", "", {"--delay", "TYPE,EPSV,STOR:1.5", "--drop-on", "STOR"}});
    FtpClient client(bounds);
    ASSERT_TRUE(Start(client, server));
    int16_t result = 0;
    const double seconds = timed([&] { result = client.FtpPutBin(local_, "live2.jpg"); });
    EXPECT_EQ(result, 0);
    EXPECT_LT(seconds, 6 + 0.5);
  }
}

TEST_F(FtpClientTest, ExplicitTlsVerifiesTheServerCertificate) {
  MakeTestCertificates(dir_.path().string());
  PyFtpServer server(root_, {true, false, dir_.File("server.pem"), dir_.File("server.key"), {}});
  FtpClient untrusting;
  EXPECT_EQ(untrusting.FtpConnect("ftpes://" + server.address(), "observer", "secret"), 0);
  EXPECT_EQ(untrusting.FtpGetLastError(), 60) << "peer certificate cannot be verified";
  EXPECT_EQ(server.Count("CMD PASS"), 0) << "no password goes to an unverified server";

  FtpClient client;
  client.SetCertificateAuthorityForTesting(dir_.File("ca.pem"));
  ASSERT_EQ(client.FtpConnect("ftpes://" + server.address(), "observer", "secret"), -1) << client.FtpGetLastError();
  EXPECT_EQ(client.FtpSetCD("/homepage"), -1);

  FtpClient plain;  // the server demands TLS: a plain login is refused by the server
  EXPECT_EQ(plain.FtpConnect(server.address(), "observer", "secret"), 0);
  EXPECT_GE(plain.FtpGetLastError(), 500);
}

// pyftpdlib's TLS data channel resets libcurl's data connections (the curl command line fails
// the same way), so uploads over TLS are proven against vsftpd.
TEST_F(FtpClientTest, UploadsOverExplicitTlsToVsftpd) {
  MakeTestCertificates(dir_.path().string());
  Vsftpd server(dir_.path().string(), dir_.File("server.pem"), dir_.File("server.key"));
  FtpClient untrusting;
  EXPECT_EQ(untrusting.FtpConnect("ftpes://" + server.address(), "anonymous", "station@"), 0);
  EXPECT_EQ(untrusting.FtpGetLastError(), 60);

  FtpClient client;
  client.SetCertificateAuthorityForTesting(dir_.File("ca.pem"));
  ASSERT_EQ(client.FtpConnect("ftpes://" + server.address(), "anonymous", "station@"), -1) << client.FtpGetLastError();
  ASSERT_EQ(client.FtpSetCD("/homepage"), -1) << client.FtpGetLastError();
  ASSERT_EQ(client.FtpPutBin(local_, "live2.jpg"), -1) << client.FtpGetLastError();
  EXPECT_EQ(ReadBytes(server.homepage() + "/live2.jpg"), ReadBytes(local_));
}

TEST_F(FtpClientTest, DisconnectEndsTheSession) {
  FtpClient client;
  EXPECT_EQ(client.FtpDisconnect(), -1) << "Stop before any Start";
  EXPECT_EQ(client.FtpSetCD("/homepage"), 0);
  EXPECT_EQ(client.FtpGetLastError(), ftp_error::kNotConnected);
  PyFtpServer server(root_);
  ASSERT_TRUE(Start(client, server));
  ASSERT_EQ(client.FtpDisconnect(), -1);
  EXPECT_EQ(client.FtpPutBin(local_, "live2.jpg"), 0);
  EXPECT_EQ(client.FtpGetLastError(), ftp_error::kNotConnected);
  EXPECT_EQ(server.Count("CMD STOR"), 0);
}

TEST_F(FtpClientTest, VsftpdTakesTheUploadsToo) {
  Vsftpd server(dir_.path().string());
  FtpClient client;
  ASSERT_EQ(client.FtpConnect(server.address(), "anonymous", "station@"), -1) << client.FtpGetLastError();
  ASSERT_EQ(client.FtpSetCD("/homepage"), -1) << client.FtpGetLastError();
  for (uint8_t i = 0; i < 3; ++i) {
    WriteBytes(local_, Picture(30000 + i, i));
    ASSERT_EQ(client.FtpPutBin(local_, "live2.jpg"), -1) << client.FtpGetLastError();
    EXPECT_EQ(ReadBytes(server.homepage() + "/live2.jpg"), ReadBytes(local_));
  }
  EXPECT_EQ(client.FtpSetCD("/missing"), 0);
  EXPECT_EQ(client.FtpGetLastError(), 550);
}

}  // namespace

namespace {

// A large file whose time ran out (a night's video on a slow server, within what is left of a
// cycle) goes on where it stopped at the next call of the same upload, instead of starting again,
// whatever was uploaded in between.
TEST_F(FtpClientTest, AnUploadWhoseTimeRanOutGoesOnWhereItStopped) {
  PyFtpServer server(root_, {false, false, "", "", {"--read-limit", "2000000"}});
  FtpClient client;
  ASSERT_TRUE(Start(client, server)) << client.FtpGetLastError();
  const std::string video = dir_.File("video.mp4");
  WriteBytes(video, Picture(3 << 20, 9));
  client.LimitCallsTo(std::chrono::steady_clock::now() + std::chrono::milliseconds(700));
  EXPECT_EQ(client.FtpPutBinInto("/homepage/night", video, "video.mp4"), 0);
  EXPECT_TRUE(client.LeftUnfinished());
  const auto held = std::filesystem::file_size(Remote("night/.video.mp4.part"));
  EXPECT_GT(held, 0u);
  EXPECT_LT(held, uint64_t{3} << 20);
  client.LimitCallsTo(std::chrono::steady_clock::time_point::max());
  ASSERT_EQ(client.FtpPutBin(local_, "live2.jpg"), -1) << "the next cycle's live picture comes in between";
  ASSERT_EQ(client.FtpPutBinInto("/homepage/night", video, "video.mp4"), -1) << client.FtpGetLastError();
  EXPECT_FALSE(client.LeftUnfinished());
  EXPECT_EQ(ReadBytes(Remote("night/video.mp4")), ReadBytes(video));
  EXPECT_EQ(server.Count("CMD APPE .video.mp4.part"), 1) << server.log();
  // A pruned night's files go from the server by name; one that is not there is a 550.
  EXPECT_EQ(client.FtpDeleteIn("/homepage/night", "video.mp4"), -1) << client.FtpGetLastError();
  EXPECT_FALSE(std::filesystem::exists(Remote("night/video.mp4")));
  EXPECT_EQ(client.FtpDeleteIn("/homepage/night", "video.mp4"), 0);
  EXPECT_EQ(client.FtpGetLastError(), 550);
}

// A part changed on the server since (the same size, other bytes), or a link put in its place,
// is not appended to: the upload starts afresh, and the file linked to stays as it was.
TEST_F(FtpClientTest, OnlyAnUnchangedPartIsContinued) {
  PyFtpServer server(root_, {false, false, "", "", {"--read-limit", "2000000"}});
  FtpClient client;
  ASSERT_TRUE(Start(client, server)) << client.FtpGetLastError();
  const std::string video = dir_.File("video.mp4"), part = Remote("night/.video.mp4.part");
  WriteBytes(video, Picture(3 << 20, 9));
  const auto leave_a_part = [&] {
    client.LimitCallsTo(std::chrono::steady_clock::now() + std::chrono::milliseconds(700));
    EXPECT_EQ(client.FtpPutBinInto("/homepage/night", video, "video.mp4"), 0);
    EXPECT_TRUE(client.LeftUnfinished());
    client.LimitCallsTo(std::chrono::steady_clock::time_point::max());
    return std::filesystem::file_size(part);
  };
  const auto finish = [&] {
    ASSERT_EQ(client.FtpPutBinInto("/homepage/night", video, "video.mp4"), -1) << client.FtpGetLastError();
    EXPECT_TRUE(ReadBytes(Remote("night/video.mp4")) == ReadBytes(video));
  };
  WriteBytes(part, std::vector<uint8_t>(leave_a_part(), 0));
  finish();
  const std::vector<uint8_t> victim(leave_a_part(), 'v');
  WriteBytes(root_ + "/victim.txt", victim);
  std::filesystem::remove(part);
  ASSERT_TRUE(MakeLink(root_ + "/victim.txt", part));
  finish();
  EXPECT_TRUE(ReadBytes(root_ + "/victim.txt") == victim);
  EXPECT_EQ(server.Count("CMD APPE .video.mp4.part"), 0) << server.log();
}

}  // namespace
