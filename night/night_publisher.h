// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The night's products on the web site: each reviewed night's keogram, star trails and timelapse
// go into /homepage/night/ as YYYY-MM-DD-keogram.jpg, YYYY-MM-DD-startrails.jpg and
// YYYY-MM-DD-timelapse.mp4, then nights.json, which lists the published nights newest first and
// is made anew from the night folders each time it is sent. Every upload goes on its own: one
// that fails holds no other back, and is tried again after a pause that doubles with each failure
// (1, 2, 4 ... cycles); after kTries failures it is given up and the log says so. A night whose
// products are all up is marked .published, one with an upload given up .given-up; what is still
// waiting when the station stops is found again at the next start by the night's keeper.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "publish/picture_publisher.h"

inline constexpr const char* kNightDirectory = "/homepage/night";

class NightPublisher {
 public:
  static constexpr int kTries = 8;
  /// Cycles in which one upload may send a part before it is given up: a timelapse far too large
  /// for the server's speed must not be sent for ever.
  static constexpr int kParts = 1000;

  enum class Sent {
    kAll,
    kPart,    // its time ran out with part of it sent: it goes on at the next round
    kFailed,  // the error number says why
  };
  /// Uploads `local` as `remote` into the night directory.
  using Put = std::function<Sent(const std::string& local, const std::string& remote, int32_t& error)>;
  /// True when the last failure was the connection's: no other upload is tried in this round.
  using Lost = std::function<bool()>;
  /// Deletes `remote` in the night directory; false, with the error number, on failure.
  using Remove = std::function<bool(const std::string& remote, int32_t& error)>;
  /// The server as the night's publishing sees it.
  struct Peer {
    Put put;
    Lost lost{};
    Remove remove{};
  };
  /// The station's publisher as a peer: uploads and deletions in the night directory.
  static Peer Through(PicturePublisher& publisher);

  explicit NightPublisher(std::string root = "nights") : root_(std::move(root)) {}

  /// The products of the night in `folder` are made: its files wait for the next round.
  void Add(const std::string& folder);
  /// With --sky the nights have a chart too, which deleting a night on the server removes.
  void set_sky_products(bool sky) { sky_products_ = sky; }
  /// The night of `date` was deleted here: its products go from the server too, once nights.json
  /// no longer lists it. Kept in a file until done, so that a restart does not forget it.
  void Forget(const std::string& date);
  bool waiting() { return !waiting_.empty() || list_.due || ForgottenWaiting(); }
  /// True while a product of `folder` is still to go up (tried, or partly sent, and not given up).
  bool Sending(const std::string& folder) const {
    for (const Upload& upload : waiting_)
      if (upload.folder == folder && !upload.sent && !upload.given_up) return true;
    return false;
  }
  /// One round (a cycle's): uploads what is due, each on its own, then nights.json, then deletes
  /// what is forgotten. Lines for the log.
  std::vector<std::string> Publish(const Peer& peer);
  /// Writes nights.json from the nights whose products are all on the server; its path.
  std::string WriteNightsJson() const;

 private:
  struct Retry {
    int failures = 0;
    int parts = 0;
    int64_t due = 0;  // the round from which it may be tried again
    /// After a failure in `round`: true when it is to be given up.
    bool Failed(int64_t round);
  };
  struct Upload {
    std::string folder;
    std::string product;  // a file of the folder
    Retry retry;
    bool sent = false;
    bool given_up = false;
  };
  /// Marks the nights whose uploads have all ended.
  void Settle(std::vector<std::string>& notes);
  /// The dates whose products are still to be deleted on the server.
  std::vector<std::string> Forgotten() const;
  bool ForgottenWaiting();
  void WriteForgotten(const std::vector<std::string>& dates);
  void DeleteForgotten(const Remove& remove, std::vector<std::string>& notes);

  std::string root_;
  std::vector<Upload> waiting_;
  struct {
    bool due = false;
    Retry retry;
  } list_;  // nights.json
  int64_t round_ = 0;
  Retry deletions_;
  bool forgotten_read_ = false, forgotten_waiting_ = false;
  bool sky_products_ = false;
};
