// A test's own directory on Windows. Under Wine it is made in Linux's /tmp (drive Z:), where the
// Linux peers that check the test's files reach it by the same path.
#include "tests/support/temp_dir.h"

#include <windows.h>

#include <random>
#include <stdexcept>

namespace {

bool UnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

}  // namespace

TempDir::TempDir() {
  const std::filesystem::path parent = UnderWine() ? std::filesystem::path("Z:\\tmp") : std::filesystem::temp_directory_path();
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate = parent / ("qor-test-" + std::to_string(random()));
    if (CreateDirectoryW(candidate.wstring().c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot make a test directory");
}
