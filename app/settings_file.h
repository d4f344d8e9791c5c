#pragma once
// "qor_live.ini": the texts of the seven boxes, one a line. Every line keeps its bytes: one that is
// valid UTF-8 is shown as such, one in an 8-bit code page (Shift-JIS, Latin-1, as a Windows machine
// writes them) is shown as well as it can be, and either is written back exactly as read.

#include <array>
#include <optional>
#include <string>

#include <QString>

#include "base/outcome.h"

inline constexpr const char* kSettingsFileName = "qor_live.ini";
inline constexpr int kSettingsLines = 7;  // Text1, Text3, Text4, Text5, Text6, Text2, Text7

/// What each box holds before a settings file says otherwise, in the file's line order.
inline constexpr std::array<const char*, kSettingsLines> kDefaultSettingsTexts = {
    "C:\\QOR_Images\\live.fts", "Tamsel Observatory", "ftp.example.net", "your-account", "yourpassword", "10", "1.5"};

/// The bytes of each line read, in file order; a line the file does not reach is empty.
struct SettingsBytes {
  std::array<std::optional<std::string>, kSettingsLines> lines;
  /// Failure when a file is there but could not be read (a directory, a FIFO, no permission).
  Outcome read;
};
/// A line ends at CR LF, at CR alone or at LF alone; the last one may end at the end of the file.
/// Blanks are kept; lines after the seventh are not read. A missing file reads as no lines.
SettingsBytes LoadSettingsBytes(const std::string& path);

/// The lines read as texts (see DecodeSettingsText).
using SettingsLines = std::array<std::optional<QString>, kSettingsLines>;
SettingsLines LoadSettingsFile(const std::string& path);

/// UTF-8 where the bytes are valid UTF-8, else Shift-JIS where they are exactly that, else Latin-1.
QString DecodeSettingsText(const std::string& bytes);

/// Writes the seven lines, each followed by CR LF, replacing the file whole (temporary file, then
/// rename) and readable by its owner only, since the password is among them. A path that is there
/// but is not a regular file is left alone.
Outcome SaveSettingsBytes(const std::string& path, const std::array<std::string, kSettingsLines>& lines);
/// The same for texts, written as UTF-8.
Outcome SaveSettingsFile(const std::string& path, const std::array<QString, kSettingsLines>& texts);

/// The bytes behind each box: those read from the file while the box still shows the text they
/// were decoded to, UTF-8 once the user has changed it.
class SettingsTexts {
 public:
  void Remember(int line, std::string bytes, QString text);
  std::string BytesFor(int line, const QString& current) const;

 private:
  struct Loaded {
    std::string bytes;
    QString text;
  };
  std::array<std::optional<Loaded>, kSettingsLines> loaded_;
};
