// The station end to end: the real window, real FITS files, a real pyftpdlib server.

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <filesystem>

#include "base/regular_file.h"
#include "tests/app/window_fixture.h"
#include "tests/support/files.h"
#include "tests/support/fits_builder.h"
#include "tests/support/server_process.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;

class StationTest : public WindowTest {
 protected:
  StationTest() {
    fs::create_directories(dir_.File("root/homepage"));
    fs::create_directories(dir_.File("camera"));
    server_ = std::make_unique<PyFtpServer>(dir_.File("root"));
  }
  void WriteFrame() {
    std::vector<int64_t> sky(64 * 48);
    for (size_t i = 0; i < sky.size(); ++i) sky[i] = 1000 + static_cast<int64_t>((i * 7919) % 200) + (i % 97 == 0 ? 20000 : 0);
    FitsBuilder::Frame(16, 64, 48).Samples(sky, 2).Write(live_);
  }
  void Configure(const std::string& password = "secret") {
    Control("Text1")->setText(QString::fromStdString(live_));
    Control("Text4")->setText(QString::fromStdString(server_->address()));
    Control("Text5")->setText("observer");
    Control("Text6")->setText(QString::fromStdString(password));
    Window().SetCycleOptions({std::chrono::seconds(60), std::chrono::seconds(600), 0});  // archive whatever the disk
  }
  void ClickStart() { QTest::mouseClick(Control<QPushButton>("Command1"), Qt::LeftButton); }
  std::vector<std::string> TakeStatuses() { return std::exchange(Window().statuses, {}); }
  std::string Uploaded() const { return dir_.File("root/homepage/live2.jpg"); }

  std::string live_ = dir_.File("camera/live.fts");
  std::unique_ptr<PyFtpServer> server_;
};

TEST_F(StationTest, StartPublishesAPictureThatDecodes) {
  WriteFrame();
  Configure();
  ClickStart();
  EXPECT_EQ(TakeStatuses(), (std::vector<std::string>{"Live start    0", "FTP open OK", "FTP open OK / Set CD OK",
                                                      "FTP Live picture", "Put bin OK", "Live start    1"}));
  EXPECT_TRUE(Window().timer().isActive());
  ASSERT_TRUE(fs::exists(Uploaded()));
  EXPECT_EQ(ReadBytes(Uploaded()), ReadBytes("live2.jpg"));
  std::string header;
  ASSERT_EQ(RunCommand("djpeg -verbose -verbose -outfile /dev/null " + ShellQuote(Uploaded()) + " 2>&1", &header), 0);
  EXPECT_NE(header.find("width=423, height=316"), std::string::npos) << header;
  EXPECT_TRUE(fs::exists("live2.bmp"));

  // A second tick uploads again on the same login.
  Window().Timer1_Timer();
  EXPECT_EQ(TakeStatuses(), (std::vector<std::string>{"FTP Live picture", "Put bin OK", "Live start    2"}));
  EXPECT_EQ(server_->Count("LOGIN"), 1);
}

TEST_F(StationTest, NinthCycleArchivesBesideTheLiveFile) {
  WriteFrame();
  Configure();
  for (int start = 0; start < 9; ++start) ClickStart();
  const std::vector<std::string> statuses = TakeStatuses();
  ASSERT_GE(statuses.size(), 3u);
  EXPECT_EQ(statuses[statuses.size() - 3], "Put bin OK");
  EXPECT_EQ(statuses[statuses.size() - 2], "Picture saving");
  EXPECT_EQ(statuses.back(), "Live start    0");
  EXPECT_EQ(Window().FrameCounter(), 0);
  std::vector<std::string> archives;
  for (const auto& entry : fs::directory_iterator(dir_.File("camera")))
    if (entry.path().filename() != "live.fts") archives.push_back(entry.path().filename().string());
  ASSERT_EQ(archives.size(), 1u);
  EXPECT_TRUE(QRegularExpression("^\\d{8}_\\d{6}\\.fts$").match(QString::fromStdString(archives[0])).hasMatch()) << archives[0];
  std::string report;
  RunCommand("fitsverify " + ShellQuote(dir_.File("camera/" + archives[0])) + " 2>&1", &report);
  EXPECT_NE(report.find("0 error(s)"), std::string::npos) << report;
}

