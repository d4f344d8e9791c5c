// SPDX-License-Identifier: GPL-3.0-or-later
// Alerts as the observer gets them: the rules' hysteresis, a mail through a real server that
// demands STARTTLS and a login, MQTT through Debian's mosquitto with a password, waiting in the
// outbox while the broker is away, and a program of the observer's.

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include <QJsonDocument>

#include "app/alert_delivery.h"
#include "app/alert_rules.h"
#include "publish/mail_sender.h"
#include "publish/mqtt_link.h"
#include "publish/notify_address.h"
#include "tests/support/files.h"
#include "tests/support/server_process.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool WaitFor(const std::function<bool()>& done, double seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

AlertRule Rule(const std::string& text) {
  std::string why;
  std::optional<AlertRule> rule = ParseAlertRule(text, why);
  EXPECT_TRUE(rule) << why;
  return rule.value_or(AlertRule{});
}

[[maybe_unused]] QJsonObject Alert(const std::string& text) {  // not on a Windows build without MQTT
  QJsonObject message;
  message["kind"] = "alert";
  message["rule"] = "stale";
  message["state"] = "start";
  message["station"] = "Kiso";
  message["text"] = QString::fromStdString(text);
  return message;
}

}  // namespace

TEST(AlertRulesTest, AFlappingRuleStartsOncePerQuietTimeEveryStartSentEndsAndTheSkyMustHold) {
  AlertRules rules({Rule("uploads-failing 2"), Rule("clear 0.8 10")}, 30min);
  const auto t0 = std::chrono::steady_clock::time_point{} + 1000h;
  std::vector<std::string> said;
  const auto observe = [&](std::chrono::minutes at, int failed, std::optional<double> clear) {
    StationConditions c;
    c.now = t0 + at;
    c.uploads_failed_in_row = failed;
    c.clear = clear;
    for (const AlertChange& change : rules.Observe(c)) said.push_back(change.rule.name + (change.start ? "+" : "-"));
  };
  observe(0min, 1, 0.9);   // one failure is not yet two; the sky just turned clear
  observe(1min, 2, 0.9);   // start
  observe(2min, 0, 0.9);   // end: its start was sent
  observe(3min, 2, 0.9);   // flaps back within the quiet time: no start...
  observe(4min, 0, std::nullopt);  // ...and so no end; an unmeasured frame breaks the sky's run
  observe(5min, 0, 0.95);
  observe(14min, 0, 0.95);  // clear for 9 minutes since the break: not yet
  observe(15min, 0, 0.95);  // 10 minutes: clear starts
  observe(20min, 0, 0.5);   // cloudy for a moment: not yet over
  observe(21min, 0, 0.9);
  observe(40min, 2, 0.9);   // the quiet time is over: a start again
  const std::vector<std::string> expected = {"uploads-failing+", "uploads-failing-", "clear+", "uploads-failing+"};
  EXPECT_EQ(said, expected);
}

TEST(AlertMailTest, GoesThroughStartTlsAndALoginWithItsPictureAndNeverToAnUnknownAuthority) {
  TempDir dir;
  MakeTestCertificates(dir.path().string());
  const int port = FreePort();
  std::filesystem::create_directories(dir.path() / "mail");
  ChildProcess server({kPython, TestScript("smtp_server.py"), std::to_string(port), ShellPath(dir.File("server.pem")),
                       ShellPath(dir.File("server.key")), "observer", "s3cret", ShellPath(dir.File("mail"))});
  ASSERT_TRUE(WaitForListener(port, 20));
  MailServer mail;
  mail.url = "smtp://127.0.0.1:" + std::to_string(port);
  mail.user = "observer";
  mail.password = "s3cret";
  mail.from = "station@example.org";
  mail.to = {"observer@example.org"};
  mail.ca_file = dir.File("ca.pem");
  MailMessage message;
  message.subject = "Kiso: clear start \xE6\x99\xB4";  // a Japanese character: an encoded subject
  message.text = "The sky is clear";
  message.picture = std::string("\xFF\xD8\xFF\xE0picture", 11);
  const Outcome sent = SendMail(mail, message);
  ASSERT_TRUE(sent.ok) << sent.reason;
  ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(dir.path() / "mail" / "mail-1.eml"); }, 10));
  const std::string received = ReadAll(dir.File("mail/mail-1.eml"));
  EXPECT_NE(received.find("Subject: =?UTF-8?B?"), std::string::npos);
  EXPECT_NE(received.find("Content-Type: image/jpeg"), std::string::npos);
  EXPECT_NE(received.find("/9j/4HBpY3R1cmU="), std::string::npos);  // the picture's bytes, base64

  mail.ca_file.clear();  // the system's authorities do not know the tests' own
  const Outcome refused = SendMail(mail, message);
  EXPECT_FALSE(refused.ok);
  EXPECT_EQ(refused.number, 60);  // CURLE_PEER_FAILED_VERIFICATION
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "mail" / "mail-2.eml"));
}

