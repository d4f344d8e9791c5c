// SPDX-License-Identifier: GPL-3.0-or-later
#include "sky/sep_sources.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

// The longest an extraction may take: far beyond what a frame needs (under a second), short of
// the cycle's own bounds.
constexpr auto kLongest = std::chrono::seconds(120);

bool WriteAll(int fd, const void* data, size_t size) {
  const char* at = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = write(fd, at, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    at += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

// Everything the child wrote, until it closes the pipe or the time is up.
bool ReadAll(int fd, std::string& bytes, std::chrono::steady_clock::time_point until) {
  char buffer[65536];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd wait{fd, POLLIN, 0};
    const int ready = poll(&wait, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    bytes.append(buffer, static_cast<size_t>(got));
  }
}

// In the child: only the extraction, its answer written to `fd`, then _exit (no atexit handlers,
// no buffers of the parent's flushed twice). glibc's malloc is safe after fork.
[[noreturn]] void RunChild(int fd, const sep_image& image, float sigma) {
  std::vector<SepSource> sources;
  const Outcome found = ExtractSepSourcesHere(image, sigma, sources);
  const uint32_t reason_size = static_cast<uint32_t>(found.reason.size());
  const uint64_t count = sources.size();
  const bool sent = WriteAll(fd, &reason_size, sizeof reason_size) && WriteAll(fd, found.reason.data(), reason_size) &&
                    WriteAll(fd, &count, sizeof count) && WriteAll(fd, sources.data(), count * sizeof(SepSource));
  _exit(sent ? 0 : 1);
}

}  // namespace

Outcome ExtractSepSources(const sep_image& image, float sigma, std::vector<SepSource>& sources) {
  sources.clear();
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return Outcome::Failure(std::string("cannot start the extraction: ") + std::strerror(errno));
  const pid_t child = fork();
  if (child < 0) {
    const int error = errno;
    close(pipe_ends[0]);
    close(pipe_ends[1]);
    return Outcome::Failure(std::string("cannot start the extraction: ") + std::strerror(error));
  }
  if (child == 0) {
    close(pipe_ends[0]);
    RunChild(pipe_ends[1], image, sigma);
  }
  close(pipe_ends[1]);
  std::string bytes;
  const bool whole = ReadAll(pipe_ends[0], bytes, std::chrono::steady_clock::now() + kLongest);
  close(pipe_ends[0]);
  if (!whole) kill(child, SIGKILL);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!whole) return Outcome::Failure("SEP's extraction took longer than two minutes and was stopped");
  if (WIFSIGNALED(status))
    return Outcome::Failure("SEP's extraction ended with signal " + std::to_string(WTERMSIG(status)));
  // The answer: the reason's length and text, the number of sources, the sources.
  uint32_t reason_size = 0;
  uint64_t count = 0;
  if (bytes.size() < sizeof reason_size) return Outcome::Failure("SEP's extraction gave no answer");
  std::memcpy(&reason_size, bytes.data(), sizeof reason_size);
  const size_t count_at = sizeof reason_size + reason_size;
  if (bytes.size() < count_at + sizeof count) return Outcome::Failure("SEP's extraction gave no whole answer");
  std::memcpy(&count, bytes.data() + count_at, sizeof count);
  const size_t sources_at = count_at + sizeof count;
  if (bytes.size() != sources_at + count * sizeof(SepSource)) return Outcome::Failure("SEP's extraction gave no whole answer");
  if (reason_size > 0) return Outcome::Failure(bytes.substr(sizeof reason_size, reason_size));
  sources.resize(count);
  std::memcpy(sources.data(), bytes.data() + sources_at, count * sizeof(SepSource));
  return Outcome::Success();
}
