#include "InstallationFiles.h"

#include <filesystem>
#include <optional>
#include <system_error>

#include "core/AsciiText.h"
#include "core/BasePath.h"
#include "core/PinnedFolder.h"

namespace pendra::schedule {

namespace {

namespace fs = std::filesystem;

// The endings SQLite appends to a database's name for its rollback journal,
// its write-ahead log and the log's shared index.
constexpr const char* kSideFileEndings[] = {"-journal", "-wal", "-shm"};

bool SameExistingFile(const std::optional<FileIdentity>& a, const std::optional<FileIdentity>& b) {
  return a && b && *a == *b;
}

// The folder a path's last part is in, absolute ("x.xls" is in ".").
fs::path FolderOf(const std::string& path) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(path, ec);
  return ec ? fs::path() : absolute.parent_path();
}

}  // namespace

bool IsTheTemplate(const std::string& baseFolder, const std::string& path) {
  return SameExistingFile(IdentityOf(path), IdentityOf(UnderBaseFolder(baseFolder, kTemplateWorkbook)));
}

bool IsADatabaseFile(const std::string& baseFolder, const std::string& path) {
  const auto target = IdentityOf(path);
  const auto targetFolder = IdentityOf(FolderOf(path).string());
  const std::string targetName = fs::path(path).filename().string();
  for (const char* fixedText : {kScheduleDatabase, kTagMasterDatabase}) {
    const std::string database = UnderBaseFolder(baseFolder, fixedText);
    if (SameExistingFile(target, IdentityOf(database))) return true;
    const bool inItsFolder = SameExistingFile(targetFolder, IdentityOf(FolderOf(database).string()));
    for (const char* ending : kSideFileEndings) {
      const std::string sideFile = database + ending;
      if (SameExistingFile(target, IdentityOf(sideFile))) return true;
      // Letter case is ignored: on a file system that ignores it, SQLite
      // would open the file under any case.
      if (inItsFolder && EqualIgnoringAsciiCase(targetName, fs::path(sideFile).filename().string())) return true;
    }
  }
  return false;
}

}  // namespace pendra::schedule
