// SPDX-License-Identifier: GPL-3.0-or-later
// Windows' OpenSSH keeps the user's files in the profile folder and the machine's in ProgramData;
// both are read as UTF-16 so that a profile named "Łukasz" is found.
#include "publish/ssh_files.h"

#include <windows.h>

#include "base/regular_file.h"
#include "base/windows_system.h"

namespace {

std::string Variable(const wchar_t* name, const char* otherwise) {
  wchar_t value[32768];
  const DWORD length = GetEnvironmentVariableW(name, value, 32768);
  return length > 0 && length < 32768 ? Utf8(std::wstring(value, length)) : otherwise;
}

std::string UserSshFolder() { return Variable(L"USERPROFILE", "C:\\") + "\\.ssh"; }

}  // namespace

const char* const kNoFile = "NUL";

std::string UserKnownHostsPath() { return UserSshFolder() + "\\known_hosts"; }

std::string SystemKnownHostsPath() { return Variable(L"ProgramData", "C:\\ProgramData") + "\\ssh\\ssh_known_hosts"; }

// libssh would open the key files by their names in the ANSI code page, which cannot hold every
// profile's name: they are read here through UTF-16 names and handed to it as text.
int LogInWithUserKeys(ssh_session ssh, const std::string& ssh_dir) {
  const std::string dir = ssh_dir.empty() ? UserSshFolder() : ssh_dir;
  int result = SSH_AUTH_DENIED;
  for (const char* name : {"id_ed25519", "id_ecdsa", "id_rsa"}) {
    std::string text;
    if (!ReadRegularFile(dir + "\\" + name, 1 << 20, text).ok) continue;
    ssh_key key = nullptr;
    if (ssh_pki_import_privkey_base64(text.c_str(), nullptr, nullptr, nullptr, &key) != SSH_OK) continue;
    result = ssh_userauth_publickey(ssh, nullptr, key);
    ssh_key_free(key);
    if (result == SSH_AUTH_SUCCESS || result == SSH_AUTH_ERROR) return result;
  }
  return result;
}