// A server that takes the connection and never answers holds a delivery for its bound, no longer.
TEST(AlertMailTest, AServerThatNeverAnswersEndsTheDeliveryAtItsBound) {
  SilentListener silent;
  MailServer mail;
  mail.url = "smtp://127.0.0.1:" + std::to_string(silent.port());
  mail.to = {"observer@example.org"};
  mail.bound = 2s;
  const auto started = std::chrono::steady_clock::now();
  MailMessage message;
  message.subject = "subject";
  const Outcome sent = SendMail(mail, message);
  EXPECT_EQ(sent.code, Outcome::Code::kConnection) << sent.reason;
  EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
#ifdef QOR_MQTT
  MqttServer broker;
  broker.host = "127.0.0.1";
  broker.port = silent.port();
  broker.prefix = "kiso";
  broker.bound = 2s;
  MqttLink link(broker);
  EXPECT_EQ(link.Publish("alert", "{}", false).code, Outcome::Code::kConnection);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 15s);
#endif
}

#ifdef QOR_MQTT  // a Windows sysroot without libmosquitto builds a station without MQTT
TEST(AlertDeliveryTest, AnAlertWaitsInTheOutboxWhileTheBrokerIsAwayAndARestartDeliversItWithTheState) {
  TempDir dir;
  const int port = FreePort();
  ASSERT_EQ(RunCommand("mosquitto_passwd -b -c " + ShellQuote(dir.File("passwords")) + " observer s3cret"), 0);
  std::ofstream(dir.File("mosquitto.conf")) << "allow_anonymous false\npassword_file " << ShellPath(dir.File("passwords"))
                                           << "\nlistener " << port << " 127.0.0.1\npersistence false\nuser root\n";
  std::string why;
  std::optional<NotifyAddress> address = ParseNotifyAddress("mqtt://127.0.0.1:" + std::to_string(port) + "/kiso", why);
  ASSERT_TRUE(address) << why;
  ChannelSettings settings;
  settings.user = "observer";
  settings.password = "s3cret";
  const std::string outbox = dir.File("alerts/outbox");
  const auto channels = [&] {
    std::vector<std::unique_ptr<AlertChannel>> list;
    list.push_back(MakeAlertChannel(*address, settings));
    return list;
  };
  {
    AlertDelivery delivery(AlertOutbox(outbox, dir.File("alerts/undelivered")), channels());
    ASSERT_TRUE(delivery.Queue(Alert("No new frame since 21:03:00"), {}).ok);
    std::vector<std::string> notes;
    ASSERT_TRUE(WaitFor([&] {
      for (std::string& note : delivery.TakeNotes()) notes.push_back(note);
      return !notes.empty();
    }, 20));
    EXPECT_EQ(notes[0].rfind("Alert NG:MQTT 127.0.0.1", 0), 0u) << notes[0];
  }
  ASSERT_EQ(std::distance(std::filesystem::directory_iterator(outbox), {}), 1);

  ChildProcess broker({"/usr/sbin/mosquitto", "-c", ShellPath(dir.File("mosquitto.conf"))});
  ASSERT_TRUE(WaitForListener(port, 20));
  ChildProcess subscriber({"/usr/bin/mosquitto_sub", "-h", "127.0.0.1", "-p", std::to_string(port), "-u", "observer", "-P",
                           "s3cret", "-t", "kiso/#", "-v"}, ShellPath(dir.File("received.txt")));
  std::this_thread::sleep_for(500ms);  // the subscription stands before anything is sent
  {
    // The outbox's first try after a failure waits 30 s; a restart takes what waits at once.
    std::filesystem::path item = std::filesystem::directory_iterator(outbox)->path();
    std::string json = ReadAll(item.string());
    const size_t next = json.find("\"next_try\":");
    json.replace(next, json.find_first_of(",}", next) - next, "\"next_try\":0");
    std::ofstream(item, std::ios::binary | std::ios::trunc) << json;
    AlertDelivery delivery(AlertOutbox(outbox, dir.File("alerts/undelivered")), channels());
    delivery.State("{\"online\":true,\"status\":\"Put bin OK\"}");
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::is_empty(outbox); }, 20));
    ASSERT_TRUE(WaitFor([&] { return ReadAll(dir.File("received.txt")).find("kiso/state {\"online\":true") != std::string::npos; }, 20));
  }
  // A wrong password is the broker's refusal, said as such.
  MqttServer wrong = address->mqtt;
  wrong.user = "observer";
  wrong.password = "wrong";
  const Outcome refused = MqttLink(wrong).Publish("alert", "{}", false);
  EXPECT_EQ(refused.code, Outcome::Code::kRefused) << refused.reason;
  // A clean stop leaves the station marked offline.
  ASSERT_TRUE(WaitFor([&] { return ReadAll(dir.File("received.txt")).find("kiso/state {\"online\":false}") != std::string::npos; }, 20));
  const std::string received = ReadAll(dir.File("received.txt"));
  EXPECT_NE(received.find("kiso/alert {"), std::string::npos) << received;
  EXPECT_NE(received.find("No new frame since 21:03:00"), std::string::npos);
}

