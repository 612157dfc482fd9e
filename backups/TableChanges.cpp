#include "TableChanges.h"

#include <sqlite3.h>

#include <algorithm>
#include <set>
#include <string_view>

#include "core/BasePath.h"
#include "core/PlatformError.h"
#include "dao/Dao.h"
#include "mdb/AccessFile.h"
#include "dao/StatementTime.h"

namespace pendra::backups {

namespace {

constexpr size_t kKeysShown = 5;

struct ReadOnly {
  sqlite3* db = nullptr;
  explicit ReadOnly(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
      // A failed open still gives a handle; no destructor runs for a
      // constructor that throws.
      sqlite3_close_v2(db);
      Raise(err::kDatabaseFileNotFound, "ファイル '" + path + "' が見つかりません。");
    }
    sqlite3_busy_timeout(db, 2000);
    dao::BoundStatementTime(db);   // a backup listed may hold a view that never ends
  }
  ~ReadOnly() { sqlite3_close_v2(db); }
};

struct Statement {
  sqlite3_stmt* stmt = nullptr;
  Statement(sqlite3* db, const std::string& sql, const std::string& path) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
      Raise(err::kUnrecognizedFormat, "'" + path + "': " + sqlite3_errmsg(db));
  }
  ~Statement() { sqlite3_finalize(stmt); }
};

std::string Text(sqlite3_stmt* stmt, int column) {
  const auto* text = sqlite3_column_text(stmt, column);
  return text ? reinterpret_cast<const char*>(text) : "NULL";
}

}  // namespace

const std::vector<KeyedTable>& ScheduleTablesByKey() {
  static const std::vector<KeyedTable> tables = {
      {kScheduleDatabase, "GroupMaster", "GPno", "更新日時"},
      {kScheduleDatabase, "KikiMaster", "タグ名", "更新日時"},
  };
  return tables;
}

const std::vector<KeyedTable>& TagTablesByKey() {
  static const std::vector<KeyedTable> tables = {{kTagMasterDatabase, "M_TAG", "TAG"}};
  return tables;
}

namespace {

// A key as our own database's text gives it ("1", not "Long 1"): the keys
// a person reads in a change list look the same on both engines.
std::string KeyText(const Variant& key) {
  if (key.IsNull()) return "NULL";
  try {
    return key.ToText();
  } catch (const PlatformError&) {
    return key.Describe();
  }
}

}  // namespace

// An Access file's table through the Access reader: the same value gives
// the same text before and after a job.
TableRows ReadAccessRows(const std::string& databasePath, const KeyedTable& table) {
  mdb::ReadOptions only;
  only.rowsOf = {{table.table}};
  for (const auto& t : mdb::ReadAccessFile(databasePath, only).tables) {
    if (t.name != table.table) continue;
    size_t key = 0;
    while (key < t.columns.size() && t.columns[key].name != table.key) ++key;
    TableRows result;
    for (const auto& row : t.rows) {
      std::string text;
      for (size_t c = 0; c < row.size(); ++c) {
        if (table.setByTheJob && c < t.columns.size() && t.columns[c].name == table.setByTheJob) continue;
        text += (c ? "|" : "") + (row[c].IsNull() ? std::string("NULL") : row[c].Describe());
      }
      result.emplace(key < row.size() ? KeyText(row[key]) : "NULL", std::move(text));
    }
    return result;
  }
  Raise(err::kTableNotFound, "テーブル '" + std::string(table.table) + "' が見つかりません。");
}

TableRows ReadRows(const std::string& databasePath, const KeyedTable& table) {
  if (dao::IsAccessFile(databasePath)) return ReadAccessRows(databasePath, table);
  ReadOnly file(databasePath);
  Statement rows(file.db, std::string("SELECT \"") + table.key + "\", * FROM \"" + table.table + "\"", databasePath);
  TableRows result;
  int rc;
  while ((rc = dao::Step(rows.stmt)) == SQLITE_ROW) {
    std::string row;
    for (int c = 1; c < sqlite3_column_count(rows.stmt); ++c) {
      if (table.setByTheJob && std::string_view(sqlite3_column_name(rows.stmt, c)) == table.setByTheJob) continue;
      row += (row.empty() ? "" : "|") + Text(rows.stmt, c);
    }
    result.emplace(Text(rows.stmt, 0), std::move(row));
  }
  if (rc == SQLITE_INTERRUPT) dao::RaiseStatementTimeout();
  if (rc != SQLITE_DONE) Raise(err::kCouldNotUseLocked, "'" + databasePath + "': " + sqlite3_errmsg(file.db));
  return result;
}

long CountRows(const std::string& databasePath, const char* table) {
  if (dao::IsAccessFile(databasePath)) {
    mdb::ReadOptions designsOnly;
    designsOnly.rowsOf.emplace();
    for (const auto& t : mdb::ReadAccessFile(databasePath, designsOnly).tables)
      if (t.name == table) return t.recordedRows;
    return 0;
  }
  ReadOnly file(databasePath);
  Statement count(file.db, std::string("SELECT count(*) FROM \"") + table + "\"", databasePath);
  const int rc = dao::Step(count.stmt);
  if (rc == SQLITE_INTERRUPT) dao::RaiseStatementTimeout();
  return rc == SQLITE_ROW ? sqlite3_column_int64(count.stmt, 0) : 0;
}

TableChange Compare(const TableRows& before, const TableRows& after) {
  TableChange change;
  change.before = static_cast<long>(before.size());
  change.after = static_cast<long>(after.size());
  std::set<std::string> keys;
  for (const auto& [key, row] : before) keys.insert(key);
  for (const auto& [key, row] : after) keys.insert(key);
  for (const auto& key : keys) {
    // Rows of one key compared as sorted lists: a key may stand on several rows.
    std::vector<std::string> was, is;
    for (auto [it, end] = before.equal_range(key); it != end; ++it) was.push_back(it->second);
    for (auto [it, end] = after.equal_range(key); it != end; ++it) is.push_back(it->second);
    std::sort(was.begin(), was.end());
    std::sort(is.begin(), is.end());
    if (was == is) continue;
    const long common = static_cast<long>(std::min(was.size(), is.size()));
    if (is.size() > was.size()) change.added += static_cast<long>(is.size() - was.size());
    if (was.size() > is.size()) change.removed += static_cast<long>(was.size() - is.size());
    // Rows of the key in both: changed unless one of each is the same.
    long same = 0;
    std::vector<std::string> rest = is;
    for (const auto& row : was) {
      auto found = std::find(rest.begin(), rest.end(), row);
      if (found != rest.end()) {
        ++same;
        rest.erase(found);
      }
    }
    change.changed += std::max(0L, common - same);
    if (change.changedKeys.size() < kKeysShown) change.changedKeys.push_back(key);
  }
  return change;
}

std::string ChangeText(const char* table, const TableChange& change) {
  std::string text = std::string(table) + ": " + std::to_string(change.before) + " 行 → " +
                     std::to_string(change.after) + " 行 (追加 " + std::to_string(change.added) + "、削除 " +
                     std::to_string(change.removed) + "、変更 " + std::to_string(change.changed);
  if (!change.changedKeys.empty()) {
    text += ": ";
    for (size_t i = 0; i < change.changedKeys.size(); ++i) text += (i ? ", " : "") + change.changedKeys[i];
    if (static_cast<long>(change.changedKeys.size()) < change.added + change.removed + change.changed) text += " …";
  }
  return text + ")";
}

void PrintChange(std::ostream& out, const char* table, const TableChange& change) {
  out << ChangeText(table, change) << "\n";
}

}  // namespace pendra::backups
