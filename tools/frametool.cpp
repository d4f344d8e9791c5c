// Runs FITS frames through one frame store in order, as the station does, and prints one JSON
// line per file. See the README for the options.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fits/fits_reader.h"
#include "fits/fits_writer.h"
#include "tools/json_line.h"

namespace {

// The station shows header errors in a box; the tool puts them into the JSON line instead.
class SilentSink : public HeaderErrorSink {
 public:
  void ShowHeaderError(const std::string&) override {}
};

const char* ResultName(ReadStatus status) {
  switch (status) {
    case ReadStatus::kOk: return "ok";
    case ReadStatus::kHeaderError: return "header error";
    case ReadStatus::kFileError: return "file error";
  }
  return "?";
}

int Usage() {
  std::fprintf(stderr, "usage: frametool FILE... [--archive OUT.fts]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files;
  std::string archive;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--archive") == 0) {
      if (++i == argc) return Usage();
      archive = argv[i];
    } else {
      files.push_back(argv[i]);
    }
  }
  if (files.empty()) return Usage();

  static FrameStore store;  // 9.4 MB: not on the stack
  FrameReader reader;
  SilentSink sink;
  for (const std::string& file : files) {
    store.LiveFilePath = file;
    const ReadResult result = reader.ReadLiveFrame(store, sink);
    JsonLine line;
    line.Text("file", file)
        .Text("result", ResultName(result.status))
        .Text("message", result.message)
        .Number("BitPix", store.BitPix)
        .Number("Naxis1", store.Naxis1)
        .Number("Naxis2", store.Naxis2)
        .Number("BZero", store.BZero)
        .Number("BScale", store.BScale)
        .Number("HeaderCardCount", store.HeaderCardCount)
        .Number("PixelMin", store.PixelMin)
        .Number("PixelMax", store.PixelMax);
    std::printf("%s\n", line.Finish().c_str());
  }
  if (!archive.empty()) {
    store.ArchiveFilePath = archive;
    const Outcome written = WriteArchiveFrame(store);
    if (!written.ok) {
      std::fprintf(stderr, "frametool: archive not written: %s\n", written.reason.c_str());
      return 1;
    }
  }
  return 0;
}
