#include "app/main_window.h"

#include <QCoreApplication>
#include <QMessageBox>

#include <cstdio>

#include "app/settings_file.h"
#include "fits/text_numbers.h"

namespace {

// The design's positions are in twips, 15 to a pixel (6400 twips make 427 pixels).
int Pixels(int twips) { return (twips + 7) / 15; }
QRect Twips(int left, int top, int width, int height) {
  return QRect(Pixels(left), Pixels(top), Pixels(width), Pixels(height));
}

// A settings line is never cut to the default 32767 characters of a line edit.
constexpr int kLongestBoxText = 1 << 24;

QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption, QRect where) {
  auto* label = new QLabel(QString::fromLatin1(caption), parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(where);
  label->setTextFormat(Qt::PlainText);  // a path such as /data/<b>cam</b> is shown as it is
  return label;
}

QLineEdit* MakeBox(QWidget* parent, const char* name, const QString& text, QRect where,
                   bool masked = false) {
  auto* box = new QLineEdit(text, parent);
  box->setObjectName(QString::fromLatin1(name));
  box->setMaxLength(kLongestBoxText);
  box->setGeometry(where);
  if (masked) {
    box->setEchoMode(QLineEdit::Password);
    box->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));  // "*"
  }
  return box;
}

double FactorOf(const QLineEdit* box) { return NumericValueOfText(box->text().toUtf8().toStdString()); }

}  // namespace

Form1::Form1(FrameStore& store, FtpClient& ftp) : store_(store), core_(store, ftp, *this) {
  Build();
  Form_Load();
}

void Form1::Build() {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QString::fromLatin1(kWindowTitle));
  setFixedSize(11145 / 15, 5040 / 15);

  picture1_ = new PictureView(core_.picture(), this);
  picture1_->setObjectName(QStringLiteral("Picture1"));
  picture1_->setGeometry(Twips(120, 120, 6400, 4800));

  frame1_ = new QGroupBox(QStringLiteral("Live"), this);
  frame1_->setObjectName(QStringLiteral("Frame1"));
  frame1_->setGeometry(Twips(6600, 3840, 4455, 735));
  command1_ = new QPushButton(QStringLiteral("Start"), frame1_);
  command1_->setObjectName(QStringLiteral("Command1"));
  command1_->setGeometry(Twips(720, 240, 1455, 375));
  command2_ = new QPushButton(QStringLiteral("Stop"), frame1_);
  command2_->setObjectName(QStringLiteral("Command2"));
  command2_->setGeometry(Twips(2640, 240, 1455, 375));

  label1_ = MakeLabel(this, "Label1", "QOR data destination", Twips(6600, 240, 3375, 255));
  text1_ = MakeBox(this, "Text1", QString::fromLatin1(kDefaultSettingsTexts[0]), Twips(6600, 480, 4455, 375));
  label3_ = MakeLabel(this, "Label3", "Letter of screens", Twips(6600, 1080, 1575, 255));
  text3_ = MakeBox(this, "Text3", QString::fromLatin1(kDefaultSettingsTexts[1]), Twips(6600, 1320, 4455, 375));

  frame2_ = new QGroupBox(QStringLiteral("FTP"), this);
  frame2_->setObjectName(QStringLiteral("Frame2"));
  frame2_->setGeometry(Twips(6600, 2400, 4455, 1335));
  label7_ = MakeLabel(frame2_, "Label7", "server name", Twips(120, 240, 1215, 255));
  label8_ = MakeLabel(frame2_, "Label8", "account", Twips(120, 600, 1095, 255));
  label9_ = MakeLabel(frame2_, "Label9", "password", Twips(120, 960, 1335, 255));
  text4_ = MakeBox(frame2_, "Text4", QString::fromLatin1(kDefaultSettingsTexts[2]), Twips(1320, 240, 3015, 270));
  text5_ = MakeBox(frame2_, "Text5", QString::fromLatin1(kDefaultSettingsTexts[3]), Twips(1320, 600, 3015, 270), true);
  text6_ = MakeBox(frame2_, "Text6", QString::fromLatin1(kDefaultSettingsTexts[4]), Twips(1320, 960, 3015, 270), true);

  label2_ = MakeLabel(this, "Label2", "status", Twips(6600, 4680, 4455, 255));
  label4_ = MakeLabel(this, "Label4", "display coefficient", Twips(6600, 1920, 2055, 255));
  label5_ = MakeLabel(this, "Label5", "Range", Twips(8880, 1920, 975, 255));
  label6_ = MakeLabel(this, "Label6", "Background", Twips(8880, 2160, 1335, 255));
  text2_ = MakeBox(this, "Text2", QString::fromLatin1(kDefaultSettingsTexts[5]), Twips(10080, 1800, 735, 270));
  text7_ = MakeBox(this, "Text7", QString::fromLatin1(kDefaultSettingsTexts[6]), Twips(10080, 2160, 735, 270));

  // Tab order of the design: the picture, Start, Stop, then the boxes from the live file path
  // down. The window opens with the focus on the picture, so that a stray Space starts nothing.
  picture1_->setFocusPolicy(Qt::StrongFocus);
  QWidget* order[] = {picture1_, command1_, command2_, text1_, text3_, text4_, text5_, text6_, text2_, text7_};
  for (size_t i = 0; i + 1 < std::size(order); ++i) QWidget::setTabOrder(order[i], order[i + 1]);
  picture1_->setFocus();

  connect(text2_, &QLineEdit::textChanged, this, [this] { Text2_Change(); });
  connect(text7_, &QLineEdit::textChanged, this, [this] { Text7_Change(); });
  connect(command1_, &QPushButton::clicked, this, [this] { Command1_Click(); });
  connect(command2_, &QPushButton::clicked, this, [this] { Command2_Click(); });
}

