// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where the observer is told: a mail server (smtp://host[:port][?plain], smtps://host[:port]), an
// MQTT broker (mqtt://host[:port]/PREFIX, mqtts://...), or a program of the observer's
// (exec:/path/to/program, run without a shell).

#include <optional>
#include <string>

#include "publish/mail_sender.h"
#include "publish/mqtt_link.h"

struct NotifyAddress {
  enum class Kind { kMail, kMqtt, kProgram };
  Kind kind = Kind::kMail;
  std::string text;     // as the observer wrote it, for the log (a password is never in it)
  MailServer mail;      // kMail: the server; recipients and login are the options'
  MqttServer mqtt;      // kMqtt
  std::string program;  // kProgram: an absolute path
};

/// The address in `text`, or nothing with the reason in `why`.
std::optional<NotifyAddress> ParseNotifyAddress(const std::string& text, std::string& why);
