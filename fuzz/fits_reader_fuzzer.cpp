// libFuzzer target: any bytes as the live file, read into one long-lived store and archived.
// Nothing may crash, read or write outside the store, or trip a sanitizer.

#include <cstdint>
#include <cstdio>
#include <string>

#include <unistd.h>

#include "fits/fits_reader.h"
#include "fits/fits_writer.h"

namespace {

class IgnoringSink : public HeaderErrorSink {
 public:
  void ShowHeaderError(const std::string&) override {}
};

std::string ScratchPath(const char* name) {
  return "/tmp/qor-fuzz-" + std::to_string(getpid()) + "-" + name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FrameStore store;  // shared across inputs, as across live cycles
  static FrameReader reader;
  static const std::string live = ScratchPath("live.fts");
  static const std::string archive = ScratchPath("archive.fts");

  std::FILE* file = std::fopen(live.c_str(), "wb");
  if (!file) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);

  IgnoringSink sink;
  store.LiveFilePath = live;
  reader.ReadLiveFrame(store, sink);
  store.ArchiveFilePath = archive;
  WriteArchiveFrame(store);
  return 0;
}
