#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "fits/text_numbers.h"
#include "tests/app/window_fixture.h"
#include "tests/support/files.h"
#include "tests/support/fits_builder.h"

namespace {

QRect Twips(int left, int top, int width, int height) {
  const auto px = [](int twips) { return static_cast<int>(std::lround(twips / 15.0)); };
  return {px(left), px(top), px(width), px(height)};
}

// The next control that Tab reaches.
QWidget* NextTabStop(QWidget* widget) {
  QWidget* next = widget->nextInFocusChain();
  while (!(next->focusPolicy() & Qt::TabFocus)) next = next->nextInFocusChain();
  return next;
}

TEST_F(WindowTest, ControlsOfTheDesign) {
  const struct {
    const char* name;
    const char* parent;
    const char* text;
    QRect geometry;
  } controls[] = {
      {"Picture1", "Form1", nullptr, Twips(120, 120, 6400, 4800)},
      {"Frame1", "Form1", "Live", Twips(6600, 3840, 4455, 735)},
      {"Command1", "Frame1", "Start", Twips(720, 240, 1455, 375)},
      {"Command2", "Frame1", "Stop", Twips(2640, 240, 1455, 375)},
      {"Label1", "Form1", "QOR data destination", Twips(6600, 240, 3375, 255)},
      {"Text1", "Form1", "C:\\QOR_Images\\live.fts", Twips(6600, 480, 4455, 375)},
      {"Label3", "Form1", "Letter of screens", Twips(6600, 1080, 1575, 255)},
      {"Text3", "Form1", "Tamsel Observatory", Twips(6600, 1320, 4455, 375)},
      {"Frame2", "Form1", "FTP", Twips(6600, 2400, 4455, 1335)},
      {"Label7", "Frame2", "server name", Twips(120, 240, 1215, 255)},
      {"Label8", "Frame2", "account", Twips(120, 600, 1095, 255)},
      {"Label9", "Frame2", "password", Twips(120, 960, 1335, 255)},
      {"Text4", "Frame2", "ftp.example.net", Twips(1320, 240, 3015, 270)},
      {"Text5", "Frame2", "your-account", Twips(1320, 600, 3015, 270)},
      {"Text6", "Frame2", "yourpassword", Twips(1320, 960, 3015, 270)},
      {"Label2", "Form1", "status", Twips(6600, 4680, 4455, 255)},
      {"Label4", "Form1", "display coefficient", Twips(6600, 1920, 2055, 255)},
      {"Label5", "Form1", "Range", Twips(8880, 1920, 975, 255)},
      {"Label6", "Form1", "Background", Twips(8880, 2160, 1335, 255)},
      {"Text2", "Form1", "10", Twips(10080, 1800, 735, 270)},
      {"Text7", "Form1", "1.5", Twips(10080, 2160, 735, 270)},
  };
  RecordingForm1& window = Window();
  EXPECT_EQ(window.windowTitle().toStdString(), "Tamsel QOR Live Camera Ver 1.00");
  EXPECT_EQ(window.size(), QSize(743, 336));
  for (const auto& c : controls) {
    QWidget* widget = Control<QWidget>(c.name);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->geometry(), c.geometry) << c.name;
    EXPECT_EQ(widget->parentWidget()->objectName().toStdString(), c.parent) << c.name;
    if (!c.text) continue;
    QString text;
    if (auto* label = qobject_cast<QLabel*>(widget)) text = label->text();
    if (auto* box = qobject_cast<QLineEdit*>(widget)) text = box->text();
    if (auto* button = qobject_cast<QPushButton*>(widget)) text = button->text();
    if (auto* frame = qobject_cast<QGroupBox*>(widget)) text = frame->title();
    EXPECT_EQ(text.toStdString(), c.text) << c.name;
  }
  EXPECT_EQ(Control("Text5")->text().size(), 12);
  EXPECT_EQ(Control("Text6")->text().size(), 12);
  EXPECT_EQ(Control("Text5")->echoMode(), QLineEdit::Password);
  EXPECT_EQ(Control("Text6")->echoMode(), QLineEdit::Password);
  EXPECT_EQ(Control("Text4")->echoMode(), QLineEdit::Normal);
  EXPECT_EQ(Control<QWidget>("Picture1")->contentsRect().size(), QSize(423, 316));
  EXPECT_FALSE(window.timer().isActive());
  EXPECT_EQ(window.timer().interval(), 60000);
  EXPECT_EQ(window.FrameCounter(), 0);

  const char* tab_order[] = {"Picture1", "Command1", "Command2", "Text1", "Text3", "Text4", "Text5", "Text6", "Text2", "Text7"};
  for (size_t i = 0; i + 1 < std::size(tab_order); ++i)
    EXPECT_EQ(NextTabStop(Control<QWidget>(tab_order[i])), Control<QWidget>(tab_order[i + 1])) << tab_order[i];
}

TEST_F(WindowTest, SettingsComeThroughOpeningAndClosingByteForByte) {
  const std::string file = "/data/qor/live.fts\r\n  Kiso Observatory  \r\nftp.example.org:2121\r\n\r\np@ss w0rd\r\n 1 0\r\n1,5\r\nextra\r\n";
  WriteBytes("qor_live.ini", {file.begin(), file.end()});
  Window();
  EXPECT_EQ(store_.RangeFactor, 10);
  EXPECT_EQ(store_.BackgroundFactor, 1);
  EXPECT_EQ(Control("Text5")->text().toStdString(), "");
  Window().close();
  const std::vector<uint8_t> saved = ReadBytes("qor_live.ini");
  EXPECT_EQ(std::string(saved.begin(), saved.end()), file.substr(0, file.find("extra")));
}

