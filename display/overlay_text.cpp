// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/overlay_text.h"

#include <QStringDecoder>

#include "fits/header_text.h"

namespace {

QString Printable(const std::string& bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8);
  QString text = utf8.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  if (utf8.hasError()) text = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
  for (QChar& character : text)
    if (character.category() == QChar::Other_Control) character = QLatin1Char(' ');
  return text;
}

}  // namespace

QString OverlayText(const std::string& pattern, const FrameStore& store) {
  std::string out;
  size_t at = 0;
  while (at < pattern.size()) {
    const size_t open = pattern.find('{', at);
    const size_t close = open == std::string::npos ? std::string::npos : pattern.find('}', open);
    if (close == std::string::npos || close - open - 1 > 8 || close == open + 1) {
      out += pattern.substr(at, open == std::string::npos ? std::string::npos : open + 1 - at);
      if (open == std::string::npos) break;
      at = open + 1;
      continue;
    }
    out += pattern.substr(at, open - at);
    const std::optional<std::string> value =
        store.HeaderCardCount > 0 ? HeaderValueText(store, pattern.substr(open + 1, close - open - 1)) : std::nullopt;
    out += value ? *value : "-";
    at = close + 1;
  }
  return Printable(out);
}
