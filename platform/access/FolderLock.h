// The exclusive lock our own jobs take on the folder of an Access file
// before they write it: the file itself is replaced by every write, the
// folder stays. It keeps our own processes apart only; other programs are
// caught by the fingerprint (Fingerprint.h) and the lock file (LockFile.h).
#pragma once

#include <string>

namespace pendra::access {

class FolderLock {
 public:
  // Raises 3260 after a bounded wait.
  explicit FolderLock(const std::string& path);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  // Hands the locked descriptor over to the caller, who closes it.
  int Release();

 private:
  int fd_ = -1;
};

}  // namespace pendra::access
