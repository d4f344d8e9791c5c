// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/overlay_text.h"

#include <QStringDecoder>

#include "fits/header_text.h"

namespace {

// One piece of the line as text: UTF-8, or Latin-1 where it is not (an old camera's header), each
// piece on its own so that one foreign value does not garble the observer's own text. Control and
// format characters (a right-to-left override, zero-width ones) become blanks: a header must not
// rearrange or hide what the picture says.
QString Printable(const std::string& bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8);
  QString text = utf8.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  if (utf8.hasError()) text = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
  for (QChar& character : text)
    if (character.category() == QChar::Other_Control || character.category() == QChar::Other_Format)
      character = QLatin1Char(' ');
  return text;
}

constexpr size_t kLongestKey = 8;

}  // namespace

QString OverlayText(const std::string& pattern, const FrameStore& store, const std::map<std::string, std::string>& values) {
  QString out;
  std::string literal;
  size_t at = 0;
  while (at < pattern.size()) {
    const size_t open = pattern.find('{', at);
    if (open == std::string::npos) {
      literal += pattern.substr(at);
      break;
    }
    // A key is looked for only within its longest length: an unmatched "{" costs a few steps,
    // never a walk to the end of the text.
    const size_t close = pattern.substr(open + 1, kLongestKey + 1).find('}');
    if (close == std::string::npos || close == 0) {
      literal += pattern.substr(at, open + 1 - at);
      at = open + 1;
      continue;
    }
    literal += pattern.substr(at, open - at);
    out += Printable(literal);
    literal.clear();
    const std::string key = pattern.substr(open + 1, close);
    const auto given = values.find(key);
    const std::optional<std::string> value =
        given != values.end()        ? std::optional(given->second)
        : store.HeaderCardCount > 0  ? HeaderValueText(store, key)
                                     : std::nullopt;
    out += value ? Printable(*value) : QStringLiteral("-");
    at = open + close + 2;
  }
  return out + Printable(literal);
}