std::array<QLineEdit*, kSettingsLines> Form1::SettingsBoxes() const {
  return {text1_, text3_, text4_, text5_, text6_, text2_, text7_};
}

std::string Form1::BoxBytes(int line) const { return settings_texts_.BytesFor(line, SettingsBoxes()[line]->text()); }

void Form1::Form_Load() {
  const SettingsBytes file = core_.ReadSettings();
  settings_read_ = file.read;
  const auto boxes = SettingsBoxes();
  for (int i = 0; i < kSettingsLines; ++i) {
    if (!file.lines[i]) continue;  // a box the file does not reach keeps its default
    const QString text = DecodeSettingsText(*file.lines[i]);
    boxes[i]->setText(text);
    if (boxes[i]->text() == text) settings_texts_.Remember(i, *file.lines[i], text);
  }
  core_.Reset(BoxBytes(5), BoxBytes(6));
}

void Form1::Form_Unload() {
  std::array<std::string, kSettingsLines> lines;
  for (int i = 0; i < kSettingsLines; ++i) lines[i] = BoxBytes(i);
  // A file that was there but could not be read at start is the user's: it is not overwritten.
  const Outcome saved = settings_read_.ok ? SaveSettingsBytes(kSettingsFileName, lines)
                                          : Outcome::Failure("it could not be read at start (" +
                                                             settings_read_.reason + "), so it is left as it is");
  if (!saved.ok) core_.log().Add(QStringLiteral("Settings NG:") + QString::fromUtf8(saved.reason));
  if (!saved.ok && unattended_close_) {
    std::fprintf(stderr, "qor_live: the settings could not be saved to qor_live.ini: %s\n", saved.reason.c_str());
  } else if (!saved.ok) {
    QMessageBox box(QMessageBox::Warning, windowTitle(),
                    QStringLiteral("The settings could not be saved to qor_live.ini: ") +
                        QString::fromUtf8(saved.reason),
                    QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
  }
}

void Form1::Text2_Change() { store_.RangeFactor = FactorOf(text2_); }
void Form1::Text7_Change() { store_.BackgroundFactor = FactorOf(text7_); }

void Form1::Command1_Click() { core_.Start(); }
void Form1::Command2_Click() { core_.Stop(); }

void Form1::Timer1_Timer() { core_.Tick(); }

void Form1::Yield() { QCoreApplication::processEvents(QEventLoop::AllEvents); }
void Form1::Breathe() { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }

void Form1::ShowHeaderError(const QString& text, const QString&) {
  if (unattended_close_) return;  // nobody is there to answer: the cycle goes on at once
  QMessageBox box(QMessageBox::NoIcon, windowTitle(), text, QMessageBox::Ok, this);
  box.setObjectName(QStringLiteral("HeaderErrorBox"));
  box.setTextFormat(Qt::PlainText);
  header_box_ = &box;
  box.exec();
  header_box_ = nullptr;
}

void Form1::CycleEnded() {
  // The texts stay the design's; red says that something in the last cycle went wrong.
  label2_->setStyleSheet(failure_in_cycle_ ? QStringLiteral("QLabel { color: red; }") : QString());
}

void Form1::ShowStatus(const QString& text, const QString&) {
  label2_->setText(text);
  ShowToolTip();
  if (text.contains(QStringLiteral("NG"))) failure_in_cycle_ = true;
}

void Form1::ShowToolTip() {
  const QString log = core_.log().Recent().join(QLatin1Char('\n'));
  label2_->setToolTip(sky_summary_.isEmpty() ? log : sky_summary_ + QStringLiteral("\n\n") + log);
}

void Form1::ShowSky(const QString& summary) {
  sky_summary_ = summary;
  ShowToolTip();
}

void Form1::ShowWaitingToStop(const QString& text) {
  label2_->setText(text);
  label2_->repaint();  // the cycle runs on until its upload ends: shown now, not after it
}

void Form1::StopRequested() {
  unattended_close_ = true;
  if (header_box_) header_box_->done(QMessageBox::Ok);  // answered as OK: the cycle goes on
}

void Form1::closeEvent(QCloseEvent* event) {
  if (!core_.MayCloseNow()) {
    event->ignore();  // closed once the cycle or Start has ended
    return;
  }
  Form_Unload();
  event->accept();
}
