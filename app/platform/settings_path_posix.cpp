// SPDX-License-Identifier: GPL-3.0-or-later
// POSIX paths are bytes: the settings' bytes name the file as they stand.
#include "app/platform/settings_path.h"

std::optional<std::string> FilePathFromSettings(const std::string& bytes) { return bytes; }
