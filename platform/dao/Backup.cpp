#include "Backup.h"

#include <sqlite3.h>
#include <strings.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <utility>

#include "Sqlite.h"
#include "StatementTime.h"
#include "core/PlatformError.h"
#include "dao/Transaction.h"
#include "AccessBacked.h"
#include "access/Fingerprint.h"
#include "access/RestoreCopy.h"
#include "core/AtomicFile.h"
#include "core/RegularFile.h"

namespace pendra::dao {

namespace {

namespace fs = std::filesystem;

constexpr int kDefaultKeep = 10;
constexpr int kBusyTimeoutMs = 2000;

[[noreturn]] void CannotBackUp(const std::string& path, const std::string& why) {
  Raise(err::kDiskIO, "バックアップ '" + path + "' を作成できません (" + why + ")。データベースは変更していません。");
}

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
  Handle() = default;
  Handle(Handle&& other) noexcept : db(std::exchange(other.db, nullptr)) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle& operator=(Handle&&) = delete;
  ~Handle() { sqlite3_close_v2(db); }
};

// Copies the whole of source into the file at target (created); messages
// name `shown`, the file the copy becomes.
void CopyDatabase(sqlite3* source, const std::string& target, const std::string& shown) {
  Handle out;
  if (sqlite3_open_v2(target.c_str(), &out.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
    CannotBackUp(shown, out.db ? sqlite3_errmsg(out.db) : "open");
  // A new file that is synced once, whole, before it gets its name: a
  // journal of its own would only sync it over and over on the way.
  sqlite3_exec(out.db, "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF", nullptr, nullptr, nullptr);
  sqlite3_backup* backup = sqlite3_backup_init(out.db, "main", source, "main");
  if (!backup) CannotBackUp(shown, sqlite3_errmsg(out.db));
  const int rc = sqlite3_backup_step(backup, -1);
  sqlite3_backup_finish(backup);
  if (rc != SQLITE_DONE) CannotBackUp(shown, sqlite3_errstr(rc));
}

std::string NameCopy(const fs::path& temp, const fs::path& final) {
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

// Removes the oldest copies beyond the number to keep, never `spared`.
void Prune(const std::string& databasePath, const std::string& spared) {
  auto copies = ListBackups(databasePath);
  std::error_code ec;
  if (!spared.empty()) {
    std::erase_if(copies, [&](const BackupFile& copy) { return fs::equivalent(copy.path, spared, ec); });
  }
  const size_t keep = static_cast<size_t>(BackupsToKeep());
  for (size_t i = 0; i + keep < copies.size(); ++i) fs::remove(copies[i].path, ec);
}

// A connection of its own to a database file, read only, its statements
// bounded in time.
Handle OpenReadOnly(const std::string& path) {
  Handle file;
  if (sqlite3_open_v2(path.c_str(), &file.db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
    Raise(err::kDatabaseFileNotFound, "ファイル '" + path + "' が見つかりません。");
  sqlite3_busy_timeout(file.db, kBusyTimeoutMs);
  BoundStatementTime(file.db);
  return file;
}

// A copy of the database at databasePath, named for job. It is read through
// a connection of its own: SQLite copies nothing from a connection that holds
// a write transaction, and the job's transaction (its RESERVED lock) already
// keeps every other writer out, so what is read is what the job starts from.
std::string BackupName(const std::string& databasePath, std::string_view job) {
  return fs::path(databasePath).stem().string() + "-" + Stamp() + "-" + std::string(job) + ".mdb";
}

// A genuine Access file is never changed in place (the writer renames a new
// file over it) and the job holds its folder: a second name for the file is
// the copy, at no cost; a real copy where the backup folder lies on another
// file system. The copy is written under `hidden` (a name ListBackups passes over): it gets
// its listed name only when its job keeps it.
void TakeAccessCopy(const std::string& databasePath, const fs::path& hidden) {
  if (::link(databasePath.c_str(), hidden.c_str()) == 0) return;
  WriteFileAtomically(hidden.string(), ReadRegularFile(databasePath, access::kMaxAccessFileSize).bytes);
}

// shown: the name the copy gets when kept, for messages.
void TakeCopy(const std::string& databasePath, const fs::path& hidden, const std::string& shown) {
  if (detail::HasAccessHeader(databasePath)) return TakeAccessCopy(databasePath, hidden);
  Handle source;
  if (sqlite3_open_v2(databasePath.c_str(), &source.db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
    CannotBackUp(databasePath, source.db ? sqlite3_errmsg(source.db) : "open");
  sqlite3_busy_timeout(source.db, kBusyTimeoutMs);
  AtomicFile file(hidden.string());
  CopyDatabase(source.db, file.TemporaryPath(), shown);
  file.Commit();
}

// The copies a job of an ended process left unkept (the window ends at once
// on 終了, mid-job): nobody's now, since the caller holds the database.
void RemoveUnkeptCopies(const fs::path& folder, const std::string& databasePath) {
  const std::string prefix = ".~" + fs::path(databasePath).stem().string() + "-";
  std::error_code ec;
  std::vector<fs::path> unkept;
  for (const auto& entry : fs::directory_iterator(folder, ec))
    if (entry.path().filename().string().rfind(prefix, 0) == 0) unkept.push_back(entry.path());
  for (const auto& path : unkept) fs::remove(path, ec);
}

// --- What a copy to restore from must be -----------------------------------

[[noreturn]] void NotACopy(const std::string& path, const std::string& why) {
  Raise(err::kUnrecognizedFormat, "'" + path + "' はこのデータベースのバックアップではありません (" + why +
                                      ")。データベースは変更していません。");
}

// The header says what SQLite would do with the file before it opens it: a
// file in WAL mode is refused unopened (opening it would make SQLite use,
// and create, its side files).
void RequireRollbackJournal(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) Raise(err::kDatabaseFileNotFound, "ファイル '" + path + "' が見つかりません。");
  unsigned char header[100] = {};
  const size_t read = std::fread(header, 1, sizeof header, file);
  std::fclose(file);
  if (read < sizeof header || std::memcmp(header, "SQLite format 3", 16) != 0)
    NotACopy(path, "SQLite のデータベースではありません");
  // Bytes 18 and 19: 1 for the rollback journal, 2 for WAL.
  if (header[18] != 1 || header[19] != 1) NotACopy(path, "WAL モードのファイルです");
  std::error_code ec;
  if (fs::exists(path + "-wal", ec)) NotACopy(path, "WAL のファイル '" + path + "-wal' が添えられています");
}

// One table as the copy is compared by: its name and, per column, the name,
// declared type and whether it is hidden or generated.
struct TableDesign {
  std::string name;
  std::vector<std::string> columns;
  std::vector<std::string> names;   // the columns a row is written through
  bool operator==(const TableDesign&) const = default;
};

std::string Text(sqlite3_stmt* stmt, int column) {
  const auto* text = sqlite3_column_text(stmt, column);
  return text ? reinterpret_cast<const char*>(text) : "";
}

// Steps a statement of the design readings: a row, or the end.
bool NextRow(sqlite3* db, sqlite3_stmt* stmt) {
  const int rc = Step(stmt);
  if (rc == SQLITE_ROW) return true;
  if (rc != SQLITE_DONE) detail::RaiseSqlite(db, sqlite3_extended_errcode(db), detail::Operation::Read);
  return false;
}

// The tables of the main database, by name. With `copyAt`, the file is a
// copy to restore from, and anything but tables and their indexes (a view,
// a trigger, a virtual table) refuses it: such things run code of the
// file's own when the tables are read or written.
std::vector<TableDesign> Design(sqlite3* db, const std::string& copyAt = "") {
  std::vector<TableDesign> tables;
  detail::Statement objects(db, "SELECT type, name, sql FROM main.sqlite_master ORDER BY name");
  while (NextRow(db, objects.get())) {
    const std::string type = Text(objects.get(), 0), name = Text(objects.get(), 1), sql = Text(objects.get(), 2);
    if (!copyAt.empty()) {
      if (type == "view") NotACopy(copyAt, "ビュー " + name + " があります");
      if (type == "trigger") NotACopy(copyAt, "トリガー " + name + " があります");
      if (type != "table" && type != "index") {
        std::string what = type;
        what += " " + name + " があります";
        NotACopy(copyAt, what);
      }
      if (type == "table" && strncasecmp(sql.c_str(), "CREATE VIRTUAL", 14) == 0)
        NotACopy(copyAt, "仮想テーブル " + name + " があります");
    }
    if (type != "table" || name.rfind("sqlite_", 0) == 0) continue;
    TableDesign table{name, {}, {}};
    detail::Statement columns(db, "SELECT name, type, hidden FROM pragma_table_xinfo(?1, 'main')");
    sqlite3_bind_text(columns.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
    while (NextRow(db, columns.get())) {
      const std::string column = Text(columns.get(), 0);
      const int hidden = sqlite3_column_int(columns.get(), 2);
      table.columns.push_back(column + " " + Text(columns.get(), 1) + (hidden ? " hidden " + std::to_string(hidden) : ""));
      if (hidden == 0) table.names.push_back(column);
    }
    tables.push_back(std::move(table));
  }
  return tables;
}

// The copy holds exactly the database's tables, column for column.
void RequireSameTables(const std::vector<TableDesign>& ours, const std::vector<TableDesign>& copy,
                       const std::string& copyAt) {
  for (const auto& table : ours) {
    auto it = std::find_if(copy.begin(), copy.end(), [&](const TableDesign& t) { return t.name == table.name; });
    if (it == copy.end()) NotACopy(copyAt, "テーブル " + table.name + " がありません");
    if (!(*it == table)) NotACopy(copyAt, "テーブル " + table.name + " の列または型が違います");
  }
  for (const auto& table : copy) {
    if (std::none_of(ours.begin(), ours.end(), [&](const TableDesign& t) { return t.name == table.name; }))
      NotACopy(copyAt, "このデータベースにないテーブル " + table.name + " があります");
  }
}

// The tool's databases hold no triggers: one in the database came from a
// file put back by an earlier version, and would rewrite the rows being
// restored (and every later job's). It goes with the restore.
void DropTriggers(sqlite3* db) {
  std::vector<std::string> triggers;
  detail::Statement names(db, "SELECT name FROM main.sqlite_master WHERE type = 'trigger'");
  while (NextRow(db, names.get())) triggers.push_back(Text(names.get(), 0));
  for (const auto& name : triggers) detail::Statement(db, "DROP TRIGGER main." + detail::Quote(name)).Run(detail::Operation::Execute);
}

// Replaces the table's rows with the copy's, in stored order with their
// rowids; the database's own constraints apply to every row.
void CopyRows(sqlite3* from, sqlite3* to, const TableDesign& table) {
  std::string columns, slots;
  for (const auto& name : table.names) {
    columns += ", " + detail::Quote(name);
    slots += ", ?";
  }
  const std::string quoted = "main." + detail::Quote(table.name);
  detail::Statement(to, "DELETE FROM " + quoted).Run(detail::Operation::Execute);
  std::unique_ptr<detail::Statement> read, write;
  try {
    read = std::make_unique<detail::Statement>(from, "SELECT _rowid_" + columns + " FROM " + quoted + " ORDER BY _rowid_");
    write = std::make_unique<detail::Statement>(to, "INSERT INTO " + quoted + " (_rowid_" + columns + ") VALUES (?" + slots + ")");
  } catch (const PlatformError&) {
    // A table without rowids: its rows in the copy's order.
    read = std::make_unique<detail::Statement>(from, "SELECT " + columns.substr(2) + " FROM " + quoted);
    write = std::make_unique<detail::Statement>(to, "INSERT INTO " + quoted + " (" + columns.substr(2) + ") VALUES (" + slots.substr(2) + ")");
  }
  const int count = sqlite3_column_count(read->get());
  while (NextRow(from, read->get())) {
    for (int i = 0; i < count; ++i) sqlite3_bind_value(write->get(), i + 1, sqlite3_column_value(read->get(), i));
    write->Run(detail::Operation::Execute);
  }
}

}  // namespace

std::string BackupFolder(const std::string& databasePath) {
  return (fs::path(databasePath).parent_path() / "backup").string();
}

uint32_t FileChangeCounter(const std::string& databasePath) {
  unsigned char header[28] = {};
  std::FILE* file = std::fopen(databasePath.c_str(), "rb");
  const size_t read = file ? std::fread(header, 1, sizeof header, file) : 0;
  if (file) std::fclose(file);
  if (read < sizeof header) Raise(err::kDatabaseFileNotFound, "ファイル '" + databasePath + "' が見つかりません。");
  return static_cast<uint32_t>(header[24]) << 24 | static_cast<uint32_t>(header[25]) << 16 |
         static_cast<uint32_t>(header[26]) << 8 | header[27];
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
  CopyDatabase(source.db, to, to);
}

int BackupsToKeep() {
  const char* text = std::getenv("PENDRA_BACKUPS_KEEP");
  if (!text || !*text) return kDefaultKeep;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  return *end == '\0' && value > 0 && value < 100000 ? static_cast<int>(value) : kDefaultKeep;
}

JobBackup::JobBackup(const std::string& databasePath, std::string_view job) : databasePath_(databasePath) {
  const fs::path folder(BackupFolder(databasePath));
  std::error_code ec;
  createdFolder_ = !fs::exists(folder, ec);
  fs::create_directories(folder, ec);
  if (ec) CannotBackUp(folder.string(), ec.message());
  RemoveUnkeptCopies(folder, databasePath);
  const std::string name = BackupName(databasePath, job);
  path_ = (folder / name).string();
  hidden_ = (folder / (".~" + name)).string();
  try {
    TakeCopy(databasePath, hidden_, path_);
  } catch (...) {
    Drop();
    throw;
  }
}

JobBackup::~JobBackup() {
  if (!kept_) Drop();
}

void JobBackup::Drop() {
  std::error_code ignored;
  fs::remove(hidden_, ignored);
  // Only a folder this copy made, and only while nothing else lies in it.
  if (createdFolder_) fs::remove(BackupFolder(databasePath_), ignored);
}

void JobBackup::Keep(const std::string& spared) {
  if (kept_) return;
  NameCopy(hidden_, path_);
  kept_ = true;
  Prune(databasePath_, spared);
}

std::string BackUp(Database& db, std::string_view job) {
  JobBackup copy(db.Name(), job);
  copy.Keep();
  return copy.Path();
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

namespace {

enum class FileKind { kSqlite, kAccess, kOther };

FileKind KindOf(const std::string& path) {
  if (detail::HasAccessHeader(path)) return FileKind::kAccess;
  char header[16] = {};
  std::FILE* file = std::fopen(path.c_str(), "rb");
  const size_t read = file ? std::fread(header, 1, sizeof header, file) : 0;
  if (file) std::fclose(file);
  return read == sizeof header && std::memcmp(header, "SQLite format 3", 16) == 0 ? FileKind::kSqlite : FileKind::kOther;
}

}  // namespace

std::string WhyNotRestorable(const std::string& databasePath, const std::string& backupPath) {
  // A file that is not there is told of as such by the restore itself.
  std::error_code ec;
  if (!fs::exists(backupPath, ec) || !fs::exists(databasePath, ec)) return {};
  const FileKind copy = KindOf(backupPath);
  if (copy == FileKind::kOther) return "データベースのファイルではありません";
  const FileKind live = KindOf(databasePath);
  if (live == FileKind::kAccess && copy == FileKind::kSqlite)
    return "データベースが Access ファイルになる前の、このプログラムの形式 (SQLite) のバックアップです";
  if (live == FileKind::kSqlite && copy == FileKind::kAccess)
    return "データベースがこのプログラムの形式 (SQLite) になる前の、Access ファイルのバックアップです";
  return {};
}

// Restoring a genuine Access file (access/RestoreCopy.h): the live file is
// kept as the "restore" copy and the backup put in its place; the copy
// restored from is never removed.
std::string RestoreAccessFile(const std::string& databasePath, const std::string& backupPath) {
  if (!detail::HasAccessHeader(backupPath)) NotACopy(backupPath, "Access のデータベースではありません");
  std::string saved = (fs::path(BackupFolder(databasePath)) / BackupName(databasePath, "restore")).string();
  access::RestoreCopy(databasePath, backupPath, saved);
  Prune(databasePath, backupPath);
  return saved;
}

std::string Restore(const std::string& databasePath, const std::string& backupPath) {
  if (const std::string why = WhyNotRestorable(databasePath, backupPath); !why.empty()) NotACopy(backupPath, why);
  if (detail::HasAccessHeader(databasePath)) return RestoreAccessFile(databasePath, backupPath);
  // What the copy is, as far as it can be told without the database.
  RequireRollbackJournal(backupPath);
  Handle copy = OpenReadOnly(backupPath);
  if (Exec(copy.db, "SELECT count(*) FROM sqlite_master") != SQLITE_OK)
    NotACopy(backupPath, sqlite3_errmsg(copy.db));
  const auto copyDesign = Design(copy.db, backupPath);

  // From here to the last row the database is held: a job holding it makes
  // this wait, then give up with 3260; none can start in between.
  Workspace& workspace = DBEngine::Instance().Workspaces(0);
  auto live = workspace.OpenDatabase(databasePath);
  Transaction lock(workspace);
  RequireSameTables(Design(live->Handle()), copyDesign, backupPath);
  JobBackup before(databasePath, "restore");
  DropTriggers(live->Handle());
  for (const auto& table : copyDesign) CopyRows(copy.db, live->Handle(), table);
  lock.Commit();
  before.Keep(backupPath);
  live->Close();
  return before.Path();
}

}  // namespace pendra::dao
