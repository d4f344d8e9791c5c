#pragma once
// Reads the live FITS frame that the capture software keeps rewriting into the frame store.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <thread>
#include <string>
#include <vector>

#include "base/file_state.h"
#include "fits/frame_store.h"

/// Where a rejected header is reported; the window shows it in a modal box and returns on OK.
class HeaderErrorSink {
 public:
  virtual ~HeaderErrorSink() = default;
  virtual void ShowHeaderError(const std::string& message) = 0;
  /// Waits `duration` before a file that was written to while it was read is read again (up to
  /// two seconds on a file system that keeps whole seconds); a window keeps breathing meanwhile.
  virtual void Pause(std::chrono::nanoseconds duration) { std::this_thread::sleep_for(duration); }
  /// Runs one attempt at reading the file, which for a large frame takes tens of milliseconds; a
  /// window runs it beside itself and keeps repainting. The sink's other calls come from the
  /// reader's own thread.
  virtual void RunAttempt(const std::function<void()>& attempt) { attempt(); }
};

enum class ReadStatus {
  kOk,
  kHeaderError,  // reported through the sink; the cycle goes on with the previous frame
  kFileError,    // missing, unreadable, truncated or beyond the limits; not reported to the sink
};

struct ReadResult {
  ReadStatus status = ReadStatus::kOk;
  std::string message;  // header error: path + text as shown; file error: short reason
  /// For an accepted frame: a digest of its data bytes and size, so that a file rewritten with the
  /// same frame can be told from a new one; and the file's modification time (seconds since 1970).
  uint64_t data_digest = 0;
  int64_t modified = 0;
};

/// Keeps its byte buffers across reads, so that after the first frame a read allocates nothing.
class FrameReader {
 public:
  /// Reads `store.LiveFilePath` into `store`. On any rejection the extremes are -1 and 2147483647
  /// and the pixels keep the previous frame; a header error has also set the cards and keywords.
  /// A file that changes while it is read is read once more after a short pause, then refused.
  ReadResult ReadLiveFrame(FrameStore& store, HeaderErrorSink& sink);
  /// Also reads the green and blue planes of a frame with NAXIS3 = 3 (for a colour picture);
  /// otherwise such a frame is read as its first plane, as always.
  void set_colour_planes(bool read) { colour_planes_ = read; }
  /// The live file as the station's own camera left it, written whole under another name and
  /// renamed into place: while the file read is still that one, unchanged, no write can be under
  /// way, so its read need not wait for a write that might not have shown yet.
  void TrustWhole(const FileState& written) { trusted_ = written; }

 private:
  /// One attempt; nothing when the file changed while it was read.
  std::optional<ReadResult> ReadOnce(FrameStore& store);

  std::vector<uint8_t> buffer_;
  std::vector<uint8_t> second_buffer_;  // for the parts read on the other core
  FileState last_seen_{};               // the file as the last attempt left it
  bool colour_planes_ = false;
  std::optional<FileState> trusted_;
};
