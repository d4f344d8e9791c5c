#include "base/regular_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

Outcome SystemFailure(const char* what) { return Outcome::FromErrno(what, errno); }

}  // namespace

RegularFile::~RegularFile() {
  if (fd_ >= 0) close(fd_);
}

Outcome RegularFile::Open(const std::string& path) {
  if (fd_ >= 0) close(fd_);
  fd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd_ < 0) return SystemFailure("cannot open the file");
  if (fstat(fd_, &info_) != 0) return SystemFailure("cannot stat the file");
  if (!S_ISREG(info_.st_mode)) return Outcome::Failure("not a regular file", Outcome::Code::kNotRegular);
  return Outcome::Success();
}

Outcome RegularFile::ReadAt(uint64_t offset, void* buffer, size_t size) const {
  auto* out = static_cast<char*>(buffer);
  while (size > 0) {
    const ssize_t got = pread(fd_, out, size, static_cast<off_t>(offset));
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

Outcome RegularFile::Stat(struct stat& info) const {
  if (fstat(fd_, &info) != 0) return SystemFailure("cannot stat the file");
  return Outcome::Success();
}

Outcome ReadRegularFile(const std::string& path, size_t limit, std::string& bytes) {
  RegularFile file;
  if (Outcome opened = file.Open(path); !opened.ok) return opened;
  const auto size = static_cast<uint64_t>(file.info().st_size);
  if (size > limit) return Outcome::Failure("the file is larger than " + std::to_string(limit) + " bytes");
  bytes.resize(static_cast<size_t>(size));
  return file.ReadAt(0, bytes.data(), bytes.size());
}

bool IsPresentButNotRegular(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode);
}
