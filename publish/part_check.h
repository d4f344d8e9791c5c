// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Whether a part left on the server is still what was sent of a file: blocks of it read back
// (at the start, the end and evenly between) must equal the file's. A part overwritten, cut and
// refilled, or replaced by another file of the same size, differs in one of them.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "base/regular_file.h"

/// Reads `length` bytes of the part from `at` into `bytes`; false where the server cannot.
using ReadPart = std::function<bool(uint64_t at, size_t length, std::string& bytes)>;

/// True where the first `size` bytes of the part, as `read` gives them, match `file`'s.
bool PartMatchesFile(const RegularFile& file, uint64_t size, const ReadPart& read);
