#include "Backup.h"

#include <sqlite3.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>

#include "core/PlatformError.h"
#include "dao/Transaction.h"
#include "AccessBacked.h"
#include "AccessRewrite.h"
#include "mdb/AccessFile.h"

namespace pendra::dao {

namespace {

namespace fs = std::filesystem;

constexpr int kDefaultKeep = 10;
constexpr int kBusyTimeoutMs = 2000;

[[noreturn]] void CannotBackUp(const std::string& path, const std::string& why) {
  Raise(err::kDiskIO, "バックアップ '" + path + "' を作成できません (" + why + ")。データベースは変更していません。");
}

fs::path BackupFolder(const std::string& databasePath) { return fs::path(databasePath).parent_path() / "backup"; }

// "20261207-120102-345", local time to the millisecond: names sort in time order.
std::string Stamp() {
  timeval now{};
  gettimeofday(&now, nullptr);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  char text[64];
  std::snprintf(text, sizeof text, "%04d%02d%02d-%02d%02d%02d-%03ld", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, static_cast<long>(now.tv_usec / 1000));
  return text;
}

struct Handle {
  sqlite3* db = nullptr;
  ~Handle() { sqlite3_close_v2(db); }
};

// Copies the whole of source into the file at target (created), then
// syncs it.
void CopyDatabase(sqlite3* source, const std::string& target) {
  Handle out;
  if (sqlite3_open_v2(target.c_str(), &out.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
    CannotBackUp(target, out.db ? sqlite3_errmsg(out.db) : "open");
  sqlite3_backup* backup = sqlite3_backup_init(out.db, "main", source, "main");
  if (!backup) CannotBackUp(target, sqlite3_errmsg(out.db));
  const int rc = sqlite3_backup_step(backup, -1);
  sqlite3_backup_finish(backup);
  if (rc != SQLITE_DONE) CannotBackUp(target, sqlite3_errstr(rc));
}

std::string Keep(const fs::path& temp, const fs::path& final) {
  std::error_code ec;
  if (FILE* f = std::fopen(temp.c_str(), "r+b")) {
    fsync(fileno(f));
    std::fclose(f);
  }
  fs::rename(temp, final, ec);
  if (ec) {
    fs::remove(temp, ec);
    CannotBackUp(final.string(), ec.message());
  }
  return final.string();
}

std::string BackupName(const std::string& databasePath, std::string_view job) {
  return fs::path(databasePath).stem().string() + "-" + Stamp() + "-" + std::string(job) + ".mdb";
}

// A copy of the database at databasePath, named for job. It is read through
// a connection of its own: SQLite copies nothing from a connection that holds
// a write transaction, and the job's transaction (its RESERVED lock) already
// keeps every other writer out, so what is read is what the job starts from.
std::string TakeCopy(const std::string& databasePath, std::string_view job) {
  Handle source;
  if (sqlite3_open_v2(databasePath.c_str(), &source.db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
    CannotBackUp(databasePath, source.db ? sqlite3_errmsg(source.db) : "open");
  sqlite3_busy_timeout(source.db, kBusyTimeoutMs);
  const fs::path folder = BackupFolder(databasePath);
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) CannotBackUp(folder.string(), ec.message());
  const std::string name = BackupName(databasePath, job);
  const fs::path temp = folder / (".~" + name);
  try {
    CopyDatabase(source.db, temp.string());
  } catch (...) {
    fs::remove(temp, ec);
    throw;
  }
  std::string kept = Keep(temp, folder / name);
  PruneBackups(databasePath);
  return kept;
}

}  // namespace

void PruneBackups(const std::string& databasePath, const std::string& spared) {
  auto copies = ListBackups(databasePath);
  const size_t keep = static_cast<size_t>(BackupsToKeep());
  std::error_code ec;
  for (size_t i = 0; i + keep < copies.size(); ++i)
    if (copies[i].path != spared) fs::remove(copies[i].path, ec);
}

void CopyDatabaseFile(const std::string& from, const std::string& to) {
  if (detail::HasAccessHeader(from)) {
    // An Access file is copied as it lies: it is never changed in place.
    std::error_code ec;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    if (ec) CannotBackUp(to, ec.message());
    return;
  }
  Handle source;
  if (sqlite3_open_v2(from.c_str(), &source.db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
    Raise(err::kDatabaseFileNotFound, "ファイル '" + from + "' が見つかりません。");
  sqlite3_busy_timeout(source.db, kBusyTimeoutMs);
  CopyDatabase(source.db, to);
}

int BackupsToKeep() {
  const char* text = std::getenv("PENDRA_BACKUPS_KEEP");
  if (!text || !*text) return kDefaultKeep;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  return *end == '\0' && value > 0 && value < 100000 ? static_cast<int>(value) : kDefaultKeep;
}

std::string BackUp(Database& db, std::string_view job) {
  // An Access file keeps itself: the old file becomes the copy when the
  // job's change is written.
  const std::string kept = (BackupFolder(db.Name()) / BackupName(db.Name(), job)).string();
  if (db.KeepFileAtCommit(kept)) return kept;
  return TakeCopy(db.Name(), job);
}

std::vector<BackupFile> ListBackups(const std::string& databasePath) {
  std::vector<BackupFile> copies;
  const std::string stem = fs::path(databasePath).stem().string();
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(BackupFolder(databasePath), ec)) {
    const std::string name = entry.path().filename().string();
    // stem-YYYYMMDD-HHMMSS-mmm-job.mdb
    if (name.rfind(stem + "-", 0) != 0 || entry.path().extension() != ".mdb" || !entry.is_regular_file(ec)) continue;
    const std::string rest = name.substr(stem.size() + 1, name.size() - stem.size() - 5);
    if (rest.size() < 21 || rest[8] != '-' || rest[15] != '-' || rest[19] != '-') continue;
    BackupFile copy;
    copy.path = entry.path().string();
    copy.database = stem;
    copy.time = rest.substr(0, 4) + "-" + rest.substr(4, 2) + "-" + rest.substr(6, 2) + " " + rest.substr(9, 2) + ":" +
                rest.substr(11, 2) + ":" + rest.substr(13, 2);
    copy.job = rest.substr(20);
    copy.size = entry.file_size(ec);
    copies.push_back(std::move(copy));
  }
  std::sort(copies.begin(), copies.end(), [](const BackupFile& a, const BackupFile& b) { return a.path < b.path; });
  return copies;
}

// Restoring a genuine Access file: the copy must be an Access file holding
// every table of the live one with the same columns; the live file is kept
// as the "restore" copy (a second name for it) and a copy of the backup is
// renamed over it, all under the folder lock our jobs take to write.
std::string RestoreAccessFile(const std::string& databasePath, const std::string& backupPath) {
  const std::string notACopy = "'" + backupPath + "' はこのデータベースのバックアップではありません。";
  if (!detail::HasAccessHeader(backupPath)) Raise(err::kUnrecognizedFormat, notACopy);
  detail::FolderLock lock(databasePath);
  detail::RefuseWhileAccessHasIt(databasePath);
  mdb::ReadOptions designsOnly;
  designsOnly.rowsOf = [](const std::string&) { return false; };
  const auto live = mdb::ReadAccessFile(databasePath, designsOnly);
  const auto copy = mdb::ReadAccessFile(backupPath, designsOnly);   // a damaged copy is refused here
  for (const auto& table : live.tables) {
    const auto same = std::find_if(copy.tables.begin(), copy.tables.end(), [&](const auto& t) {
      if (t.name != table.name || t.columns.size() != table.columns.size()) return false;
      for (size_t c = 0; c < t.columns.size(); ++c)
        if (t.columns[c].name != table.columns[c].name || t.columns[c].type != table.columns[c].type) return false;
      return true;
    });
    if (same == copy.tables.end())
      Raise(err::kUnrecognizedFormat, "'" + backupPath + "' のテーブル " + table.name +
                                          " はこのデータベースの設計と違います。このデータベースのバックアップではありません。");
  }
  const std::string saved = (BackupFolder(databasePath) / BackupName(databasePath, "restore")).string();
  detail::ReplaceAccessFile(databasePath, backupPath, saved);
  PruneBackups(databasePath, backupPath);
  return saved;
}

std::string Restore(const std::string& databasePath, const std::string& backupPath) {
  if (detail::HasAccessHeader(databasePath)) return RestoreAccessFile(databasePath, backupPath);
  // The copy must be an SQLite database holding every table of the live one.
  Handle copy;
  if (sqlite3_open_v2(backupPath.c_str(), &copy.db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK ||
      sqlite3_exec(copy.db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) != SQLITE_OK)
    Raise(err::kUnrecognizedFormat, "'" + backupPath + "' はこのデータベースのバックアップではありません。");

  auto live = DBEngine::Instance().Workspaces(0).OpenDatabase(databasePath);
  sqlite3* db = live->Handle();
  sqlite3_stmt* tables = nullptr;
  sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type = 'table'", -1, &tables, nullptr);
  while (sqlite3_step(tables) == SQLITE_ROW) {
    const std::string table = reinterpret_cast<const char*>(sqlite3_column_text(tables, 0));
    sqlite3_stmt* probe = nullptr;
    const bool present = sqlite3_prepare_v2(copy.db, ("SELECT 1 FROM \"" + table + "\"").c_str(), -1, &probe, nullptr) == SQLITE_OK;
    sqlite3_finalize(probe);
    if (!present) {
      sqlite3_finalize(tables);
      std::string why = "'" + backupPath + "' にはテーブル ";
      why += table + " がありません。このデータベースのバックアップではありません。";
      Raise(err::kUnrecognizedFormat, why);
    }
  }
  sqlite3_finalize(tables);

  // The current state first, under the job lock: a job holding the
  // database makes this wait, then give up with 3260.
  std::string saved;
  {
    Transaction lock(DBEngine::Instance().Workspaces(0));
    saved = TakeCopy(databasePath, "restore");
    lock.Commit();
  }
  // The backup API writes the copy into the live file in one transaction;
  // a job that took the database meanwhile makes it report busy.
  sqlite3_backup* backup = sqlite3_backup_init(db, "main", copy.db, "main");
  if (!backup) Raise(err::kCouldNotUseLocked, sqlite3_errmsg(db));
  int rc;
  const auto deadline = kBusyTimeoutMs / 50;
  for (int attempt = 0;; ++attempt) {
    rc = sqlite3_backup_step(backup, -1);
    if ((rc != SQLITE_BUSY && rc != SQLITE_LOCKED) || attempt >= deadline) break;
    sqlite3_sleep(50);
  }
  sqlite3_backup_finish(backup);
  if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) Raise(err::kCouldNotUseLocked);
  if (rc != SQLITE_DONE) Raise(err::kDiskIO, StandardDescription(err::kDiskIO) + " (" + sqlite3_errstr(rc) + ")");
  live->Close();
  return saved;
}

}  // namespace pendra::dao
