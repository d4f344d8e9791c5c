// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One mail through an SMTP server with libcurl: a text and, where there is one, a picture as its
// attachment. On smtp:// the server must offer STARTTLS unless the address asks for a plain local
// relay; smtps:// is TLS from the first byte. Certificates are checked as for FTPS.

#include <chrono>
#include <string>
#include <vector>

#include "base/outcome.h"

struct MailServer {
  std::string url;  // smtp://host[:port] or smtps://host[:port], without "?plain"
  bool plain = false;  // smtp:// without TLS: a relay on the station's own network
  std::string user, password;  // no login where `user` is empty
  std::string from;
  std::vector<std::string> to;
  std::string ca_file;  // an authority to trust instead of the system's (tests)
  std::chrono::seconds bound{30};  // the whole delivery, connection included
};

struct MailMessage {
  std::string subject;  // UTF-8
  std::string text;     // UTF-8
  std::string picture;  // JPEG bytes, or empty
  std::string picture_name = "live.jpg";
};

/// The message as it goes over the wire (RFC 5322 with MIME), for a mail dated `epoch_seconds`.
std::string MailBytes(const MailServer& server, const MailMessage& message, long long epoch_seconds);

/// Sends `message`; a failure carries libcurl's code as its number.
Outcome SendMail(const MailServer& server, const MailMessage& message);
