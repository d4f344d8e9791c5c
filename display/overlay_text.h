// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The observer's third line on the picture: a text in which {KEY} stands for the value of the
// live frame's header card KEY (a string without its quotes, a number as written), "-" where the
// frame has no such card.

#include <map>
#include <string>

#include <QString>

#include "fits/frame_store.h"

/// `pattern` with every {KEY} replaced. Header bytes are taken as UTF-8 where valid, else
/// Latin-1; control characters become blanks, so that any header letters safely on one line.
/// `values` (the sky's {STARS}, {SQM} and {CLEAR} with --sky) stand before the header's cards.
QString OverlayText(const std::string& pattern, const FrameStore& store,
                    const std::map<std::string, std::string>& values = {});
