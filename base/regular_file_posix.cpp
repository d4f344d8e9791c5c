// The regular file on POSIX systems: descriptors, pread and fstat.
#include "base/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

Outcome SystemFailure(const char* what) { return Outcome::FromErrno(what, errno); }

FileTime TimeOf(const timespec& time) { return {time.tv_sec, time.tv_nsec}; }

FileState StateOf(const struct stat& info) {
  return {static_cast<uint64_t>(info.st_size), TimeOf(info.st_mtim), TimeOf(info.st_ctim),
          static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

int Descriptor(intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

FileTime FileClockNow() {
  timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  return TimeOf(now);
}

int64_t FileClockTickNanoseconds() {
  timespec resolution {};
  clock_getres(CLOCK_REALTIME_COARSE, &resolution);
  return std::max<int64_t>(resolution.tv_sec * 1'000'000'000 + resolution.tv_nsec, 1'000'000);
}

RegularFile::~RegularFile() {
  if (handle_ >= 0) close(Descriptor(handle_));
}

Outcome RegularFile::Open(const std::string& path) {
  if (handle_ >= 0) close(Descriptor(handle_));
  handle_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (handle_ < 0) return SystemFailure("cannot open the file");
  struct stat info {};
  if (fstat(Descriptor(handle_), &info) != 0) return SystemFailure("cannot stat the file");
  if (!S_ISREG(info.st_mode)) return Outcome::Failure("not a regular file", Outcome::Code::kNotRegular);
  info_ = StateOf(info);
  return Outcome::Success();
}

Outcome RegularFile::ReadAt(uint64_t offset, void* buffer, size_t size) const {
  auto* out = static_cast<char*>(buffer);
  while (size > 0) {
    const ssize_t got = pread(Descriptor(handle_), out, size, static_cast<off_t>(offset));
    if (got < 0) {
      if (errno == EINTR) continue;
      return SystemFailure("cannot read the file");
    }
    if (got == 0) return Outcome::Failure("the file ended early");
    out += got;
    offset += static_cast<uint64_t>(got);
    size -= static_cast<size_t>(got);
  }
  return Outcome::Success();
}

Outcome RegularFile::Stat(FileState& state) const {
  struct stat info {};
  if (fstat(Descriptor(handle_), &info) != 0) return SystemFailure("cannot stat the file");
  state = StateOf(info);
  return Outcome::Success();
}

bool IsPresentButNotRegular(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode);
}

PathKind KindAt(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return PathKind::kMissing;
  if (S_ISLNK(info.st_mode)) return PathKind::kLink;
  return S_ISREG(info.st_mode) ? PathKind::kRegular : PathKind::kOther;
}
