// The live-camera station: one window that publishes the camera's newest frame once a minute.

#include <QApplication>

#include "app/main_window.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  static FrameStore store;  // 9.4 MB of pixels: created once, for the whole run
  FtpClient ftp;
  Form1 window(store, ftp);
  window.show();
  return application.exec();
}
