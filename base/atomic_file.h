#pragma once
// Writing the station's files: replacing one so that readers see either the old file or the whole
// new one, never a part; or writing over one that has the same size every cycle.

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

#include "base/outcome.h"

enum class Durability {
  kFlushed,      // flushed before it takes the name, and the name flushed after: survives a power cut
  kReplaceOnly,  // a file made anew every cycle: readers never see a part, no flush is waited for
};

/// Writes `size` bytes under a temporary name beside `path`, flushes them to disk (unless asked
/// not to) and renames the result over `path`. On any failure the temporary file is removed and
/// `path` is left as it was. The file gets `mode` less the process umask.
Outcome WriteFileAtomically(const std::string& path, const void* data, size_t size,
                            mode_t mode = 0666, Durability durability = Durability::kFlushed);

/// A file written in pieces under a temporary name beside `path`, which it takes only at Commit:
/// for a file too large to be made in memory first. Dropped without a commit, the temporary file
/// is removed and `path` is left as it was.
class AtomicFileWriter {
 public:
  explicit AtomicFileWriter(const std::string& path, mode_t mode = 0666);
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  /// Why the temporary file could not be made; success where it was.
  const Outcome& opened() const { return opened_; }
  /// Writes `size` bytes at `offset` of the new file.
  Outcome WriteAt(uint64_t offset, const void* data, size_t size);
  /// Flushes (unless asked not to) and renames the new file over `path`.
  Outcome Commit(Durability durability = Durability::kFlushed);

 private:
  std::string path_;
  std::string temporary_;
  intptr_t handle_ = -1;  // a descriptor, or a Windows handle
  bool committed_ = false;
  Outcome opened_;
};

/// Six letters or digits for a temporary name beside a file, as mkstemp makes them: unlikely to
/// meet another's (creating the file exclusively settles a meeting), not secret.
std::string TemporarySuffix();

/// Writes `size` bytes over the regular file at `path` from its start and cuts it to `size`, with
/// no new file and no truncation first (on ext4 that would start the file's write-back at once); a
/// file that is not there yet is made with `mode` less the umask. A link is followed, as an
/// ordinary write would; a directory, FIFO or device is refused without waiting ("not a regular
/// file"). A reader may see part of the earlier content while the new one is written.
Outcome OverwriteFile(const std::string& path, const void* data, size_t size, mode_t mode = 0666);

/// Flushes the regular file at `path` to disk (a file another writer made, before it is renamed).
Outcome FlushFile(const std::string& path);

/// Renames the finished file `from` (flushed by its writer) over `path`, the rename itself made
/// durable; a `path` that another program holds open is waited for, within two seconds.
Outcome PutInPlace(const std::string& from, const std::string& path);
