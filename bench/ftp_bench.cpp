// Time per live cycle of uploading a 30 KB JPEG to a loopback pyftpdlib server: on the session
// that Start opened, against a fresh connect and login every time.

#include <benchmark/benchmark.h>

#include <filesystem>

#include "publish/ftp_client.h"
#include "tests/support/files.h"
#include "tests/support/server_process.h"
#include "tests/support/temp_dir.h"

namespace {

struct Loopback {
  TempDir dir;
  std::string local = dir.File("live2.jpg");
  PyFtpServer* server = nullptr;
  Loopback() {
    std::filesystem::create_directories(dir.File("root/homepage"));
    WriteBytes(local, std::vector<uint8_t>(30 * 1024, 0x5A));
    server = new PyFtpServer(dir.File("root"));
  }
  ~Loopback() { delete server; }
};

Loopback& Server() {
  static Loopback loopback;
  return loopback;
}

void BM_UploadOnTheOpenSession(benchmark::State& state) {
  Loopback& loopback = Server();
  FtpClient client;
  client.FtpConnect(loopback.server->address(), "observer", "secret");
  client.FtpSetCD("/homepage");
  for (auto _ : state)
    if (client.FtpPutBin(loopback.local, "live2.jpg") != -1) state.SkipWithError("upload failed");
  client.FtpDisconnect();
}
BENCHMARK(BM_UploadOnTheOpenSession)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_UploadWithFreshLogin(benchmark::State& state) {
  Loopback& loopback = Server();
  for (auto _ : state) {
    FtpClient client;
    client.FtpConnect(loopback.server->address(), "observer", "secret");
    client.FtpSetCD("/homepage");
    if (client.FtpPutBin(loopback.local, "live2.jpg") != -1) state.SkipWithError("upload failed");
    client.FtpDisconnect();
  }
}
BENCHMARK(BM_UploadWithFreshLogin)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
