#include "app/live_cycle.h"

#include "app/beside.h"
#include "display/clock_texts.h"
#include "app/station_report.h"
#include "display/lettering.h"
#include "display/night_products.h"
#include "display/overlay_text.h"
#include "display/snapshot_export.h"
#include "base/atomic_file.h"
#include "fits/fits_writer.h"
#include "base/free_space.h"
#include "fits/header_text.h"
#include "app/start_stop.h"

#include <QFile>

void LiveCycleHost::RunAttempt(const std::function<void()>& attempt) {
  Beside(*this, [&attempt] { attempt(); });
}

bool LiveCycle::Run() {
  if (running_) return false;
  // However the steps end, the cycle is over: a flag left set would skip every later cycle.
  struct Running {
    bool& flag;
    explicit Running(bool& f) : flag(f) { flag = true; }
    ~Running() { flag = false; }
  } running(running_);
  Steps();
  first_since_start_ = false;
  return true;
}

void LiveCycle::Status(const QString& text) {
  last_status_ = text;
  host_.SetStatus(text);
}

void LiveCycle::Steps() {
  started_ = std::chrono::steady_clock::now();
  frame_refused_ = false;
  publisher_.LimitCallsTo(started_ + options_.upload_budget);
  host_.Yield();
  const ReadResult read = reader_.ReadLiveFrame(store_, host_);
  if (read.status == ReadStatus::kOk)
    freshness_.Observe(read.data_digest, QDateTime::fromSecsSinceEpoch(read.modified), host_.Now(), host_.Monotonic());
  if (read.status == ReadStatus::kFileError) {
    // A missing, half-written or oversized frame: publishing the last picture again under a fresh
    // time stamp would mislead, so this cycle ends here and the next tick tries again.
    Status(QStringLiteral("Read live file NG:") + QString::fromUtf8(read.message));
    sky_.NoFrame("no frame read");
    Notes(events_.NoFrame(&alerts_));
    Report(host_.Now(), last_status_);
    return;
  }
  // A refused header leaves the last frame's pixels under its own axes and no extremes: a picture
  // drawn from them is garbage (black or white) under a fresh time stamp. The last good picture is
  // published again instead, marked as old, as the design's cycle goes on with the last frame.
  const bool refused = read.status == ReadStatus::kHeaderError && !last_good_.isNull();
  host_.Yield();
  if (refused) {
    picture_.ShowAgain(last_good_);
  } else {
    // A master dark and hot pixels to remove change the frame the picture is drawn from.
    // A pass over the frame: beside the window, as the drawing is.
    if (read.status == ReadStatus::kOk && sky_.active()) Notes(Beside(host_, [this] { return sky_.Prepare(store_); }));
    // A large frame's passes take tens of milliseconds: they run beside the window, which shows
    // the last picture until the new one is drawn.
    Beside(host_, [this] { painter_.ComputeRange(store_); });
    host_.Yield();
    Beside(host_, [this] { painter_.Draw(store_); });
    painter_.Show(picture_);
    last_good_ = picture_.Image();  // a shallow copy, which the lettering below leaves as it is
    last_good_time_ = host_.Now();
  }
  const QDateTime now = host_.Now();
  // An old frame published under a fresh time stamp must say that it is old.
  QString stale_line;
  if (Stale() || refused)
    stale_line = QStringLiteral("NO NEW FRAME SINCE ") +
                 freshness_.last_change().value_or(last_good_time_).toString(QStringLiteral("HH:mm:ss"));
  frame_refused_ = refused;
  // The night's products want the picture without its lettering: a shallow copy, which the
  // lettering below turns into the surface's own.
  const QImage plain = night_.enabled() && !refused ? picture_.Image() : QImage();
  const QString overlay =
      options_.overlay.empty() ? QString() : OverlayText(options_.overlay, store_, StationValues());
  LetterPicture(picture_, host_.SiteCaption(), DateTimeStamp(now), stale_line, overlay);
  host_.Breathe();

  const Outcome exported = Beside(host_, [this] { return ExportSnapshot(picture_); });
  host_.Breathe();
  bool connection_failed = false;
  if (exported.ok) {
    Status(QStringLiteral("FTP Live picture"));
    if (Beside(host_, [this] { return publisher_.FtpPutBin(kSnapshotJpeg, kSnapshotJpeg); }) == -1) {
      Status(QStringLiteral("Put bin OK"));
      uploads_failed_in_row_ = 0;
    } else {
      ++uploads_failed_in_row_;
      Status(QStringLiteral("Put bin NG:") + QString::number(publisher_.FtpGetLastError()));
      connection_failed = publisher_.ConnectionFailed();
    }
  } else {
    // Uploading the previous cycle's file would publish a stale picture as a fresh success.
    Status(QStringLiteral("Save picture NG:") + QString::fromUtf8(exported.reason));
  }
  host_.Breathe();
  AnalyseTheSky(read, now);
  KeepForTheNight(now, plain, exported.ok && !refused);
  Report(now, last_status_, connection_failed);

  // The counter runs to the archive's cycle as designed; without archives, through the design's nine.
  // The archive comes before the night's uploads, which take only what is left of the interval.
  ++frame_counter_;
  if (frame_counter_ >= (options_.archive_every > 0 ? options_.archive_every : kArchiveEvery)) {
    if (options_.archive_every > 0) Archive();
    frame_counter_ = 0;
  }
  PublishNights(connection_failed);
  for (const std::string& note : publisher_.TakeNotes()) host_.Note(QString::fromUtf8(note));
  Status(QString::fromStdString(LiveStartText(frame_counter_)));
}