TEST(MqttLinkTest, OverTlsTheBrokerMustShowACertificateOfAKnownAuthority) {
  TempDir dir;
  MakeTestCertificates(dir.path().string());
  const int port = FreePort();
  std::ofstream(dir.File("mosquitto.conf")) << "allow_anonymous true\nlistener " << port << " 127.0.0.1\ncafile "
                                           << ShellPath(dir.File("ca.pem")) << "\ncertfile " << ShellPath(dir.File("server.pem"))
                                           << "\nkeyfile " << ShellPath(dir.File("server.key")) << "\npersistence false\nuser root\n";
  ChildProcess broker({"/usr/sbin/mosquitto", "-c", ShellPath(dir.File("mosquitto.conf"))});
  ASSERT_TRUE(WaitForListener(port, 20));
  std::string why;
  MqttServer server = ParseNotifyAddress("mqtts://127.0.0.1:" + std::to_string(port) + "/kiso", why)->mqtt;
  server.ca_file = dir.File("ca.pem");
  MqttLink trusted(server);
  const Outcome sent = trusted.Publish("alert", "{}", false);
  EXPECT_TRUE(sent.ok) << sent.reason;
  server.ca_file.clear();  // the system's authorities do not know the tests' own
  MqttLink stranger(server);
  EXPECT_FALSE(stranger.Publish("alert", "{}", false).ok);
}
#endif

#ifndef _WIN32
TEST(AlertProgramTest, AProgramGetsTheAlertOnItsInputAndOneThatHangsIsStopped) {
  if (std::getenv("QOR_EMULATED"))
    GTEST_SKIP() << "qemu's user mode refuses the clone that starts a program (QProcess); a real arm64 machine runs it";
  TempDir dir;
  std::ofstream(dir.File("take.sh")) << "#!/bin/sh\ncat > " << dir.File("alert.json") << "\n";
  std::ofstream(dir.File("hang.sh")) << "#!/bin/sh\nexec sleep 60\n";
  std::filesystem::permissions(dir.File("take.sh"), std::filesystem::perms::owner_all);
  std::filesystem::permissions(dir.File("hang.sh"), std::filesystem::perms::owner_all);
  std::string why;
  ChannelSettings settings;
  settings.program_bound = 1s;
  const auto take = MakeAlertChannel(*ParseNotifyAddress("exec:" + dir.File("take.sh"), why), settings);
  const Outcome taken = take->Deliver(Alert("A meteor; $(touch owned) `touch owned`"), {});
  ASSERT_TRUE(taken.ok) << taken.reason;
  const QJsonDocument got = QJsonDocument::fromJson(QByteArray::fromStdString(ReadAll(dir.File("alert.json"))));
  EXPECT_EQ(got.object()["text"].toString().toStdString(), "A meteor; $(touch owned) `touch owned`");
  EXPECT_FALSE(std::filesystem::exists("owned"));
  const auto started = std::chrono::steady_clock::now();
  const Outcome hung = MakeAlertChannel(*ParseNotifyAddress("exec:" + dir.File("hang.sh"), why), settings)->Deliver(Alert("x"), {});
  EXPECT_EQ(hung.code, Outcome::Code::kConnection);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
}
#endif
