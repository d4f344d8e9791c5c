// qor_live.exe as an observer runs it on Windows: headless in a console, publishing by FTP, and
// stopped as Windows stops a console program (Ctrl-Break here; closing the console, logging off
// and shutting down come to the same handler).

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "tests/support/fits_builder.h"
#include "tests/support/server_process.h"
#include "tests/support/temp_dir.h"

namespace {

std::string Text(const std::string& path) {
  const std::vector<uint8_t> bytes = std::filesystem::exists(path) ? ReadBytes(path) : std::vector<uint8_t>{};
  return {bytes.begin(), bytes.end()};
}

TEST(ConsoleStop, AHeadlessStationPublishesAndStopsCleanlyOnCtrlBreak) {
  TempDir dir;
  std::filesystem::create_directories(dir.File("root/homepage"));
  std::filesystem::create_directories(dir.File("camera"));
  FitsBuilder::Frame(16, 64, 48).Samples(std::vector<int64_t>(64 * 48, 1000), 2).Write(dir.File("camera/live.fts"));
  PyFtpServer server(dir.File("root"));
  const std::string settings = "camera\\live.fts\r\nKiso\r\n" + server.address() + "\r\nobserver\r\nsecret\r\n10\r\n1.5\r\n";
  WriteBytes(dir.File("qor_live.ini"), {settings.begin(), settings.end()});

  // Its output goes to a file; it shares this program's console, in a process group of its own
  // that the break is sent to.
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const std::wstring output_path = std::filesystem::path(dir.File("output.txt")).wstring();
  const HANDLE output = CreateFileW(output_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(output, INVALID_HANDLE_VALUE);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = output;
  std::wstring command = L"\"" + std::filesystem::path(QOR_LIVE).wstring() + L"\" --headless --interval 1 --stale-after 3593";
  PROCESS_INFORMATION station{};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP, nullptr,
                             dir.path().wstring().c_str(), &startup, &station));
  CloseHandle(output);
  struct Ender {  // a station left running by a failed check would outlive the test
    HANDLE process;
    ~Ender() {
      if (WaitForSingleObject(process, 0) != WAIT_OBJECT_0) TerminateProcess(process, 99);
      CloseHandle(process);
    }
  } ender{station.hProcess};
  CloseHandle(station.hThread);
  const auto wait_for = [&](const char* text) {
    for (int i = 0; i < 1000; ++i) {
      if (Text(dir.File("output.txt")).find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  };
  EXPECT_TRUE(wait_for("Put bin OK")) << Text(dir.File("output.txt"));
  EXPECT_EQ(ReadBytes(dir.File("root/homepage/live2.jpg")), ReadBytes(dir.File("live2.jpg")));

  if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, station.dwProcessId)) {
    // Wine keeps no console events for a program started from a Linux shell; it turns the
    // terminal's Ctrl-C (SIGINT) into the console's Ctrl-C, and that is sent instead.
    std::string found;
    ASSERT_EQ(RunCommand("pkill -INT -f -- 'interval 1 --stale-after 359[3]'", &found), 0) << found;
  }
  const DWORD ended = WaitForSingleObject(station.hProcess, 20000);
  DWORD code = 99;
  GetExitCodeProcess(station.hProcess, &code);
  ASSERT_EQ(ended, WAIT_OBJECT_0) << "still running 20 s after the break";
  EXPECT_EQ(code, 0u);
  const std::string printed = Text(dir.File("output.txt"));
  EXPECT_NE(printed.find("Live stop"), std::string::npos) << printed;
  EXPECT_NE(printed.find("FTP close OK"), std::string::npos) << printed;
  EXPECT_EQ(server.Count("CMD QUIT"), 1) << server.log();
}

}  // namespace
