// SPDX-License-Identifier: GPL-3.0-or-later
// Through Qt's converters, which take Shift-JIS from ICU on these systems.
#include "app/platform/shift_jis.h"

#include <QStringDecoder>
#include <QStringEncoder>

std::optional<QString> ExactShiftJis(const std::string& bytes) {
  QStringDecoder decoder("Shift_JIS");
  QStringEncoder encoder("Shift_JIS");
  if (!decoder.isValid() || !encoder.isValid()) return std::nullopt;
  const QByteArrayView view(bytes.data(), static_cast<qsizetype>(bytes.size()));
  const QString text = decoder.decode(view);
  if (decoder.hasError()) return std::nullopt;
  const QByteArray back = encoder.encode(text);
  if (encoder.hasError() || back != view) return std::nullopt;
  return text;
}
