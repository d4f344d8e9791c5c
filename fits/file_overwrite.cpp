#include "fits/file_overwrite.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

Outcome SystemFailure(const std::string& what) { return Outcome::Failure(what + ": " + std::strerror(errno)); }

// Closes the file whatever way the write ends.
struct OpenFile {
  int fd;
  ~OpenFile() {
    if (fd >= 0) close(fd);
  }
};

}  // namespace

Outcome OverwriteFile(const std::string& path, const void* data, size_t size, mode_t mode) {
  // Without O_NONBLOCK a FIFO with no reader would hold the open forever.
  OpenFile file{open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, mode)};
  if (file.fd < 0) return SystemFailure("cannot open it");
  struct stat info {};
  if (fstat(file.fd, &info) != 0) return SystemFailure("cannot examine it");
  if (!S_ISREG(info.st_mode)) return Outcome::Failure("not a regular file");
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (size_t done = 0; done < size;) {
    const ssize_t written = pwrite(file.fd, bytes + done, size - done, static_cast<off_t>(done));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return SystemFailure("cannot write it");
    done += static_cast<size_t>(written);
  }
  if (info.st_size > static_cast<off_t>(size) && ftruncate(file.fd, static_cast<off_t>(size)) != 0)
    return SystemFailure("cannot cut it to its size");
  const int closed = close(file.fd);
  file.fd = -1;
  if (closed != 0) return SystemFailure("cannot close it");
  return Outcome::Success();
}
