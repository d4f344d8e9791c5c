// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/part_check.h"

#include <algorithm>

bool PartMatchesFile(const RegularFile& file, uint64_t size, const ReadPart& read) {
  constexpr uint64_t kBlock = 32 * 1024;
  constexpr int kBlocks = 8;
  const size_t length = static_cast<size_t>(std::min(kBlock, size));
  std::string ours(length, '\0'), theirs;
  for (int i = 0; i < kBlocks; ++i) {
    const uint64_t at = (size - length) * static_cast<uint64_t>(i) / (kBlocks - 1);
    if (!file.ReadAt(at, ours.data(), length).ok || !read(at, length, theirs) || theirs != ours) return false;
  }
  return true;
}
