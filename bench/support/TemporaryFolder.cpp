#include "TemporaryFolder.h"

#include <stdlib.h>

#include <stdexcept>
#include <system_error>

namespace pendra::bench {

namespace fs = std::filesystem;

TemporaryFolder::TemporaryFolder(const std::string& prefix) {
  std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a folder " + pattern);
  path_ = pattern;
}

TemporaryFolder::~TemporaryFolder() {
  std::error_code ignored;  // a destructor must not throw; what is left is in the temporary folder
  fs::remove_all(path_, ignored);
}

std::string TemporaryFolder::CopyIn(const fs::path& from, const std::string& name) const {
  const fs::path to = path_ / name;
  CopyWritable(from, to, true);
  return to.string();
}

void CopyWritable(const fs::path& from, const fs::path& to, bool replace) {
  fs::copy_file(from, to, replace ? fs::copy_options::overwrite_existing : fs::copy_options::none);
  fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
}

}  // namespace pendra::bench
