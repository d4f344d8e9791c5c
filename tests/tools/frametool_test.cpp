// The frame tool as people and scripts use it: one JSON line per file, one store across files.

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "tests/support/fits_builder.h"
#include "tests/support/temp_dir.h"

namespace {

std::vector<std::string> RunTool(const std::string& arguments, int* status = nullptr) {
  std::string output;
  const int code = RunCommand(std::string(QOR_FRAMETOOL) + " " + arguments + " 2>&1", &output);
  if (status) *status = code;
  std::vector<std::string> lines;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool Has(const std::string& line, const std::string& field) { return line.find(field) != std::string::npos; }

TEST(Frametool, RangeKeptAcrossFilesWithoutAQualifyingBin) {
  TempDir dir;
  // The worked example, then a frame of one value (no histogram): its range is the first frame's
  // rescaled one, rescaled once more.
  std::vector<int64_t> worked(100, 150);
  worked[0] = 0;
  worked[99] = 300;
  FitsBuilder::Frame(16, 10, 10).Samples(worked, 2).Write(dir.File("a.fts"));
  FitsBuilder::Frame(16, 2, 2).Samples({5, 5, 5, 5}, 2).Write(dir.File("b.fts"));
  FitsBuilder::Frame(64, 2, 2).Write(dir.File("bad.fts"));
  int status = 0;
  const auto lines = RunTool(dir.File("a.fts") + " " + dir.File("b.fts") + " " + dir.File("bad.fts") + " " +
                             dir.File("none.fts") + " --picture " + dir.File("out.bmp"), &status);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(Has(lines[0], "\"DisplayLowAfterRange\": 147, \"DisplaySpanAfterRange\": 6, "
                            "\"DisplayLowAfterRescale\": 220, \"DisplaySpanAfterRescale\": 60"))
      << lines[0];
  EXPECT_TRUE(Has(lines[1], "\"DisplayLowAfterRange\": 220, \"DisplaySpanAfterRange\": 60, "
                            "\"DisplayLowAfterRescale\": 330, \"DisplaySpanAfterRescale\": 600"))
      << lines[1];
  EXPECT_TRUE(Has(lines[2], "\"result\": \"header error\"")) << lines[2];
  EXPECT_TRUE(Has(lines[2], "BITPIX error : BITPIX = 64")) << lines[2];
  EXPECT_TRUE(Has(lines[3], "\"result\": \"file error\"")) << lines[3];
  EXPECT_GT(ReadBytes(dir.File("out.bmp")).size(), 423u * 316u * 3u);
}

TEST(Frametool, ArchivesTheStoreAfterTheLastFile) {
  TempDir dir;
  FitsBuilder::Frame(8, 3, 1).Samples({1, 2, 3}, 1).Write(dir.File("a.fts"));
  int status = 0;
  RunTool(dir.File("a.fts") + " --archive " + dir.File("out.fts"), &status);
  ASSERT_EQ(status, 0);
  const auto lines = RunTool(dir.File("out.fts"));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(Has(lines[0], "\"result\": \"ok\"") && Has(lines[0], "\"PixelMin\": 1, \"PixelMax\": 3")) << lines[0];
  RunTool(dir.File("missing.fts") + " --archive " + dir.File("none.fts"), &status);
  EXPECT_EQ(status, 1) << "no frame was read: no archive, and the tool says so";
}

// An archive must survive a power cut once written: its bytes are flushed before the rename, and
// the directory that holds the new name after it (seen in the system calls the tool makes).
TEST(Frametool, AnArchiveIsFlushedAndSoIsItsDirectoryAfterTheRename) {
  TempDir dir;
  FitsBuilder::Frame(8, 3, 1).Samples({1, 2, 3}, 1).Write(dir.File("a.fts"));
  // LeakSanitizer cannot work under strace: the sanitizer build's run goes without it.
  const std::string command = "ASAN_OPTIONS=detect_leaks=0 strace -f -e trace=openat,fsync,rename,renameat,renameat2 -o " +
                              ShellQuote(dir.File("trace.txt")) + " " + QOR_FRAMETOOL + " " +
                              ShellQuote(dir.File("a.fts")) + " --archive " + ShellQuote(dir.File("out.fts")) +
                              " >/dev/null 2>&1";
  ASSERT_EQ(RunCommand(command), 0);
  const std::vector<uint8_t> bytes = ReadBytes(dir.File("trace.txt"));
  std::istringstream trace(std::string(bytes.begin(), bytes.end()));
  bool renamed = false, flushed_after = false;
  std::string directory_fd;
  for (std::string line; std::getline(trace, line);) {
    if (line.find("rename") != std::string::npos && line.find("out.fts\"") != std::string::npos) renamed = true;
    if (renamed && line.find("O_DIRECTORY") != std::string::npos && line.find(" = ") != std::string::npos)
      directory_fd = line.substr(line.rfind(" = ") + 3);
    if (renamed && !directory_fd.empty() && line.find("fsync(" + directory_fd + ")") != std::string::npos &&
        line.size() > 3 && line.compare(line.size() - 3, 3, "= 0") == 0)
      flushed_after = true;
  }
  EXPECT_TRUE(renamed);
  EXPECT_TRUE(flushed_after) << std::string(bytes.begin(), bytes.end());
}

}  // namespace
