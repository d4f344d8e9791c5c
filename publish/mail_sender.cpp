// SPDX-License-Identifier: GPL-3.0-or-later
#include "publish/mail_sender.h"

#include "publish/base64.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <random>

#include <curl/curl.h>

namespace {

// Base64 in lines of 76 characters, as MIME wants it.
std::string Base64Lines(const std::string& bytes) {
  const std::string encoded = EncodeBase64(bytes);
  std::string lines;
  for (size_t at = 0; at < encoded.size(); at += 76) lines += encoded.substr(at, 76) + "\r\n";
  return lines.empty() ? std::string("\r\n") : lines;
}

// A header's text: plain where it is printable ASCII, else an encoded word, so that no byte of
// it can end the header or begin another.
std::string HeaderText(const std::string& text) {
  bool plain = true;
  for (const char c : text) plain = plain && c >= 0x20 && c < 0x7f;
  if (plain) return text;
  return "=?UTF-8?B?" + EncodeBase64(text) + "?=";
}

// An address without anything that could end a header or an SMTP command.
std::string Address(const std::string& address) {
  std::string clean;
  for (const char c : address)
    if (c != '\r' && c != '\n' && c != '\0' && c != '<' && c != '>') clean += c;
  return clean;
}

std::string Bracketed(const std::string& address) {
  std::string bracketed(1, '<');
  bracketed.append(Address(address)).push_back('>');
  return bracketed;
}

std::string DateHeader(long long epoch_seconds) {
  const std::time_t time = static_cast<std::time_t>(epoch_seconds);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &time);
#else
  gmtime_r(&time, &utc);
#endif
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d +0000", kDays[utc.tm_wday], utc.tm_mday,
                kMonths[utc.tm_mon], utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

struct Reading {
  const std::string& bytes;
  size_t offset = 0;
};

size_t ReadMail(char* buffer, size_t size, size_t count, void* user) {
  Reading& reading = *static_cast<Reading*>(user);
  const size_t take = std::min(size * count, reading.bytes.size() - reading.offset);
  std::copy_n(reading.bytes.data() + reading.offset, take, buffer);
  reading.offset += take;
  return take;
}

}  // namespace

std::string MailBytes(const MailServer& server, const MailMessage& message, long long epoch_seconds) {
  std::mt19937_64 random(static_cast<uint64_t>(epoch_seconds) ^ std::random_device{}());
  const std::string token = std::to_string(random());
  const std::string boundary = "qor-live-" + token;
  std::string to;
  for (const std::string& address : server.to) to += (to.empty() ? "" : ", ") + Address(address);
  std::string mail = "Date: " + DateHeader(epoch_seconds) + "\r\nFrom: " + Address(server.from) + "\r\nTo: " + to +
                     "\r\nSubject: " + HeaderText(message.subject) + "\r\nMessage-ID: <" + token + "." +
                     std::to_string(epoch_seconds) + "@qor-live>\r\nMIME-Version: 1.0\r\n";
  const std::string text_part =
      "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n" + Base64Lines(message.text);
  if (message.picture.empty()) return mail + text_part;
  mail += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n--" + boundary + "\r\n" + text_part;
  mail += "--" + boundary + "\r\nContent-Type: image/jpeg\r\nContent-Transfer-Encoding: base64\r\n" +
          "Content-Disposition: attachment; filename=\"" + Address(message.picture_name) + "\"\r\n\r\n" +
          Base64Lines(message.picture) + "--" + boundary + "--\r\n";
  return mail;
}

Outcome SendMail(const MailServer& server, const MailMessage& message) {
  if (server.to.empty()) return Outcome::Failure("no address to send to (--notify-to)");
  CURL* curl = curl_easy_init();
  if (!curl) return Outcome::Failure("libcurl could not begin");
  const std::string bytes = MailBytes(server, message, static_cast<long long>(std::time(nullptr)));
  Reading reading{bytes};
  curl_slist* recipients = nullptr;
  for (const std::string& address : server.to) recipients = curl_slist_append(recipients, Bracketed(address).c_str());
  const std::string from = Bracketed(server.from);
  curl_easy_setopt(curl, CURLOPT_URL, server.url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(std::min<long long>(server.bound.count(), 15)));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(server.bound.count()));
  curl_easy_setopt(curl, CURLOPT_MAIL_FROM, from.c_str());
  curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, recipients);
  curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadMail);
  curl_easy_setopt(curl, CURLOPT_READDATA, &reading);
  curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(bytes.size()));
  // A password never crosses the network in the clear: plain is for a relay without a login.
  if (!server.plain) curl_easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
  if (!server.user.empty()) {
    curl_easy_setopt(curl, CURLOPT_USERNAME, server.user.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, server.password.c_str());
  }
  if (!server.ca_file.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, server.ca_file.c_str());
  curl_easy_setopt(curl, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_NATIVE_CA));
  const CURLcode code = curl_easy_perform(curl);
  long reply = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply);
  curl_slist_free_all(recipients);
  curl_easy_cleanup(curl);
  if (code == CURLE_OK) return Outcome::Success();
  const std::string why = std::string("mail: ") + curl_easy_strerror(code) +
                          (reply > 0 ? " (the server's last reply " + std::to_string(reply) + ")" : "");
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
      return Outcome::Lost(static_cast<int32_t>(code), why);
    default:
      return Outcome::Refused(static_cast<int32_t>(code), why);
  }
}