// A settings file as a Windows machine writes it: a Shift-JIS caption, a Latin-1 password, and a
// path longer than a line edit holds by default. Every byte comes back, and the texts show.
TEST_F(WindowTest, SettingsInEightBitCodePagesAndLongLinesComeBackByteForByte) {
  const std::string path = "/data/" + std::string(40000, 'x') + "/live.fts";
  const std::string caption = "\x93\x8c\x8b\x9e\x93\x56\x95\xb6\x91\xe4";  // Tokyo Observatory
  const std::string password = "p\xE4ss w\xF6rd";
  const std::string file = path + "\r\n" + caption + "\r\nftp.example.org\r\nobserver\r\n" + password + "\r\n10\r\n1.5\r\n";
  WriteBytes("qor_live.ini", {file.begin(), file.end()});
  EXPECT_EQ(Control("Text3")->text(), QString::fromUtf8("東京天文台"));
  EXPECT_EQ(Control("Text1")->text().size(), static_cast<qsizetype>(path.size()));
  EXPECT_EQ(Window().PasswordText(), password) << "the server gets the bytes of the file";
  Window().close();
  const std::vector<uint8_t> saved = ReadBytes("qor_live.ini");
  EXPECT_EQ(std::string(saved.begin(), saved.end()), file);
}

// A directory or a FIFO where the settings file should be: the window opens with the defaults at
// once, and closing it leaves that path alone.
TEST_F(WindowTest, ASettingsPathThatIsNoFileNeitherStopsNorBlocksTheWindow) {
  ASSERT_TRUE(std::filesystem::create_directory("qor_live.ini"));
  EXPECT_EQ(Control("Text2")->text().toStdString(), "10");
  std::string warning;
  AnswerNextBox(&warning);
  Window().close();
  EXPECT_NE(warning.find("qor_live.ini"), std::string::npos) << warning;
  EXPECT_TRUE(std::filesystem::is_directory("qor_live.ini"));
  window_.reset();

#ifndef _WIN32  // Windows keeps no FIFO among files: the folder above is its case
  std::filesystem::remove("qor_live.ini");
  ASSERT_TRUE(MakeFifo("qor_live.ini"));
  alarm(10);  // a window that waits for a writer of the FIFO ends this test program instead
  EXPECT_EQ(Control("Text2")->text().toStdString(), "10");
  alarm(0);
  AnswerNextBox(&warning);
  Window().close();
  EXPECT_TRUE(std::filesystem::is_fifo("qor_live.ini"));
#endif
}

// A live file path that looks like HTML is shown as it is, in the message box and the status
// line; and the window opens with the focus on the picture, so a stray Space starts nothing.
TEST_F(WindowTest, TextsAreShownAsPlainTextAndTheFocusStartsOnThePicture) {
  Window().show();
  QApplication::setActiveWindow(&Window());
  ASSERT_TRUE(QTest::qWaitForWindowActive(&Window()));
  ASSERT_EQ(QApplication::focusWidget(), Control<QWidget>("Picture1"));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
  EXPECT_TRUE(Window().statuses.empty());

  // Entities, which rich text would show as a bold "cam": Windows takes no "<" in a name.
  const std::string cam = dir_.File("&lt;b&gt;cam&lt;");
  std::filesystem::create_directories(cam + "/b&gt;");
  FitsBuilder::Frame(64, 2, 2).Write(cam + "/b&gt;/live.fts");
  store_.LiveFilePath = cam + "/b&gt;/live.fts";
  int format = -1;
  auto* poll = new QTimer();
  QObject::connect(poll, &QTimer::timeout, [poll, &format] {
    if (QWidget* box = QApplication::activeModalWidget()) {
      format = box->property("textFormat").toInt();
      box->close();
      poll->deleteLater();
    }
  });
  poll->start(20);
  Window().cycle().Run();
  EXPECT_EQ(format, Qt::PlainText);
  EXPECT_EQ(Control<QLabel>("Label2")->textFormat(), Qt::PlainText);
}

TEST_F(WindowTest, MissingOrShortSettingsKeepTheDefaults) {
  WriteBytes("qor_live.ini", {'/', 'x', '\r'});
  Window();
  EXPECT_EQ(Control("Text1")->text().toStdString(), "/x");
  EXPECT_EQ(Control("Text2")->text().toStdString(), "10");
  EXPECT_EQ(store_.RangeFactor, 10);
  EXPECT_EQ(store_.BackgroundFactor, 1.5);
}

TEST_F(WindowTest, CoefficientsFollowEveryKeystroke) {
  QLineEdit* background = Control("Text7");
  background->clear();
  EXPECT_EQ(store_.BackgroundFactor, 0);
  std::vector<double> seen;
  for (const char* key : {"1", ".", "5"}) {
    QTest::keyClicks(background, key);
    seen.push_back(store_.BackgroundFactor);
  }
  EXPECT_EQ(seen, (std::vector<double>{1, 1, 1.5}));
  Control("Text2")->setText("abc");
  EXPECT_EQ(store_.RangeFactor, 0);
}

TEST_F(WindowTest, StopBeforeStartAndUnconnectedStart) {
  QTest::mouseClick(Control<QPushButton>("Command2"), Qt::LeftButton);
  EXPECT_EQ(Window().statuses, (std::vector<std::string>{"Live stop", "FTP close OK"}));
  EXPECT_EQ(Window().FrameCounter(), 0);
  EXPECT_FALSE(Window().timer().isActive());
}

}  // namespace
