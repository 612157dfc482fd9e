#include "SafeReplace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "core/PlatformError.h"

namespace pendra::jet {

namespace {

std::string FolderOf(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return parent.empty() ? "." : parent.string();
}

[[noreturn]] void RaiseWrite(const std::string& path, const std::string& what) {
  Raise(err::kDiskIO, "'" + path + "' を書き込めませんでした (" + what + ": " + std::strerror(errno) + ")。元のファイルは変わっていません。");
}

}  // namespace

void RequireWritable(const std::string& path) {
  struct stat file {}, folder {};
  const std::string dir = FolderOf(path);
  if (stat(path.c_str(), &file) != 0 || stat(dir.c_str(), &folder) != 0)
    Raise(err::kDatabaseFileNotFound, "ファイル '" + path + "' が見つかりません。");
  if ((file.st_mode & 0222) == 0 || access(path.c_str(), W_OK) != 0)
    Raise(err::kCannotOpenFile, "ファイル '" + path + "' は読み取り専用です。");
  if ((folder.st_mode & 0222) == 0 || access(dir.c_str(), W_OK) != 0)
    Raise(err::kCannotOpenFile, "フォルダー '" + dir + "' に書き込めません (読み取り専用)。");
}

void ReplaceFile(const std::string& path, const std::string& bytes) {
  struct stat original {};
  if (stat(path.c_str(), &original) != 0) Raise(err::kDatabaseFileNotFound, "ファイル '" + path + "' が見つかりません。");
  std::string temporary = path + ".pendra-XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) Raise(err::kCannotOpenFile, "フォルダー '" + FolderOf(path) + "' に書き込めません (" + std::strerror(errno) + ")。");
  const auto fail = [&](const char* what) {
    const int saved = errno;
    close(fd);
    unlink(temporary.c_str());
    errno = saved;
    RaiseWrite(path, what);
  };
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail("write");
    done += static_cast<size_t>(n);
  }
  // The original's mode and, where we may, its owner.
  if (fchmod(fd, original.st_mode & 07777) != 0) fail("fchmod");
  if ((original.st_uid != geteuid() || original.st_gid != getegid()) && fchown(fd, original.st_uid, original.st_gid) != 0)
    fail("fchown");
  if (fsync(fd) != 0) fail("fsync");
  if (close(fd) != 0) {
    unlink(temporary.c_str());
    RaiseWrite(path, "close");
  }
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    const int saved = errno;
    unlink(temporary.c_str());
    errno = saved;
    RaiseWrite(path, "rename");
  }
  // The rename itself reaches the disk with the folder.
  const int dir = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
}

}  // namespace pendra::jet
