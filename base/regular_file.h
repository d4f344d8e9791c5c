#pragma once
// Reading files that may not be what they seem: a FIFO or a device must never block the station,
// a directory must never end it, and a file that shrinks while read must say so.

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/file_state.h"
#include "base/outcome.h"

/// A regular file open for reading, closed when it goes out of scope.
class RegularFile {
 public:
  RegularFile() = default;
  ~RegularFile();
  RegularFile(const RegularFile&) = delete;
  RegularFile& operator=(const RegularFile&) = delete;

  /// Opens `path` without blocking (a FIFO with no writer would otherwise wait forever) and
  /// refuses anything that is not a regular file with the reason "not a regular file".
  Outcome Open(const std::string& path);
  /// Reads exactly `size` bytes at `offset`; a file that ends first fails with "the file ended
  /// early" rather than a stale system error.
  Outcome ReadAt(uint64_t offset, void* buffer, size_t size) const;
  /// The file's state now (size, times, identity).
  Outcome Stat(FileState& state) const;

  const FileState& info() const { return info_; }  // as it was when opened

 private:
  intptr_t handle_ = -1;  // a descriptor, or a Windows handle
  FileState info_{};
};

/// Reads a whole regular file of at most `limit` bytes into `bytes`.
Outcome ReadRegularFile(const std::string& path, size_t limit, std::string& bytes);

/// True when `path` exists and is not a regular file (a directory, a FIFO, a device); a link is
/// judged by what it points to.
bool IsPresentButNotRegular(const std::string& path);

/// What is at `path` itself, a link not followed. Windows' links and junctions are reparse points;
/// the standard library on Windows does not tell them from what they point to.
enum class PathKind { kMissing, kRegular, kLink, kOther };
PathKind KindAt(const std::string& path);
