// A folder held open from the moment it was checked, so that what is done
// in it later (the final rename of a saved workbook) happens in that very
// folder, even if its path has meanwhile been made to lead elsewhere (the
// folder renamed, a link put in its place). And file identity by device and
// inode: the same file under another name (a hard link, a bind mount, a
// different case on a case-insensitive file system) is still the same file.
#pragma once

#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

namespace pendra {

struct FileIdentity {
  dev_t device;
  ino_t inode;
  bool operator==(const FileIdentity&) const = default;
};

// The identity of the file a path leads to (links followed), if it exists.
std::optional<FileIdentity> IdentityOf(const std::string& path);

class PinnedFolder {
 public:
  // Opens the folder; Valid() is false when it cannot be opened.
  explicit PinnedFolder(const std::string& path);
  ~PinnedFolder();
  PinnedFolder(const PinnedFolder&) = delete;
  PinnedFolder& operator=(const PinnedFolder&) = delete;

  bool Valid() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  const std::string& Path() const { return path_; }
  // The path still leads to the folder that was opened.
  bool PathStillLeadsHere() const;
  // A file named name directly in the folder, with links followed.
  std::optional<struct stat> Stat(const std::string& name) const;

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace pendra