void LiveCycle::Notes(const std::vector<std::string>& notes) {
  for (const std::string& note : notes) host_.Note(QString::fromUtf8(note));
}

void LiveCycle::AnalyseTheSky(const ReadResult& read, const QDateTime& now) {
  if (!sky_.active()) return;
  if (read.status == ReadStatus::kOk) {
    EventFrame frame;
    if (events_.enabled()) {
      frame.digest = read.data_digest;
      frame.picture = picture_.Image();
      const FrameExtent extent = WalkableExtent(store_);
      frame.picture_scale = painter_.SizeFor(store_).design() || extent.width <= 0
                                ? 1.0 : static_cast<double>(frame.picture.width()) / extent.width;
      frame.when = now;
      frame.night_folder = night_.current_folder();
    }
    Notes(Beside(host_, [&] {
      std::vector<std::string> notes = sky_.Analyse(store_, read.data_digest, now);
      sky_.Restore(store_);
      frame.signal = sky_.signal();
      for (std::string& note : events_.Frame(frame, &alerts_)) notes.push_back(std::move(note));
      return notes;
    }));
  } else {
    sky_.NoFrame("no new frame: its header was refused");
    sky_.Restore(store_);
    Notes(events_.NoFrame(&alerts_));
  }
  host_.SkyAnalysed(sky_.Summary());
}

std::map<std::string, std::string> LiveCycle::StationValues() const {
  std::map<std::string, std::string> values = sky_.OverlayValues();
  if (events_.enabled()) values["METEORS"] = events_.OverlayValue();
  return values;
}

void LiveCycle::KeepForTheNight(const QDateTime& now, const QImage& plain, bool saved) {
  if (!night_.enabled()) return;
  Notes(night_.Begin(now));
  if (saved) Notes(night_.Keep(now, kSnapshotJpeg, plain, RawBackground(store_), sky_.CsvLine(now)));
}

void LiveCycle::PublishNights(bool connection_failed) {
  // Start runs a cycle before it starts the timer: time spent here would delay the next picture.
  if (!night_.enabled() || first_since_start_ || !night_.HasUploads() || connection_failed) return;
  // A quarter of the interval is left for the next cycle to begin on time; counted in milliseconds,
  // since whole seconds leave nothing of a 1 s interval.
  const auto next_cycle = started_ + std::chrono::milliseconds(options_.interval) * 3 / 4;
  if (std::chrono::steady_clock::now() >= next_cycle) return;
  publisher_.LimitCallsTo(std::min(started_ + options_.upload_budget, next_cycle));
  Notes(Beside(host_, [this] { return night_.Publish(NightPublisher::Through(publisher_)); }));
}

