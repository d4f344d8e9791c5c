#pragma once
// Writing a file that has the same size every cycle over itself: no new file and no truncation,
// which on ext4 would start the file's write-back at once.

#include <cstddef>
#include <string>
#include <sys/types.h>

#include "fits/outcome.h"

/// Writes `size` bytes over the regular file at `path` from its start and cuts it to `size`; a file
/// that is not there yet is made with `mode` less the umask. A link is followed, as an ordinary
/// write would; a directory, FIFO or device is refused without waiting ("not a regular file").
/// A reader may see part of the earlier content while the new one is written.
Outcome OverwriteFile(const std::string& path, const void* data, size_t size, mode_t mode = 0666);
