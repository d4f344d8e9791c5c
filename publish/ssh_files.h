// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where SSH keeps its files on this system, as OpenSSH's own client finds them.

#include <string>

/// The user's known_hosts: ~/.ssh/known_hosts; on Windows %USERPROFILE%\.ssh\known_hosts.
std::string UserKnownHostsPath();
/// The machine's: /etc/ssh/ssh_known_hosts; on Windows %ProgramData%\ssh\ssh_known_hosts.
std::string SystemKnownHostsPath();
/// A name that reads as an empty file (for libssh's own known-hosts options, which go unused).
extern const char* const kNoFile;
