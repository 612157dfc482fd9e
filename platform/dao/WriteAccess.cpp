#include "WriteAccess.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <vector>

#include "Backup.h"
#include "core/PlatformError.h"

namespace pendra::dao {

namespace {

namespace fs = std::filesystem;

// The user's effective rights, as the kernel checks them when the file is
// opened (root passes unless the file system is read-only).
bool MayWrite(const fs::path& path, bool folder, int& error) {
  if (faccessat(AT_FDCWD, path.c_str(), folder ? (W_OK | X_OK) : (R_OK | W_OK), AT_EACCESS) == 0) return true;
  error = errno;
  return false;
}

bool InGroup(gid_t group) {
  if (getegid() == group) return true;
  const int count = getgroups(0, nullptr);
  std::vector<gid_t> groups(static_cast<size_t>(count > 0 ? count : 0));
  const int got = getgroups(count, groups.data());
  for (int i = 0; i < got; ++i)
    if (groups[static_cast<size_t>(i)] == group) return true;
  return false;
}

// What to do: a place its group may write, for a user outside that group,
// is the package's arrangement (the group pendra); anything else is the
// administrator's to grant.
std::string WhatToDo(const fs::path& path, int error) {
  if (error == EROFS) return "読み取り専用のファイル システム上にあります。書き込める場所に置いてください。";
  struct stat info {};
  if (stat(path.c_str(), &info) == 0 && (info.st_mode & S_IWGRP) && !InGroup(info.st_gid)) {
    const group* owner = getgrgid(info.st_gid);
    const std::string name = owner ? owner->gr_name : std::to_string(info.st_gid);
    return "管理者に、グループ " + name + " のメンバーに加えるよう依頼してください (加えられたら、" +
           "ログインし直してからもう一度実行してください)。";
  }
  return "管理者に、ここへ書き込む権限を依頼してください (パッケージからインストールした場合は、グループ pendra "
         "のメンバーに加えてもらい、ログインし直してください)。";
}

}  // namespace

void RequireWritable(const std::string& databasePath) {
  std::error_code ec;
  if (!fs::is_regular_file(databasePath, ec)) return;
  const fs::path file(databasePath);
  const fs::path folder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
  const fs::path backups = BackupFolder(databasePath);
  // A file marked read-only for everyone is one somebody meant to keep as
  // it is; the Access writer refuses it even where the kernel would let us
  // write (root), and only once it meets its hidden work file.
  struct stat info {};
  if (stat(file.c_str(), &info) == 0 && (info.st_mode & 0222) == 0) {
    const bool ours = info.st_uid == geteuid() || geteuid() == 0;
    Raise(err::kCannotOpenFile,
          "データベース '" + databasePath + "' は読み取り専用になっています。" +
              (ours ? "書き込みを許可してから (ファイル マネージャーのプロパティで書き込みを許可するか、「chmod u+w '" +
                          databasePath + "'」)、もう一度実行してください。"
                    : "管理者に、このファイルへの書き込みを許可するよう依頼してください。") +
              " 何も変更していません。");
  }
  // The file, then the folder (the journal is made there, and the backup
  // folder when there is none yet), then the backup folder.
  const struct {
    fs::path path;
    bool folder;
  } places[] = {{file, false}, {folder, true}, {backups, true}};
  for (const auto& place : places) {
    if (place.path == backups && !fs::exists(backups, ec)) continue;
    int error = 0;
    if (MayWrite(place.path, place.folder, error)) continue;
    Raise(err::kCannotOpenFile, "データベース '" + databasePath + "' を変更する権限がありません ('" +
                                    place.path.string() + "' に書き込めません)。" + WhatToDo(place.path, error) +
                                    " 何も変更していません。");
  }
}

}  // namespace pendra::dao
