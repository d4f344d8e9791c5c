// Writing the station's files on POSIX systems: descriptors, fsync, rename and renameat2.
#include "base/atomic_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool WriteAll(int fd, const unsigned char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

// Swaps the new file with the earlier regular file at `path`, then removes the earlier one. On ext4
// a rename over a file starts the new file's write-back at once (a guard for programs that never
// flush), which costs a fifth of a millisecond that a file made anew every cycle does not need;
// an exchange is as atomic for readers of `path` and does not do it.
bool ExchangeWithEarlier(const std::string& temporary, const std::string& path) {
  struct stat earlier {};
  if (lstat(path.c_str(), &earlier) != 0 || !S_ISREG(earlier.st_mode)) return false;
  if (renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) != 0) return false;
  unlink(temporary.c_str());
  return true;
}

Outcome SystemFailure(const char* what) { return Outcome::FromErrno(what, errno); }

// The rename lives in the directory: until the directory is flushed too, a power cut can leave
// the old name, or none, however well the file's own bytes were flushed.
Outcome FlushDirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return SystemFailure("cannot open its directory to flush it");
  Outcome result = fsync(fd) == 0 ? Outcome::Success() : SystemFailure("cannot flush its directory");
  close(fd);
  return result;
}

}  // namespace

// The file is made with the final mode, which the kernel limits by the umask as for any new file.
AtomicFileWriter::AtomicFileWriter(const std::string& path, mode_t mode) : path_(path) {
  for (int attempt = 0; attempt < 100 && handle_ < 0; ++attempt) {
    temporary_ = path + "." + TemporarySuffix();
    handle_ = open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (handle_ < 0 && errno != EEXIST) break;
  }
  if (handle_ < 0) opened_ = SystemFailure("cannot create a file beside it");
}

AtomicFileWriter::~AtomicFileWriter() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
  if (opened_.ok && !committed_) unlink(temporary_.c_str());
}

Outcome AtomicFileWriter::WriteAt(uint64_t offset, const void* data, size_t size) {
  if (!opened_.ok) return opened_;
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ssize_t written = pwrite(static_cast<int>(handle_), bytes, size, static_cast<off_t>(offset));
    if (written < 0) {
      if (errno == EINTR) continue;
      return SystemFailure("cannot write it");
    }
    bytes += written;
    offset += static_cast<uint64_t>(written);
    size -= static_cast<size_t>(written);
  }
  return Outcome::Success();
}

Outcome AtomicFileWriter::Commit(Durability durability) {
  if (!opened_.ok) return opened_;
  if (durability == Durability::kFlushed && fsync(static_cast<int>(handle_)) != 0) return SystemFailure("cannot flush it");
  const int closed = close(static_cast<int>(handle_));
  handle_ = -1;
  if (closed != 0) return SystemFailure("cannot close it");
  if (durability == Durability::kReplaceOnly && ExchangeWithEarlier(temporary_, path_)) {
    committed_ = true;
    return Outcome::Success();
  }
  if (std::rename(temporary_.c_str(), path_.c_str()) != 0) return SystemFailure("cannot put it in place");
  committed_ = true;
  if (durability == Durability::kFlushed) return FlushDirectoryOf(path_);
  return Outcome::Success();
}

Outcome OverwriteFile(const std::string& path, const void* data, size_t size, mode_t mode) {
  // Without O_NONBLOCK a FIFO with no reader would hold the open forever.
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, mode);
  if (fd < 0) return SystemFailure("cannot open it");
  struct stat info {};
  Outcome outcome = Outcome::Success();
  if (fstat(fd, &info) != 0) outcome = SystemFailure("cannot examine it");
  else if (!S_ISREG(info.st_mode)) outcome = Outcome::Failure("not a regular file", Outcome::Code::kNotRegular);
  else if (!WriteAll(fd, static_cast<const unsigned char*>(data), size)) outcome = SystemFailure("cannot write it");
  else if (info.st_size > static_cast<off_t>(size) && ftruncate(fd, static_cast<off_t>(size)) != 0)
    outcome = SystemFailure("cannot cut it to its size");
  if (close(fd) != 0 && outcome.ok) outcome = SystemFailure("cannot close it");
  return outcome;
}

Outcome FlushFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return SystemFailure("cannot open it to flush it");
  const Outcome result = fsync(fd) == 0 ? Outcome::Success() : SystemFailure("cannot flush it");
  close(fd);
  return result;
}

Outcome PutInPlace(const std::string& from, const std::string& path) {
  if (std::rename(from.c_str(), path.c_str()) != 0) return SystemFailure("cannot put it in place");
  return FlushDirectoryOf(path);
}
