#pragma once
// Replacing a file so that readers see either the old file or the whole new one, never a part.

#include <cstddef>
#include <string>
#include <sys/types.h>

#include "fits/outcome.h"

enum class Durability {
  kFlushed,      // flushed to the disk before it takes the name: survives a power cut
  kReplaceOnly,  // a file made anew every cycle: readers never see a part, no flush is waited for
};

/// Writes `size` bytes under a temporary name beside `path`, flushes them to disk (unless asked
/// not to) and renames the result over `path`. On any failure the temporary file is removed and
/// `path` is left as it was. The file gets `mode` less the process umask.
Outcome WriteFileAtomically(const std::string& path, const void* data, size_t size,
                            mode_t mode = 0666, Durability durability = Durability::kFlushed);
