// qor_live.exe as an observer runs it on Windows: headless in a console, publishing by FTP, and
// stopped as Windows stops a console program (Ctrl-Break here; closing the console, logging off
// and shutting down come to the same handler).

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "app/platform/console_lines.h"
#include "base/utf8_path.h"
#include "tests/support/files.h"
#include "tests/support/fits_builder.h"
#include "tests/support/server_process.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// Through the path's own UTF-16 name: a narrow name would pass through the ANSI code page.
std::string Text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Write(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// In a working folder whose name no ANSI code page holds whole, as an observer's profile may be.
TEST(ConsoleStop, AHeadlessStationInAUnicodeFolderPublishesAndStopsCleanlyOnCtrlBreak) {
  TempDir dir;
  const fs::path work = dir.path() / fs::path(u8"\u0141ukasz") / u8"Beobachtung" / fs::path(u8"\u89b3\u6e2c");
  fs::create_directories(work / "camera");
  fs::create_directories(dir.File("root/homepage"));
  const std::vector<uint8_t> frame = FitsBuilder::Frame(16, 64, 48).Samples(std::vector<int64_t>(64 * 48, 1000), 2).Bytes();
  Write(work / "camera" / "live.fts", {frame.begin(), frame.end()});
  PyFtpServer server(dir.File("root"));
  Write(work / "qor_live.ini", "camera\\live.fts\r\nKiso\r\n" + server.address() + "\r\nobserver\r\nsecret\r\n10\r\n1.5\r\n");

  // Its output goes to a file; it shares this program's console, in a process group of its own
  // that the break is sent to.
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const HANDLE output = CreateFileW((work / "output.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(output, INVALID_HANDLE_VALUE);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = output;
  std::wstring command = L"\"" + fs::path(QOR_LIVE).wstring() + L"\" --headless --interval 1 --stale-after 3593";
  PROCESS_INFORMATION station{};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP, nullptr,
                             work.c_str(), &startup, &station));
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
      if (Text(work / "output.txt").find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  };
  EXPECT_TRUE(wait_for("Put bin OK")) << Text(work / "output.txt");
  EXPECT_EQ(Text(dir.File("root/homepage/live2.jpg")), Text(work / "live2.jpg"));
  EXPECT_GT(Text(work / "live2.jpg").size(), 1000u);

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
  const std::string printed = Text(work / "output.txt");
  EXPECT_NE(printed.find("Live stop"), std::string::npos) << printed;
  EXPECT_NE(printed.find("FTP close OK"), std::string::npos) << printed;
  EXPECT_EQ(server.Count("CMD QUIT"), 1) << server.log();
}

// The tools take their arguments as written, whatever the ANSI code page holds: a frame named in
// Japanese is read, and the picture goes to the Polish name it was given.
TEST(ToolArguments, FrametoolReadsAndWritesUnicodeNames) {
  TempDir dir;
  const fs::path frame = dir.path() / fs::path(u8"\u89b3\u6e2c.fts"), picture = dir.path() / fs::path(u8"\u0141\u00f3d\u017a.bmp");
  const std::vector<uint8_t> bytes = FitsBuilder::Frame(16, 64, 48).Samples(std::vector<int64_t>(64 * 48, 1000), 2).Bytes();
  Write(frame, {bytes.begin(), bytes.end()});
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const fs::path printed = dir.path() / "printed.txt";
  const HANDLE output = CreateFileW(printed.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(output, INVALID_HANDLE_VALUE);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = output;
  std::wstring command = L"\"" + fs::path(QOR_FRAMETOOL).wstring() + L"\" \"" + frame.wstring() + L"\" --picture \"" +
                         picture.wstring() + L"\"";
  PROCESS_INFORMATION tool{};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &tool));
  CloseHandle(output);
  CloseHandle(tool.hThread);
  EXPECT_EQ(WaitForSingleObject(tool.hProcess, 60000), WAIT_OBJECT_0);
  CloseHandle(tool.hProcess);
  EXPECT_NE(Text(printed).find("\"ok\""), std::string::npos) << Text(printed);
  EXPECT_TRUE(fs::exists(picture));
}

#ifndef QOR_STAR_EXTRACTION
// A build without SEP (README) says so at start, rather than publish a sky of nulls all night.
TEST(SkyOnWindows, ABuildWithoutSepRefusesTheSkyAtStart) {
  TempDir dir;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const fs::path printed = dir.path() / "printed.txt";
  const HANDLE output = CreateFileW(printed.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(output, INVALID_HANDLE_VALUE);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = output;
  std::wstring command = L"\"" + fs::path(QOR_LIVE).wstring() + L"\" --headless --sky";
  PROCESS_INFORMATION station{};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, dir.path().c_str(), &startup,
                             &station));
  CloseHandle(output);
  CloseHandle(station.hThread);
  EXPECT_EQ(WaitForSingleObject(station.hProcess, 60000), WAIT_OBJECT_0);
  DWORD code = 99;
  GetExitCodeProcess(station.hProcess, &code);
  CloseHandle(station.hProcess);
  EXPECT_EQ(code, 2u);
  EXPECT_NE(Text(printed).find("--sky: this build cannot find stars"), std::string::npos) << Text(printed);
}
#endif

// A console's code page is not UTF-8: what the station prints must still show as written.
TEST(ConsoleLines, AConsoleShowsTheStationsTextAsWritten) {
  FreeConsole();
  ASSERT_TRUE(AllocConsole());
  std::FILE* console = _wfopen(L"CONOUT$", L"w");
  ASSERT_NE(console, nullptr);
  PrintLine(console, "\xc5\x81ukasz \xce\xa9\xce\xbc\xce\xad\xce\xb3\xce\xb1");  // Łukasz Ωμέγα
  const HANDLE screen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  ASSERT_TRUE(GetConsoleScreenBufferInfo(screen, &info));
  std::wstring shown(12, L' ');
  DWORD read = 0;
  const COORD line_start{0, static_cast<SHORT>(info.dwCursorPosition.Y - 1)};
  ASSERT_TRUE(ReadConsoleOutputCharacterW(screen, shown.data(), 12, line_start, &read));
  EXPECT_EQ(Utf8Text(fs::path(shown)), "\xc5\x81ukasz \xce\xa9\xce\xbc\xce\xad\xce\xb3\xce\xb1");
  CloseHandle(screen);
  std::fclose(console);
  FreeConsole();
}

}  // namespace
