// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Base64 (RFC 4648, with padding): known_hosts' keys and hashes, and mail's bodies and subjects.

#include <string>

std::string EncodeBase64(const std::string& bytes);
/// False where `text` is not base64 (a foreign character, a padding in the middle, a lone digit).
bool DecodeBase64(const std::string& text, std::string& bytes);
