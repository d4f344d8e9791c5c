// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Whether a file read in place may have been written to while it was read. A capture program
// that rewrites the live file can be caught half way: the header of one frame with the pixels of
// the next. A file whose size, times or identity moved during the read was written to. So may a file
// last modified within one tick of its file system's clock of the read's start: a later write in
// that tick leaves its times as they were. Nothing can tell a writer that pauses half way for
// longer than that from one that has finished.

#include <chrono>

#include "base/file_state.h"

/// How finely the file system keeps this file's times. Times with no sub-second part mean a file
/// system that keeps whole seconds (ext4 with small inodes, SMB shares, many NAS volumes) or two
/// (FAT): two seconds is assumed. Otherwise the kernel's coarse clock, a few milliseconds.
std::chrono::nanoseconds TimestampResolution(const FileState& info);

/// True when the file may have been written to between `before` (its state when opened at
/// `opened_at`) and `after` (its state once read).
bool MaybeWrittenDuringRead(const FileState& before, const FileTime& opened_at, const FileState& after);

/// How long to wait before reading again, so that the file's clock has moved past its time.
std::chrono::nanoseconds SettlePause(const FileState& after, const FileTime& now);
