// Time per live cycle of uploading a 30 KB JPEG by SFTP to OpenSSH's sshd on loopback: on the
// session that Start opened, against a fresh connect, key exchange and login every time.

#include <benchmark/benchmark.h>

#include <filesystem>

#include "publish/ftp_client.h"
#include "tests/support/files.h"
#include "tests/support/ssh_server.h"
#include "tests/support/temp_dir.h"

namespace {

struct Loopback {
  TempDir dir;
  std::string local = dir.File("live2.jpg");
  std::string homepage = dir.File("site/homepage");
  OpenSshServer* server = nullptr;
  Loopback() {
    std::filesystem::create_directories(homepage);
    WriteBytes(local, std::vector<uint8_t>(30 * 1024, 0x5A));
    server = new OpenSshServer(dir.path().string());
  }
  ~Loopback() { delete server; }
  void Prepare(FtpClient& client) { client.SetSshFilesForTesting(dir.File("known_hosts"), server->client_ssh_dir()); }
};

Loopback& Server() {
  static Loopback loopback;
  return loopback;
}

void BM_SftpUploadOnTheOpenSession(benchmark::State& state) {
  Loopback& loopback = Server();
  FtpClient client;
  loopback.Prepare(client);
  if (client.FtpConnect(loopback.server->address(), OpenSshServer::User(), "") != -1 ||
      client.FtpSetCD(loopback.homepage) != -1)
    state.SkipWithError("no session");
  for (auto _ : state)
    if (client.FtpPutBin(loopback.local, "live2.jpg") != -1) state.SkipWithError("upload failed");
  client.FtpDisconnect();
}
BENCHMARK(BM_SftpUploadOnTheOpenSession)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SftpUploadWithFreshLogin(benchmark::State& state) {
  Loopback& loopback = Server();
  for (auto _ : state) {
    FtpClient client;
    loopback.Prepare(client);
    client.FtpConnect(loopback.server->address(), OpenSshServer::User(), "");
    client.FtpSetCD(loopback.homepage);
    if (client.FtpPutBin(loopback.local, "live2.jpg") != -1) state.SkipWithError("upload failed");
    client.FtpDisconnect();
  }
}
BENCHMARK(BM_SftpUploadWithFreshLogin)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