TEST_F(StationTest, StopHandledAtAYieldLetsTheCycleFinishAndCount) {
  WriteFrame();
  Configure();
  ClickStart();
  TakeStatuses();
  QTimer::singleShot(0, [this] { QTest::mouseClick(Control<QPushButton>("Command2"), Qt::LeftButton); });
  Window().Timer1_Timer();
  EXPECT_EQ(TakeStatuses(), (std::vector<std::string>{"Live stop", "FTP close OK", "FTP Live picture",
                                                      "Put bin NG:900", "Live start    1"}));
  EXPECT_EQ(Window().FrameCounter(), 1);
  EXPECT_FALSE(Window().timer().isActive());
}

TEST_F(StationTest, MissingLiveFileEndsTheCycleUntilTheFileComesBack) {
  Configure();
  ClickStart();
  const std::vector<std::string> statuses = TakeStatuses();
  RegularFile missing;  // the system's own words for a file that is not there
  EXPECT_EQ(statuses.back(), "Read live file NG:" + missing.Open(live_).reason);
  EXPECT_EQ(Window().FrameCounter(), 0) << "a cycle without a frame is not counted";
  EXPECT_TRUE(Window().timer().isActive()) << "the next tick tries again";
  EXPECT_EQ(server_->Count("STORED .live2.jpg"), 0) << "no stale picture is published";
  EXPECT_EQ(server_->Count("STORED .live2.json"), 1) << "the page is told why";

  WriteFrame();
  Window().Timer1_Timer();
  EXPECT_EQ(TakeStatuses(), (std::vector<std::string>{"FTP Live picture", "Put bin OK", "Live start    1"}));
}

TEST_F(StationTest, WrongPasswordIsReportedInEveryCycle) {
  WriteFrame();
  Configure("wrong");
  ClickStart();
  std::vector<std::string> statuses = TakeStatuses();
  ASSERT_GE(statuses.size(), 3u);
  EXPECT_EQ(statuses[2], "FTP open NG:530 / Set CD NG:530");
  EXPECT_EQ(statuses[statuses.size() - 2], "Put bin NG:530");
  EXPECT_TRUE(Window().timer().isActive());
  Window().Timer1_Timer();
  EXPECT_EQ(TakeStatuses(), (std::vector<std::string>{"FTP Live picture", "Put bin NG:530", "Live start    2"}));
  // The text stays the design's; its colour and tooltip tell of the failure and the night.
  auto* label = Control<QLabel>("Label2");
  EXPECT_NE(label->styleSheet().indexOf(QStringLiteral("red")), -1);
  EXPECT_TRUE(label->toolTip().contains(QStringLiteral("Put bin NG:530")));
  EXPECT_NE(ReadBytes("qor_live.log").size(), 0u);
}

TEST_F(StationTest, HeaderErrorIsShownAndTheCycleGoesOnWhileTicksWait) {
  WriteFrame();
  Configure();
  ClickStart();
  FitsBuilder::Frame(64, 2, 2).Write(live_);
  std::string shown;
  bool nested_tick_ran = true;
  // Were the guard broken, the nested cycle's box would wait for ever: close any box left after
  // a few seconds, and say so.
  int rescued = 0;
  QTimer rescue;
  QObject::connect(&rescue, &QTimer::timeout, [&rescued] {
    if (QWidget* box = QApplication::activeModalWidget()) {
      ++rescued;
      box->close();
    }
  });
  rescue.start(3000);
  auto* poll = new QTimer();
  QObject::connect(poll, &QTimer::timeout, [&, poll] {
    if (QWidget* box = QApplication::activeModalWidget()) {
      shown = box->property("text").toString().toStdString();
      nested_tick_ran = Window().cycle().Run();  // a tick that falls due meanwhile is skipped
      box->close();
      poll->deleteLater();
    }
  });
  poll->start(20);
  TakeStatuses();
  Window().Timer1_Timer();
  EXPECT_EQ(shown, live_ + "BITPIX error : BITPIX = 64");
  EXPECT_FALSE(nested_tick_ran);
  EXPECT_EQ(rescued, 0);
  EXPECT_EQ(TakeStatuses(), (std::vector<std::string>{"FTP Live picture", "Put bin OK", "Live start    2"}));
}

