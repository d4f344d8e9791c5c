// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/alert_channels.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>

namespace {

std::string Text(const QJsonObject& message, const char* key) { return message[QLatin1String(key)].toString().toStdString(); }

class MailChannel : public AlertChannel {
 public:
  MailChannel(const NotifyAddress& address, const ChannelSettings& settings) : name_(address.text), server_(address.mail) {
    server_.user = settings.user;
    server_.password = settings.password;
    server_.from = settings.from;
    server_.to = settings.to;
    server_.ca_file = settings.ca_file;
  }
  const std::string& name() const override { return name_; }
  Outcome Deliver(const QJsonObject& message, const QByteArray& picture) override {
    MailMessage mail;
    mail.subject = AlertSubject(message);
    mail.text = AlertText(message);
    mail.picture.assign(picture.constData(), static_cast<size_t>(picture.size()));
    return SendMail(server_, mail);
  }

 private:
  std::string name_;
  MailServer server_;
};

class MqttChannel : public AlertChannel {
 public:
  MqttChannel(const NotifyAddress& address, const ChannelSettings& settings) : name_(address.text), link_([&] {
    MqttServer server = address.mqtt;
    server.user = settings.user;
    server.password = settings.password;
    server.ca_file = settings.ca_file;
    return server;
  }()) {}
  const std::string& name() const override { return name_; }
  Outcome Deliver(const QJsonObject& message, const QByteArray&) override {
    const std::string topic = Text(message, "kind") == "event" ? "event" : "alert";
    return link_.Publish(topic, QJsonDocument(message).toJson(QJsonDocument::Compact).toStdString(), false);
  }
  bool TakesEvents() const override { return true; }
  Outcome PublishState(const std::string& json) override { return link_.Publish("state", json, true); }
  void Keep() override {
    if (link_.connected()) link_.Keep();
  }
  void Close() override { link_.Close(); }

 private:
  std::string name_;
  MqttLink link_;
};

class ProgramChannel : public AlertChannel {
 public:
  ProgramChannel(const NotifyAddress& address, const ChannelSettings& settings)
      : name_(address.text), program_(address.program), bound_(settings.program_bound) {}
  const std::string& name() const override { return name_; }
  Outcome Deliver(const QJsonObject& message, const QByteArray&) override {
    QProcess process;
    process.setProgram(QString::fromUtf8(program_.c_str()));
    // What it prints is its own business: nobody reads it, and a full pipe must not stop it.
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(QIODevice::WriteOnly);  // no shell: the path is the program, it has no arguments
    if (!process.waitForStarted(5000))
      return Outcome::Failure(name_ + ": " + process.errorString().toStdString(), Outcome::Code::kNotFound);
    process.write(QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n');
    process.closeWriteChannel();
    if (!process.waitForFinished(static_cast<int>(std::chrono::milliseconds(bound_).count()))) {
      process.kill();
      process.waitForFinished(2000);
      return Outcome::Lost(0, name_ + ": still running after " + std::to_string(bound_.count()) + " s; stopped");
    }
    if (process.exitStatus() != QProcess::NormalExit) return Outcome::Failure(name_ + ": it crashed");
    if (process.exitCode() != 0) return Outcome::Refused(process.exitCode(), name_ + ": it ended with status " + std::to_string(process.exitCode()));
    return Outcome::Success();
  }

 private:
  std::string name_, program_;
  std::chrono::seconds bound_;
};

}  // namespace

std::unique_ptr<AlertChannel> MakeAlertChannel(const NotifyAddress& address, const ChannelSettings& settings) {
  switch (address.kind) {
    case NotifyAddress::Kind::kMail: return std::make_unique<MailChannel>(address, settings);
    case NotifyAddress::Kind::kMqtt: return std::make_unique<MqttChannel>(address, settings);
    case NotifyAddress::Kind::kProgram: return std::make_unique<ProgramChannel>(address, settings);
  }
  return nullptr;
}

std::string AlertSubject(const QJsonObject& message) {
  const std::string station = Text(message, "station");
  const std::string what = Text(message, "kind") == "event" ? "a " + Text(message, "class") : Text(message, "rule") + " " + Text(message, "state");
  return (station.empty() ? std::string("qor-live") : station) + ": " + what;
}

std::string AlertText(const QJsonObject& message) {
  std::string text = Text(message, "text") + "\n\nTime: " + Text(message, "time") + "\n";
  const QJsonArray log = message[QStringLiteral("log")].toArray();
  if (!log.isEmpty()) {
    text += "\nThe station's last log lines:\n";
    for (const QJsonValue& line : log) text += line.toString().toStdString() + "\n";
  }
  return text;
}
