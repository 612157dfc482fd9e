#include "AccessRewrite.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "core/PlatformError.h"
#include "jet/TableRewrite.h"

namespace pendra::dao::detail {

namespace {

namespace fs = std::filesystem;

[[noreturn]] void CannotWrite(const std::string& path, const std::string& why) {
  Raise(err::kDiskIO, "データベース '" + path + "' を書き込めません (" + why + ")。データベースは変更していません。");
}

// Work files a killed run left beside the database (ours, ".~NAME-PID",
// and the writer's own temporary file named after it): removed once their
// process is gone.
void RemoveStaleWorkFiles(const fs::path& original) {
  const std::string prefix = ".~" + original.filename().string() + "-";
  std::error_code ec;
  const fs::path folder = original.parent_path().empty() ? fs::path(".") : original.parent_path();
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) != 0) continue;
    char* end = nullptr;
    const long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
    if (pid <= 0 || end == name.c_str() + prefix.size()) continue;
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM) continue;   // still running
    fs::remove(entry.path(), ec);
  }
}

// The work file, a private copy beside the database: same file system, so
// the final rename is one step.
class WorkCopy {
 public:
  // A copy of source beside the file at path.
  WorkCopy(const std::string& path, const std::string& source) {
    const fs::path original(path);
    RemoveStaleWorkFiles(original);
    work_ = (original.parent_path() / (".~" + original.filename().string() + "-" + std::to_string(::getpid()))).string();
    std::error_code ec;
    fs::remove(work_, ec);
    fs::copy_file(source, work_, ec);
    if (ec) CannotWrite(path, ec.message());
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
      // The new file keeps the old one's owner and mode.
      if (::chown(work_.c_str(), info.st_uid, info.st_gid) != 0 && errno != EPERM) CannotWrite(path, std::strerror(errno));
      ::chmod(work_.c_str(), info.st_mode & 07777);
    }
  }
  ~WorkCopy() {
    if (!work_.empty()) ::unlink(work_.c_str());
  }
  const std::string& Path() const { return work_; }

  void Sync() const {
    const int fd = ::open(work_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
      const std::string why = std::strerror(errno);
      if (fd >= 0) ::close(fd);
      CannotWrite(work_, why);
    }
    ::close(fd);
  }

  void ReplaceOriginal(const std::string& path) {
    if (::rename(work_.c_str(), path.c_str()) != 0) CannotWrite(path, std::strerror(errno));
    work_.clear();
    // The rename itself lasts once the folder is synced.
    const std::string folder = fs::path(path).parent_path().string();
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
      ::fsync(fd);
      ::close(fd);
    }
  }

 private:
  std::string work_;
};

// Keeps the file at path under backupPath (when set), then renames the
// finished work copy over it.
void KeepAndReplace(const std::string& path, WorkCopy& work, const std::string& backupPath) {
  work.Sync();
  if (!backupPath.empty()) {
    std::error_code ec;
    fs::create_directories(fs::path(backupPath).parent_path(), ec);
    // A second name for the old file, which the rename below leaves as it
    // is; a copy where the folder lies on another file system.
    if (::link(path.c_str(), backupPath.c_str()) != 0) {
      fs::copy_file(path, backupPath, ec);
      if (ec) Raise(err::kDiskIO, "バックアップ '" + backupPath + "' を作成できません (" + ec.message() + ")。データベースは変更していません。");
    }
  }
  try {
    work.ReplaceOriginal(path);
  } catch (...) {
    if (!backupPath.empty()) ::unlink(backupPath.c_str());
    throw;
  }
}

}  // namespace

void RewriteAccessTables(const std::string& path, const std::vector<AccessTableRows>& tables) {
  WorkCopy work(path, path);
  for (const auto& table : tables) jet::RewriteTable(work.Path(), table.table, table.rows);
  KeepAndReplace(path, work, "");
}

void ReplaceAccessFile(const std::string& path, const std::string& source, const std::string& backupPath) {
  WorkCopy work(path, source);
  KeepAndReplace(path, work, backupPath);
}

}  // namespace pendra::dao::detail
