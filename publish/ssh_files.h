// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where SSH keeps its files on this system, as OpenSSH's own client finds them, and the login
// with the user's keys kept there.

#include <libssh/libssh.h>

#include <string>

/// The user's known_hosts: ~/.ssh/known_hosts; on Windows %USERPROFILE%\.ssh\known_hosts.
std::string UserKnownHostsPath();
/// The machine's: /etc/ssh/ssh_known_hosts; on Windows %ProgramData%\ssh\ssh_known_hosts.
std::string SystemKnownHostsPath();
/// A name that reads as an empty file (for libssh's own known-hosts options, which go unused).
extern const char* const kNoFile;
/// Logs in with the user's keys (id_ed25519, id_ecdsa, id_rsa) from `ssh_dir`, or from the user's
/// own SSH folder when it is empty; a key with a passphrase is passed over. An ssh_auth_e result.
int LogInWithUserKeys(ssh_session ssh, const std::string& ssh_dir);
