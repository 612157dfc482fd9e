#include "RestoreCopy.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "AccessWriter.h"
#include "Fingerprint.h"
#include "FolderLock.h"
#include "LockFile.h"
#include "core/AtomicFile.h"
#include "core/PlatformError.h"
#include "jet/Checker.h"
#include "jet/JetFile.h"
#include "mdb/AccessFile.h"

namespace pendra::access {

namespace {

namespace fs = std::filesystem;

[[noreturn]] void NotACopy(const std::string& copyPath, const std::string& why) {
  Raise(err::kUnrecognizedFormat, "'" + copyPath + "' はこのデータベースのバックアップではありません (" + why +
                                      ")。データベースは変更していません。");
}

void RequireSound(const std::string& copyPath, const std::string& bytes) {
  const jet::FileCheck check = jet::CheckAccessFile(jet::JetFile(bytes, copyPath));
  if (check.Clean()) return;
  std::string first = check.problems.empty() ? "" : check.problems.front();
  for (const jet::TableCheck& table : check.tables)
    if (first.empty() && !table.problems.empty()) first = table.name + ": " + table.problems.front();
  Raise(3049, "バックアップ '" + copyPath + "' は壊れているため、戻しませんでした (" + first + ")。データベースは変更していません。");
}

bool SameColumn(const mdb::AccessColumn& a, const mdb::AccessColumn& b) {
  return a.name == b.name && a.type == b.type && a.size == b.size && a.required == b.required &&
         a.allowZeroLength == b.allowZeroLength && a.autoNumber == b.autoNumber;
}

bool SameIndex(const mdb::AccessIndex& a, const mdb::AccessIndex& b) {
  return a.name == b.name && a.primaryKey == b.primaryKey && a.unique == b.unique && a.columns == b.columns &&
         a.descending == b.descending;
}

bool SameDesign(const mdb::AccessTable& a, const mdb::AccessTable& b) {
  return std::equal(a.columns.begin(), a.columns.end(), b.columns.begin(), b.columns.end(), SameColumn) &&
         std::equal(a.indexes.begin(), a.indexes.end(), b.indexes.begin(), b.indexes.end(), SameIndex);
}

const mdb::AccessTable* Named(const mdb::AccessDatabase& database, const std::string& name) {
  const auto it = std::find_if(database.tables.begin(), database.tables.end(), [&](const auto& t) { return t.name == name; });
  return it == database.tables.end() ? nullptr : &*it;
}

void RequireSameTables(const std::string& path, const std::string& copyPath) {
  mdb::ReadOptions designsOnly;
  designsOnly.rowsOf.emplace();
  const auto live = mdb::ReadAccessFile(path, designsOnly);
  const auto copy = mdb::ReadAccessFile(copyPath, designsOnly);
  for (const auto& table : live.tables) {
    const mdb::AccessTable* same = Named(copy, table.name);
    if (!same) NotACopy(copyPath, "テーブル " + table.name + " がありません");
    if (!SameDesign(table, *same)) NotACopy(copyPath, "テーブル " + table.name + " の列、型または索引が違います");
  }
  for (const auto& table : copy.tables)
    if (!Named(live, table.name)) NotACopy(copyPath, "このデータベースにないテーブル " + table.name + " があります");
}

}  // namespace

void RestoreCopy(const std::string& path, const std::string& copyPath, const std::string& savedPath) {
  const FolderLock lock(path);
  RefuseWhileAccessHasIt(path);
  RequireWritable(path);
  const Fingerprint asRead = CurrentFingerprint(path);
  const RegularFile copy = ReadAccessImage(copyPath);
  RequireSound(copyPath, copy.bytes);
  RequireSameTables(path, copyPath);
  RequireUnchanged(path, asRead);
  // The database as it was, kept by a second name (the rename below leaves
  // it as it is); a copy where the backup folder lies on another file system.
  std::error_code ec;
  fs::create_directories(fs::path(savedPath).parent_path(), ec);
  if (::link(path.c_str(), savedPath.c_str()) != 0) {
    const RegularFile live = ReadAccessImage(path);
    if (FingerprintOf(live) != asRead) RaiseChanged(path);
    WriteFileAtomically(savedPath, live.bytes);
  }
  try {
    WriteFileAtomically(path, copy.bytes, [&] {
      RequireUnchanged(path, asRead);
      RefuseWhileAccessHasIt(path);
    });
  } catch (...) {
    ::unlink(savedPath.c_str());
    throw;
  }
}

}  // namespace pendra::access
