// Runs FITS frames through one frame store in order, as the station does (read, display range,
// rendering), and prints one JSON line per file. See the README for the options.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/program_arguments.h"
#include "base/utf8_path.h"
#include "display/picture_painter.h"
#include "display/picture_surface.h"
#include "display/snapshot_export.h"
#include "display/night_products.h"
#include "display/timelapse.h"
#include "fits/fits_reader.h"
#include "fits/text_numbers.h"
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

// The name it was run by: qor-frametool once installed, frametool in the build tree.
std::string ProgramName(const char* argv0) { return Utf8Text(Utf8Path(argv0 ? argv0 : "frametool").stem()); }

int Usage(const std::string& program, std::FILE* out = stderr) {
  std::fprintf(out,
               "usage: %s FILE... [--range R] [--background B] [--picture OUT.bmp] [--archive OUT.fts]"
               " [--timelapse OUT.mp4] [--large-frames]\n",
               program.c_str());
  return out == stderr ? 2 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  static FrameStore store;  // 9.4 MB: not on the stack
  std::vector<std::string> files;
  std::string archive, picture_path, timelapse, range_text = "10", background_text = "1.5";
  const std::string program = ProgramName(argv[0]);
  const std::vector<std::string> arguments = ProgramArguments(argc, argv);  // UTF-8, Windows too
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--help") return Usage(program, stdout);
    if (argument == "--large-frames") {
      store.LargeFrames = true;
      continue;
    }
    std::string* option = nullptr;
    if (argument == "--archive") option = &archive;
    if (argument == "--picture") option = &picture_path;
    if (argument == "--range") option = &range_text;
    if (argument == "--background") option = &background_text;
    if (argument == "--timelapse") option = &timelapse;
    if (option) {
      if (++i == arguments.size()) return Usage(program);
      *option = arguments[i];
    } else if (argument.rfind("--", 0) == 0) {
      std::fprintf(stderr, "%s: unknown option %s\n", program.c_str(), argument.c_str());
      return Usage(program);
    } else {
      files.push_back(argument);
    }
  }
  if (files.empty()) return Usage(program);

  std::vector<std::string> frames;
  FrameReader reader;
  SilentSink sink;
  PictureSurface picture;
  PicturePainter painter;  // the design's picture; a frame beyond 1537 x 1537 whole
  store.RangeFactor = NumericValueOfText(range_text);
  store.BackgroundFactor = NumericValueOfText(background_text);
  for (const std::string& file : files) {
    store.LiveFilePath = file;
    const ReadResult result = reader.ReadLiveFrame(store, sink);
    // The station goes on after a header error with what the store holds; a file error ends its
    // cycle, and so it ends this file's run here.
    const bool draws = result.status != ReadStatus::kFileError;
    int32_t range_low = store.DisplayLow, range_span = store.DisplaySpan;
    if (draws) {
      painter.ComputeRange(store);
      range_low = store.DisplayLow;
      range_span = store.DisplaySpan;
      painter.Render(store, picture);
      // Each drawn picture is a frame of the timelapse, as the station's night keeps them.
      if (!timelapse.empty()) {
        frames.push_back(timelapse + ".frame" + std::to_string(frames.size()) + ".jpg");
        if (!SaveImageJpeg(picture.Image(), frames.back(), 95).ok) frames.pop_back();
      }
    }
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
        .Number("PixelMax", store.PixelMax)
        .Number("DisplayLowAfterRange", range_low)
        .Number("DisplaySpanAfterRange", range_span)
        .Number("DisplayLowAfterRescale", store.DisplayLow)
        .Number("DisplaySpanAfterRescale", store.DisplaySpan);
    std::printf("%s\n", line.Finish().c_str());
  }
  if (!picture_path.empty() && !picture.SavePicture(picture_path)) {
    std::fprintf(stderr, "%s: cannot write %s\n", program.c_str(), picture_path.c_str());
    return 1;
  }
  if (!timelapse.empty()) {
    const Outcome made = frames.empty() ? Outcome::Failure("no picture was made")
                                        : MakeTimelapse(frames, timelapse, 25,
                                                        TimelapseSize(WholePictureSize(frames.front()), QSize(1920, 1080)));
    for (const std::string& frame : frames) std::remove(frame.c_str());
    if (!made.ok) {
      std::fprintf(stderr, "%s: no timelapse: %s\n", program.c_str(), made.reason.c_str());
      return 1;
    }
  }
  if (!archive.empty()) {
    store.ArchiveFilePath = archive;
    const Outcome written = WriteArchiveFrame(store);
    if (!written.ok) {
      std::fprintf(stderr, "%s: archive not written: %s\n", program.c_str(), written.reason.c_str());
      return 1;
    }
  }
  return 0;
}
