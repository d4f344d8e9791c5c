#include "app/live_cycle.h"

#include "app/clock_texts.h"
#include "display/display_range.h"
#include "display/frame_render.h"
#include "display/lettering.h"
#include "display/snapshot_export.h"
#include "fits/fits_writer.h"
#include "publish/start_stop.h"

bool LiveCycle::Run() {
  if (running_) return false;
  running_ = true;
  Steps();
  running_ = false;
  return true;
}

void LiveCycle::Steps() {
  host_.Yield();
  const ReadResult read = reader_.ReadLiveFrame(store_, host_);
  if (read.status == ReadStatus::kFileError) {
    // A missing, half-written or oversized frame: publishing the last picture again under a fresh
    // time stamp would mislead, so this cycle ends here and the next tick tries again.
    host_.SetStatus(QStringLiteral("Read live file NG:") + QString::fromUtf8(read.message));
    return;
  }
  host_.Yield();
  ComputeDisplayRange(store_);
  host_.Yield();
  RenderFrame(store_, picture_);
  LetterPicture(picture_, host_.SiteCaption(), DateTimeStamp(host_.Now()));

  const Outcome exported = ExportSnapshot(picture_);
  if (exported.ok) {
    host_.SetStatus(QStringLiteral("FTP Live picture"));
    if (publisher_.FtpPutBin(kSnapshotJpeg, kSnapshotJpeg) == -1)
      host_.SetStatus(QStringLiteral("Put bin OK"));
    else
      host_.SetStatus(QStringLiteral("Put bin NG:") + QString::number(publisher_.FtpGetLastError()));
  } else {
    // Uploading the previous cycle's file would publish a stale picture as a fresh success.
    host_.SetStatus(QStringLiteral("Save picture NG:") + QString::fromUtf8(exported.reason));
  }

  ++frame_counter_;
  if (frame_counter_ == kArchiveEvery) {
    host_.SetStatus(QStringLiteral("Picture saving"));
    store_.ArchiveFilePath = ArchiveDirectoryBytes(host_.LiveFileText(), static_cast<char>(kPathSeparator)) +
                             ArchiveFileName(host_.Now()).toStdString();
    const Outcome archived = WriteArchiveFrame(store_);
    if (!archived.ok)
      host_.SetStatus(QStringLiteral("Picture saving NG:") + QString::fromUtf8(archived.reason));
    frame_counter_ = 0;
  }
  host_.SetStatus(QString::fromStdString(LiveStartText(frame_counter_)));
}
