// Shared by the spreadsheet tests: a private temporary folder with a
// Japanese name, and the probe narrowed to processes the test names.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <sys/types.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "core/PlatformError.h"
#include "excel/Excel.h"

namespace pendra::excel::test {

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pendra-xl-XXXXXX").string();
    base_ = mkdtemp(pattern.data());
    path_ = base_ / "作業 フォルダー#1";
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(base_, ec);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path base_, path_;
};

// The error number a statement raises, or 0.
template <typename F>
long ErrorNumber(F&& statement) {
  try {
    statement();
  } catch (const PlatformError& e) {
    EXPECT_FALSE(e.Description().empty());
    return e.Number();
  }
  return 0;
}

inline bool ProcessExists(pid_t pid) {
  return std::filesystem::exists("/proc/" + std::to_string(pid));
}

}  // namespace pendra::excel::test
