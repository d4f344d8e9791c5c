#include "app/settings_file.h"

#include <QStringDecoder>

#include "app/platform/shift_jis.h"
#include "base/atomic_file.h"
#include "base/regular_file.h"

namespace {

// Far above seven lines of settings; a larger file is not a settings file.
constexpr size_t kMaxSettingsBytes = size_t{16} << 20;

bool IsValidUtf8(const std::string& bytes) {
  QStringDecoder decoder(QStringDecoder::Utf8);
  const QString text = decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  return !decoder.hasError();
}

}  // namespace

SettingsBytes LoadSettingsBytes(const std::string& path) {
  SettingsBytes result;
  std::string bytes;
  result.read = ReadRegularFile(path, kMaxSettingsBytes, bytes);
  if (!result.read.ok) {
    if (result.read.not_found()) result.read = Outcome::Success();
    return result;
  }
  size_t start = 0;
  for (int i = 0; i < kSettingsLines && start < bytes.size(); ++i) {
    size_t end = bytes.find_first_of("\r\n", start);
    if (end == std::string::npos) end = bytes.size();
    result.lines[i] = bytes.substr(start, end - start);
    start = end;
    if (start < bytes.size() && bytes[start] == '\r') ++start;
    if (start < bytes.size() && bytes[start] == '\n' && (start == end || bytes[start - 1] == '\r')) ++start;
  }
  return result;
}

SettingsLines LoadSettingsFile(const std::string& path) {
  const SettingsBytes bytes = LoadSettingsBytes(path);
  SettingsLines lines;
  for (int i = 0; i < kSettingsLines; ++i)
    if (bytes.lines[i]) lines[i] = DecodeSettingsText(*bytes.lines[i]);
  return lines;
}

QString DecodeSettingsText(const std::string& bytes) {
  const qsizetype size = static_cast<qsizetype>(bytes.size());
  if (IsValidUtf8(bytes)) return QString::fromUtf8(bytes.data(), size);
  if (std::optional<QString> japanese = ExactShiftJis(bytes)) return *japanese;
  return QString::fromLatin1(bytes.data(), size);
}

Outcome SaveSettingsBytes(const std::string& path, const std::array<std::string, kSettingsLines>& lines) {
  // Renaming over a directory fails anyway; over a FIFO or a device it would replace something
  // that is not ours.
  if (IsPresentButNotRegular(path)) return Outcome::Failure(path + " is not a regular file");
  std::string bytes;
  for (const std::string& line : lines) {
    bytes += line;
    bytes += "\r\n";
  }
  return WriteFileAtomically(path, bytes.data(), bytes.size(), 0600);
}

Outcome SaveSettingsFile(const std::string& path, const std::array<QString, kSettingsLines>& texts) {
  std::array<std::string, kSettingsLines> lines;
  for (int i = 0; i < kSettingsLines; ++i) lines[i] = texts[i].toUtf8().toStdString();
  return SaveSettingsBytes(path, lines);
}

void SettingsTexts::Remember(int line, std::string bytes, QString text) {
  loaded_[line] = Loaded{std::move(bytes), std::move(text)};
}

std::string SettingsTexts::BytesFor(int line, const QString& current) const {
  if (loaded_[line] && loaded_[line]->text == current) return loaded_[line]->bytes;
  return current.toUtf8().toStdString();
}
