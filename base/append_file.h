// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Adding lines to a file that lives long (the station's log, known_hosts) without ever waiting on
// what may have been put in its place.

#include <string>

#include "base/outcome.h"

struct AppendOptions {
  bool follow_link = true;     // false: a link in the file's place is refused, not written through
  bool end_open_line = false;  // a file whose last byte is not a newline gets one first
  bool start_anew = false;     // the file is emptied before the text goes in
  bool private_file = false;   // made readable by its owner only (a file of secrets' neighbours)
};

/// Appends `text` to the regular file at `path`, made when it is not there. A FIFO, a device or a
/// folder in its place is refused at once with "not a regular file", never waited on.
Outcome AppendToFile(const std::string& path, const std::string& text, AppendOptions options = {});
