// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The night's products on the web site: each reviewed night's keogram, star trails and timelapse
// go into /homepage/night/ as YYYY-MM-DD-keogram.jpg, YYYY-MM-DD-startrails.jpg and
// YYYY-MM-DD-timelapse.mp4, then nights.json, which lists the published nights newest first. An
// upload that fails stays waiting and is tried again at the next cycle, until it succeeds.

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

inline constexpr const char* kNightDirectory = "/homepage/night";

class NightPublisher {
 public:
  /// Uploads `local` as `remote` into the night directory; false, with the error number, on failure.
  using Put = std::function<bool(const std::string& local, const std::string& remote, int32_t& error)>;

  explicit NightPublisher(std::string root = "nights") : root_(std::move(root)) {}

  /// The products of the night in `folder` are made: its files wait for the next upload.
  void Add(const std::string& folder);
  bool waiting() const { return !waiting_.empty(); }
  /// Uploads what waits, in order, until one fails (it and the rest wait for the next cycle).
  /// Lines for the log.
  std::vector<std::string> Publish(const Put& put);

 private:
  struct Upload {
    std::string folder;  // empty: nights.json
    std::string local;
    std::string remote;
  };
  /// Writes nights.json from the nights whose products are all on the server.
  std::string WriteNightsJson() const;

  std::string root_;
  std::deque<Upload> waiting_;
};
