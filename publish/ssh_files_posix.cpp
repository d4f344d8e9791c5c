// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/ssh_files.h"

#include <cstdlib>

const char* const kNoFile = "/dev/null";

std::string UserKnownHostsPath() {
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.ssh/known_hosts";
}

std::string SystemKnownHostsPath() { return "/etc/ssh/ssh_known_hosts"; }
