#include "AtomicFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "PlatformError.h"
#include "ProcessFile.h"

namespace pendra {

namespace {

namespace fs = std::filesystem;

// ".~NAME-PID.XXXXXX": hidden, and naming the process that made it so a
// later run can tell a dead one's leftovers from a running one's.
std::string TemporaryPrefix(const std::string& target) { return ".~" + fs::path(target).filename().string() + "-"; }

// The mode a file newly made by the program gets: 0666 less the umask,
// read without changing it (the umask is the whole process's).
mode_t NewFileMode() { return 0666 & ~CurrentUmask().value_or(022); }

bool DiskFull(int error) { return error == ENOSPC || error == EDQUOT || error == EFBIG; }

// The rename lasts once the folder is flushed.
void SyncFolder(const std::string& target) {
  const int folder = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
}

}  // namespace

std::string FolderOf(const std::string& path) {
  const fs::path parent = fs::path(path).parent_path();
  return parent.empty() ? "." : parent.string();
}

AtomicFile::AtomicFile(std::string target) : target_(std::move(target)) {
  RemoveStaleTemporaries(target_);
  temporary_ = (fs::path(FolderOf(target_)) / (TemporaryPrefix(target_) + std::to_string(::getpid()) + ".XXXXXX")).string();
  fd_ = ::mkostemp(temporary_.data(), O_CLOEXEC);
  if (fd_ < 0) {
    const int error = errno;
    temporary_.clear();
    if (DiskFull(error)) Fail("create", error);
    Raise(err::kCannotOpenFile, "フォルダー '" + FolderOf(target_) + "' に書き込めないため、'" + target_ +
                                    "' を書き込めませんでした (" + std::strerror(error) + ")。");
  }
}

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

void AtomicFile::Fail(const char* step, int error) {
  // Nothing half-written stays behind, on a full disk least of all.
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
  temporary_.clear();
  RaiseWriteFailed(target_, step, error);
}

void RaiseWriteFailed(const std::string& target, const char* step, int error) {
  if (DiskFull(error))
    Raise(err::kDiskFull, "ディスクがいっぱいのため、'" + target + "' を書き込めませんでした。元のファイルは変わっていません。" +
                              "ディスクの空きを増やしてから、もう一度実行してください。");
  Raise(err::kDiskIO, "'" + target + "' を書き込めませんでした (" + step + ": " + std::strerror(error) +
                          ")。元のファイルは変わっていません。");
}

void AtomicFile::Write(std::string_view bytes) {
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail("write", n < 0 ? errno : ENOSPC);
    done += static_cast<size_t>(n);
  }
}

void AtomicFile::Commit(const std::function<void()>& lastCheck, const std::function<void(const struct stat&)>& displaced) {
  struct stat original {};
  if (::stat(target_.c_str(), &original) == 0) {
    if (::fchmod(fd_, original.st_mode & 07777) != 0) Fail("fchmod", errno);
    if ((original.st_uid != ::geteuid() || original.st_gid != ::getegid()) &&
        ::fchown(fd_, original.st_uid, original.st_gid) != 0 && errno != EPERM)
      Fail("fchown", errno);
  } else if (::fchmod(fd_, NewFileMode()) != 0) {
    Fail("fchmod", errno);
  }
  if (::fsync(fd_) != 0) Fail("fsync", errno);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) Fail("close", errno);
  if (lastCheck) lastCheck();   // the destructor removes the file when it raises
  if (!displaced) {
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) Fail("rename", errno);
    temporary_.clear();
  } else {
    // Exchanged, not renamed over: the file put aside is looked at after the
    // exchange, so a file another program renamed into place after the last
    // check is seen and put back, never silently replaced.
    if (::renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, target_.c_str(), RENAME_EXCHANGE) != 0) {
      // A file system that cannot exchange (some network ones): the last
      // check before the rename is all there is.
      if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) Fail("rename", errno);
      if (::rename(temporary_.c_str(), target_.c_str()) != 0) Fail("rename", errno);
      temporary_.clear();
      SyncFolder(target_);
      return;
    }
    try {
      struct stat aside {};
      if (::lstat(temporary_.c_str(), &aside) != 0)
        Raise(err::kDiskIO, "'" + target_ + "' を書き込めませんでした (" + std::strerror(errno) + ")。元のファイルは変わっていません。");
      displaced(aside);
    } catch (...) {
      // Ours goes back to the temporary name, which the destructor removes.
      ::renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, target_.c_str(), RENAME_EXCHANGE);
      throw;
    }
    ::unlink(temporary_.c_str());
    temporary_.clear();
  }
  SyncFolder(target_);
}

void WriteFileAtomically(const std::string& target, std::string_view bytes, const std::function<void()>& lastCheck) {
  AtomicFile file(target);
  file.Write(bytes);
  file.Commit(lastCheck);
}

void RemoveStaleTemporaries(const std::string& target) {
  const std::string prefix = TemporaryPrefix(target);
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(FolderOf(target), ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) != 0) continue;
    char* end = nullptr;
    const long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
    if (pid <= 0 || end == name.c_str() + prefix.size()) continue;
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM) continue;   // still running
    fs::remove(entry.path(), ec);
  }
}

}  // namespace pendra
