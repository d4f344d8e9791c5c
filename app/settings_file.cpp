#include "app/settings_file.h"

#include <fstream>
#include <iterator>

#include "fits/atomic_file.h"

SettingsLines LoadSettingsFile(const std::string& path) {
  SettingsLines lines;
  std::ifstream in(path, std::ios::binary);
  if (!in) return lines;
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t start = 0;
  for (int i = 0; i < kSettingsLines && start < bytes.size(); ++i) {
    size_t end = bytes.find_first_of("\r\n", start);
    if (end == std::string::npos) end = bytes.size();
    lines[i] = QString::fromLocal8Bit(bytes.data() + start, static_cast<qsizetype>(end - start));
    start = end;
    if (start < bytes.size() && bytes[start] == '\r') ++start;
    if (start < bytes.size() && bytes[start] == '\n' && (start == end || bytes[start - 1] == '\r')) ++start;
  }
  return lines;
}

Outcome SaveSettingsFile(const std::string& path, const std::array<QString, kSettingsLines>& texts) {
  std::string bytes;
  for (const QString& text : texts) {
    bytes += text.toLocal8Bit().toStdString();
    bytes += "\r\n";
  }
  return WriteFileAtomically(path, bytes.data(), bytes.size(), 0600);
}
