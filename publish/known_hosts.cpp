// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/known_hosts.h"

#include "publish/base64.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>

#include "base/append_file.h"
#include "base/regular_file.h"
#include "base/utf8_path.h"

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// OpenSSH's wildcards: "*" any run of characters, "?" any one.
bool Wildcard(const char* pattern, const char* text) {
  for (;; ++pattern, ++text) {
    if (*pattern == '\0') return *text == '\0';
    if (*pattern == '*') {
      for (const char* rest = text;; ++rest) {
        if (Wildcard(pattern + 1, rest)) return true;
        if (*rest == '\0') return false;
      }
    }
    if (*text == '\0' || (*pattern != '?' && *pattern != *text)) return false;
  }
}

// "|1|salt|hash": the host's name hashed with HMAC-SHA1 under the salt, both in base64.
bool HashedNameMatches(const std::string& field, const std::string& host) {
  const size_t bar = field.find('|', 3);
  if (bar == std::string::npos) return false;
  std::string salt, hash;
  if (!DecodeBase64(field.substr(3, bar - 3), salt) || !DecodeBase64(field.substr(bar + 1), hash)) return false;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (!HMAC(EVP_sha1(), salt.data(), static_cast<int>(salt.size()), reinterpret_cast<const unsigned char*>(host.data()),
            host.size(), digest, &size))
    return false;
  return hash.size() == size && std::equal(hash.begin(), hash.end(), reinterpret_cast<const char*>(digest));
}

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  size_t at = 0;
  while (words.size() < 4) {
    at = line.find_first_not_of(" \t", at);
    if (at == std::string::npos) break;
    const size_t end = std::min(line.find_first_of(" \t", at), line.size());
    words.push_back(line.substr(at, end - at));
    at = end;
  }
  return words;
}

}  // namespace

HostKey HostKey::FromBase64(const std::string& text) {
  HostKey key;
  std::string blob;
  if (!DecodeBase64(text, blob) || blob.size() < 4) return key;
  const uint32_t size = (uint32_t{static_cast<uint8_t>(blob[0])} << 24) | (uint32_t{static_cast<uint8_t>(blob[1])} << 16) |
                        (uint32_t{static_cast<uint8_t>(blob[2])} << 8) | static_cast<uint8_t>(blob[3]);
  if (size == 0 || size > blob.size() - 4) return key;
  key.type = blob.substr(4, size);
  key.blob = std::move(blob);
  return key;
}

bool HostFieldMatches(const std::string& field, const std::string& host) {
  if (field.rfind("|1|", 0) == 0) return HashedNameMatches(field, host);
  bool matched = false;
  size_t start = 0;
  while (start <= field.size()) {
    const size_t end = std::min(field.find(',', start), field.size());
    std::string pattern = Lower(field.substr(start, end - start));
    const bool negated = !pattern.empty() && pattern[0] == '!';
    if (negated) pattern.erase(0, 1);
    if (!pattern.empty() && Wildcard(pattern.c_str(), host.c_str())) {
      if (negated) return false;  // a negated match rules the line out whatever else matches
      matched = true;
    }
    start = end + 1;
  }
  return matched;
}

Outcome KnownHosts::Load(const std::string& path) {
  entries_.clear();
  std::string bytes;
  const Outcome read = ReadRegularFile(path, kLargestFile, bytes);
  if (read.not_found()) return Outcome::Success();
  if (!read.ok) return read;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> words = Words(line);
    if (words.empty() || words[0][0] == '#') continue;
    Entry entry;
    if (words[0][0] == '@') {
      if (words[0] == "@revoked") entry.marker = Marker::kRevoked;
      else if (words[0] == "@cert-authority") entry.marker = Marker::kCertAuthority;
      else continue;
      words.erase(words.begin());
    }
    if (words.size() < 3) continue;
    entry.hosts = words[0];
    entry.key = HostKey::FromBase64(words[2]);
    if (entry.key.blob.empty()) continue;
    entries_.push_back(std::move(entry));
  }
  return Outcome::Success();
}

HostKeyVerdict KnownHosts::Check(const std::string& host, const HostKey& key) const {
  const std::string name = Lower(host);
  bool known = false, changed = false, other_type = false;
  for (const Entry& entry : entries_) {
    if (entry.marker == Marker::kCertAuthority || !HostFieldMatches(entry.hosts, name)) continue;
    const bool same = entry.key.blob == key.blob;
    if (entry.marker == Marker::kRevoked) {
      if (same) return HostKeyVerdict::kRevoked;
      continue;
    }
    if (same) known = true;
    else if (entry.key.type == key.type) changed = true;
    else other_type = true;
  }
  if (known) return HostKeyVerdict::kKnown;
  if (changed) return HostKeyVerdict::kChanged;
  if (other_type) return HostKeyVerdict::kOtherType;
  return HostKeyVerdict::kUnknown;
}

std::vector<std::string> KnownHosts::TypesFor(const std::string& host) const {
  const std::string name = Lower(host);
  std::vector<std::string> types;
  for (const Entry& entry : entries_) {
    if (entry.marker != Marker::kNone || !HostFieldMatches(entry.hosts, name)) continue;
    if (std::find(types.begin(), types.end(), entry.key.type) == types.end()) types.push_back(entry.key.type);
  }
  return types;
}

Outcome KnownHosts::Record(const std::string& path, const std::string& host, const HostKey& key) {
  // The folder is made as ssh makes ~/.ssh; the file is followed if it is a link (kept elsewhere
  // by its owner), and anything but a regular file is refused: /dev/zero or a FIFO would "take"
  // the line and the host would be called recorded when it was not.
  std::error_code ignored;
  const std::filesystem::path folder = Utf8Path(path).parent_path();
  if (!folder.empty() && std::filesystem::create_directory(folder, ignored)) {
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all, ignored);
  }
  AppendOptions options;
  options.end_open_line = true;
  options.private_file = true;
  Outcome recorded = AppendToFile(path, host + " " + key.type + " " + EncodeBase64(key.blob) + "\n", options);
  if (recorded.code == Outcome::Code::kNotRegular) recorded.reason = "known_hosts is not a regular file";
  return recorded;
}