// The name of a folder as the system's 8-bit code page writes it, and the folder: "\xD6l" (Öl) in
// code page 1252 or as POSIX bytes, or 観測 where the code page has no Ö.
std::string FolderNameInTheCodePage(const fs::path& parent, fs::path& folder) {
#ifdef _WIN32
  for (const wchar_t* name : {L"\u00d6l", L"\u89b3\u6e2c"}) {
    char bytes[16] = {};
    BOOL lossy = FALSE;
    const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name, -1, bytes, sizeof bytes, nullptr, &lossy);
    if (size <= 1 || lossy) continue;
    folder = parent / name;
    return bytes;
  }
  return {};
#else
  folder = parent / "\xD6l";
  return "\xD6l";
#endif
}

// Settings written in the system's 8-bit code page (as the design's program wrote them) name the
// live file that is read, and the folder its archive goes into.
TEST_F(StationTest, ALivePathInTheSystemsCodePageIsReadAndArchivedBeside) {
  fs::path folder;
  const std::string name = FolderNameInTheCodePage(dir_.path(), folder);
  ASSERT_FALSE(name.empty());
  fs::create_directories(folder);
  WriteFrame();
  fs::copy_file(live_, folder / "live.fts");
  const std::string separator(1, static_cast<char>(fs::path::preferred_separator));
  const std::string settings = dir_.path().string() + separator + name + separator + "live.fts\r\nKiso\r\n" +
                               server_->address() + "\r\nobserver\r\nsecret\r\n10\r\n1.5\r\n";
  WriteBytes("qor_live.ini", {settings.begin(), settings.end()});
  CycleOptions options{std::chrono::seconds(60), std::chrono::seconds(600), 0};
  options.archive_every = 1;
  Window().SetCycleOptions(options);
  ClickStart();
  const std::vector<std::string> statuses = TakeStatuses();
  EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Put bin OK"), statuses.end()) << statuses.back();
  int archives = 0;
  for (const auto& entry : fs::directory_iterator(folder)) archives += entry.path().filename() != "live.fts";
  EXPECT_EQ(archives, 1);
}

TEST_F(StationTest, ClosingDuringACycleWaitsForItThenSaves) {
  WriteFrame();
  Configure();
  ClickStart();
  Window().show();
  QTimer::singleShot(0, [this] { Window().close(); });
  Window().Timer1_Timer();
  EXPECT_FALSE(Window().isVisible());
  EXPECT_EQ(Window().statuses.back(), "Live start    2") << "the cycle ran to its end";
  const std::vector<uint8_t> log = ReadBytes("qor_live.log");
  EXPECT_NE(std::string(log.begin(), log.end()).find("Stopping after the upload\u2026"), std::string::npos)
      << "the wait is said";
  const std::vector<uint8_t> saved = ReadBytes("qor_live.ini");
  EXPECT_NE(std::string(saved.begin(), saved.end()).find(server_->address()), std::string::npos);
}

// Start's login waits beside the window, which keeps repainting; a stop asked for meanwhile is
// carried out once Start has ended, and Start's connect and change of directory share one bound.
TEST_F(StationTest, StartWaitsForAHangingServerBesideTheWindowAndAStopWaitsForIt) {
  SilentListener silent;  // accepts, never greets
  WriteFrame();
  Configure();
  Control("Text4")->setText(QStringLiteral("127.0.0.1:%1").arg(silent.port()));
  Window().show();
  int repaints_while_connecting = 0;
  QTimer painter;
  QObject::connect(&painter, &QTimer::timeout, [&] { ++repaints_while_connecting; });
  painter.start(50);
  QTimer::singleShot(200, [this] { Window().RequestShutdown(); });
  const auto start = std::chrono::steady_clock::now();
  ClickStart();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GT(repaints_while_connecting, 20);
  EXPECT_LT(seconds, 5 + 2.0);  // the connect bound, and the change of directory adds none
  EXPECT_FALSE(Window().isVisible());
  const std::vector<std::string> statuses = TakeStatuses();
  ASSERT_GE(statuses.size(), 2u);
  EXPECT_EQ(statuses[1], "FTP open NG:28");
  EXPECT_EQ(statuses.back(), "FTP close OK");
}

}  // namespace