void LiveCycle::EndNight() {
  first_since_start_ = true;
  Notes(night_.Stop());
}

bool LiveCycle::Stale() const {
  return options_.stale_after.count() > 0 && freshness_.Stale(host_.Monotonic(), options_.stale_after);
}

void LiveCycle::Archive() {
  Status(QStringLiteral("Picture saving"));
  const std::string directory = ArchiveDirectoryBytes(host_.LiveFileText(), static_cast<char>(kPathSeparator));
  store_.ArchiveFilePath = directory + ArchiveFileName(host_.Now()).toStdString();
  // A disk filled with archives would take the pictures and the settings down with it.
  if (const std::optional<uint64_t> free = SpaceBelowFloor()) {
    Status(QStringLiteral("Picture saving NG:only %1 MB free").arg(*free >> 20));
    return;
  }
  const Outcome archived = Beside(host_, [this] { return WriteArchiveFrame(store_); });
  if (!archived.ok) Status(QStringLiteral("Picture saving NG:") + QString::fromUtf8(archived.reason));
}

std::optional<uint64_t> LiveCycle::SpaceBelowFloor() const {
  if (options_.archive_floor_mb == 0) return std::nullopt;
  const std::string directory = ArchiveDirectoryBytes(host_.LiveFileText(), static_cast<char>(kPathSeparator));
  const std::optional<uint64_t> free = FreeBytes(directory);
  if (free && *free < options_.archive_floor_mb * (uint64_t{1} << 20)) return free;
  return std::nullopt;
}

void LiveCycle::Alert(const QDateTime& when, const QByteArray& report) {
  if (!options_.alerts.any()) return;
  AlertMoment moment;
  moment.conditions.now = host_.Monotonic();
  moment.conditions.stale = Stale() || frame_refused_;
  moment.conditions.uploads_failed_in_row = uploads_failed_in_row_;
  moment.conditions.disk_low = SpaceBelowFloor().has_value();
  if (const std::optional<SkyReading> sky = sky_.Reading(); sky && sky->measured()) moment.conditions.clear = sky->clear;
  moment.conditions.meteors = events_.new_meteors();
  moment.time = IsoLocalTime(when).toStdString();
  moment.station = host_.SiteCaption().toStdString();
  if (const std::optional<QDateTime> changed = freshness_.last_change())
    moment.stale_since = changed->toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
  moment.log = host_.RecentLog();
  moment.picture = [] {
    QFile picture(QString::fromUtf8(kSnapshotJpeg));
    return picture.open(QIODevice::ReadOnly) ? picture.read(16 << 20) : QByteArray();
  };
  alerts_.Observe(moment);
  alerts_.State(report);
  Notes(alerts_.TakeNotes());
}

void LiveCycle::Report(const QDateTime& when, const QString& status, bool connection_failed) {
  StationReport report;
  report.updated = when;
  report.frame_changed = freshness_.last_change();
  report.stale = Stale() || frame_refused_;
  report.status = status;
  report.interval = static_cast<int>(options_.interval.count());
  if (store_.HeaderCardCount > 0) report.frame_time = HeaderValueText(store_, "DATE-OBS");
  report.sky = sky_.Reading();
  const QByteArray json = StationReportJson(report);
  Alert(when, json);
  const Outcome written = WriteFileAtomically(kReportFileName, json.constData(), static_cast<size_t>(json.size()), 0644,
                                            Durability::kReplaceOnly);
  if (!written.ok) {
    host_.Note(QStringLiteral("Report NG:") + QString::fromUtf8(written.reason));
    return;
  }
  if (connection_failed) return;
  if (Beside(host_, [this] { return publisher_.FtpPutBin(kReportFileName, kReportFileName); }) != -1)
    host_.Note(QStringLiteral("Report upload NG:") + QString::number(publisher_.FtpGetLastError()));
}
