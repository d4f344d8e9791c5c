#pragma once
// A keyword's value as the live file's header writes it, for reports that quote it.

#include <optional>
#include <string>
#include <string_view>

#include "fits/frame_store.h"

/// The value of the first card whose keyword is `keyword` (up to 8 characters), among the cards
/// read: a quoted string without its quotes and trailing blanks, otherwise the text up to a "/"
/// comment, trimmed. Nothing where no card has the keyword or its value is empty.
std::optional<std::string> HeaderValueText(const FrameStore& store, std::string_view keyword);
