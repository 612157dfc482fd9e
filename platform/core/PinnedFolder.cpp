#include "PinnedFolder.h"

#include <fcntl.h>
#include <unistd.h>

namespace pendra {

std::optional<FileIdentity> IdentityOf(const std::string& path) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileIdentity{st.st_dev, st.st_ino};
}

PinnedFolder::PinnedFolder(const std::string& path) : path_(path) {
  fd_ = open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

PinnedFolder::~PinnedFolder() {
  if (fd_ >= 0) close(fd_);
}

bool PinnedFolder::PathStillLeadsHere() const {
  struct stat held {};
  if (fd_ < 0 || fstat(fd_, &held) != 0) return false;
  const auto now = IdentityOf(path_);
  return now && *now == FileIdentity{held.st_dev, held.st_ino};
}

std::optional<struct stat> PinnedFolder::Stat(const std::string& name) const {
  struct stat st {};
  if (fd_ < 0 || fstatat(fd_, name.c_str(), &st, 0) != 0) return std::nullopt;
  return st;
}

}  // namespace pendra
