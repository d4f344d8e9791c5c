#pragma once
// One live cycle: read the live frame, stretch and draw it, letter it, export it, upload it, and
// every ninth cycle archive the raw frame. The window drives it from its timer and from Start.

#include <cstdint>

#include <QDateTime>
#include <QString>

#include "display/picture_surface.h"
#include "fits/fits_reader.h"
#include "fits/frame_store.h"
#include "publish/picture_publisher.h"

/// What the cycle reaches of the window.
class LiveCycleHost : public HeaderErrorSink {
 public:
  /// Lets the window handle all its pending events (clicks, edits, repaints).
  virtual void Yield() = 0;
  virtual void SetStatus(const QString& text) = 0;
  virtual QString SiteCaption() const = 0;   // Text3, read when the picture is lettered
  virtual std::string LiveFileText() const = 0;  // Text1's bytes, read when an archive is named
  virtual QDateTime Now() const = 0;
};

class LiveCycle {
 public:
  static constexpr int16_t kArchiveEvery = 9;

  LiveCycle(FrameStore& store, PictureSurface& picture, PicturePublisher& publisher, LiveCycleHost& host)
      : store_(store), picture_(picture), publisher_(publisher), host_(host) {}

  /// Runs one cycle (Timer1_Timer). A call made while a cycle runs, from a handler at one of its
  /// yields or while the reader's message box waits, is skipped: it returns false at once.
  bool Run();
  bool running() const { return running_; }

  int16_t frame_counter() const { return frame_counter_; }
  void set_frame_counter(int16_t value) { frame_counter_ = value; }

 private:
  void Steps();

  FrameStore& store_;
  PictureSurface& picture_;
  PicturePublisher& publisher_;
  LiveCycleHost& host_;
  FrameReader reader_;
  int16_t frame_counter_ = 0;
  bool running_ = false;
};
