// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// sky-reference.json in the working folder: the clear-sky reference the station has learned over
// the last 30 nights, kept across restarts. Written atomically; a damaged file is put aside and
// the reference learned afresh.

#include <string>

#include "base/outcome.h"
#include "sky/clear_reference.h"

inline constexpr const char* kSkyReferenceFileName = "sky-reference.json";

/// Reads the reference at `path`. A missing file is an empty reference; a damaged one is
/// renamed to PATH.damaged and refused with the reason, leaving `reference` empty.
Outcome LoadSkyReference(const std::string& path, ClearReference& reference);
Outcome SaveSkyReference(const std::string& path, const ClearReference& reference);
