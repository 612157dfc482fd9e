// The folder a benchmark run works in, and the copies of shipped files it
// works on there: made afresh under the system's temporary folder, removed
// with all it holds when the run leaves its scope, however it leaves.
#pragma once

#include <filesystem>
#include <string>

namespace pendra::bench {

class TemporaryFolder {
 public:
  // A new folder named prefix-XXXXXX; throws std::runtime_error when none
  // can be made.
  explicit TemporaryFolder(const std::string& prefix);
  ~TemporaryFolder();
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  // A writable copy of the file from, named name in this folder (replacing
  // one there); its path.
  std::string CopyIn(const std::filesystem::path& from, const std::string& name) const;

 private:
  std::filesystem::path path_;
};

// A copy of the file from at to that its owner may write (a file of a
// checkout may be read-only). An existing to is replaced only with replace;
// otherwise it is an error (std::filesystem::filesystem_error).
void CopyWritable(const std::filesystem::path& from, const std::filesystem::path& to, bool replace = false);

}  // namespace pendra::bench
