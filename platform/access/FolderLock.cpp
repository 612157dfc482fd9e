#include "FolderLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "core/AtomicFile.h"
#include "core/PlatformError.h"

namespace pendra::access {

namespace {

// Another of our jobs holding the folder is waited for this long, as a
// locked SQLite file is.
constexpr auto kLockWait = std::chrono::milliseconds(2000);

}  // namespace

FolderLock::FolderLock(const std::string& path) {
  const std::string folder = FolderOf(path);
  fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) Raise(err::kCannotOpenFile, "フォルダー '" + folder + "' を開けません。" + std::strerror(errno));
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ::close(fd_);
      fd_ = -1;
      Raise(err::kCouldNotUseLocked);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

FolderLock::~FolderLock() {
  if (fd_ >= 0) ::close(fd_);
}

int FolderLock::Release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

}  // namespace pendra::access
