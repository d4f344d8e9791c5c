#pragma once
// A station window in a working directory of its own, with every status text it showed.

#include <unistd.h>

#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "app/main_window.h"
#include "tests/support/temp_dir.h"

class RecordingForm1 : public Form1 {
 public:
  using Form1::Form1;
  void ShowStatus(const QString& text, const QString& logged) override {
    statuses.push_back(text.toStdString());
    Form1::ShowStatus(text, logged);
  }
  std::vector<std::string> statuses;
};

class WindowTest : public ::testing::Test {
 protected:
  WindowTest() {
    char previous[4096];
    previous_dir_ = getcwd(previous, sizeof previous) ? previous : "/";
    if (chdir(dir_.path().c_str()) != 0) ADD_FAILURE() << "chdir";
  }
  ~WindowTest() override {
    window_.reset();
    if (chdir(previous_dir_.c_str()) != 0) ADD_FAILURE() << "chdir back";
  }
  RecordingForm1& Window() {
    if (!window_) window_ = std::make_unique<RecordingForm1>(store_, ftp_);
    return *window_;
  }
  template <typename T = QLineEdit>
  T* Control(const char* name) {
    T* control = Window().findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(control, nullptr) << name;
    return control;
  }
  /// Answers the next modal box (the header error) with OK once it appears; records its text.
  void AnswerNextBox(std::string* text) {
    auto* poll = new QTimer();
    QObject::connect(poll, &QTimer::timeout, [poll, text] {
      if (QWidget* box = QApplication::activeModalWidget()) {
        *text = box->property("text").toString().toStdString();
        box->close();
        poll->deleteLater();
      }
    });
    poll->start(20);
  }

  TempDir dir_;
  std::string previous_dir_;
  static inline FrameStore store_;
  FtpClient ftp_{FtpTimeouts{std::chrono::seconds(5), std::chrono::seconds(5), std::chrono::seconds(20)}};
  std::unique_ptr<RecordingForm1> window_;
};
