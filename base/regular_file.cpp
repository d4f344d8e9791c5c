#include "base/regular_file.h"

Outcome ReadRegularFile(const std::string& path, size_t limit, std::string& bytes) {
  RegularFile file;
  if (Outcome opened = file.Open(path); !opened.ok) return opened;
  const uint64_t size = file.info().size;
  if (size > limit) return Outcome::Failure("the file is larger than " + std::to_string(limit) + " bytes");
  bytes.resize(static_cast<size_t>(size));
  return file.ReadAt(0, bytes.data(), bytes.size());
}
