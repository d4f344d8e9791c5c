#pragma once
// A station window in a working directory of its own, with every status text it showed.

#include <filesystem>

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
    std::error_code error;
    previous_dir_ = std::filesystem::current_path(error);
    std::filesystem::current_path(dir_.path(), error);
    if (error) ADD_FAILURE() << "cannot go to " << dir_.path();
  }
  ~WindowTest() override {
    window_.reset();
    std::error_code error;
    std::filesystem::current_path(previous_dir_, error);
    if (error) ADD_FAILURE() << "cannot go back to " << previous_dir_;
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
  std::filesystem::path previous_dir_;
  static inline FrameStore store_;
  FtpClient ftp_{FtpTimeouts{std::chrono::seconds(5), std::chrono::seconds(5), std::chrono::seconds(20)}};
  std::unique_ptr<RecordingForm1> window_;
};
