#include "ReliabilitySupport.h"

#include <sqlite3.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <stdexcept>

#include "ScheduleTestSupport.h"
#include "TestFiles.h"
#include "dao/Dao.h"
#include "jet/Checker.h"
#include "mdb/AccessFile.h"

namespace fs = std::filesystem;

namespace pendra::reliability {

void Figure(const std::string& text) {
  std::cout << "  figure: " << text << std::endl;
  ::testing::Test::RecordProperty("figure", text);
}

namespace {

sqlite3* OpenForWriting(const std::string& db) {
  sqlite3* handle = nullptr;
  if (sqlite3_open_v2(db.c_str(), &handle, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    std::string message = handle ? sqlite3_errmsg(handle) : "out of memory";
    sqlite3_close(handle);
    throw std::runtime_error("cannot open " + db + ": " + message);
  }
  sqlite3_busy_timeout(handle, 5000);
  return handle;
}

std::vector<std::string> Query(sqlite3* handle, const std::string& sql) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(handle, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
    throw std::runtime_error(sqlite3_errmsg(handle));
  std::vector<std::string> rows;
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    std::string row;
    for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
      if (c) row += "|";
      const auto* text = sqlite3_column_text(stmt, c);
      row += text ? reinterpret_cast<const char*>(text) : "NULL";
    }
    rows.push_back(std::move(row));
  }
  sqlite3_finalize(stmt);
  if (rc != SQLITE_DONE) throw std::runtime_error(std::string("query failed: ") + sqlite3_errstr(rc));
  return rows;
}

}  // namespace

bool AccessWorkFileBeside(const std::string& db) {
  const fs::path file(db);
  const std::string prefix = ".~" + file.filename().string() + "-";
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(file.parent_path(), ec))
    if (entry.path().filename().string().rfind(prefix, 0) == 0) return true;
  return false;
}

namespace {

// An Access file: its integrity check, and its tables through the Access
// reader (values described; columns named in a list like "A, B").
DbLook LookAtAccess(const std::string& db) {
  DbLook look;
  look.journalLeft = AccessWorkFileBeside(db);
  const jet::FileCheck check = jet::CheckAccessFile(db);
  if (check.Clean()) look.integrity = "ok";
  for (const auto& p : check.problems) look.integrity += p + "; ";
  for (const auto& t : check.tables)
    for (const auto& p : t.problems) look.integrity += t.name + ": " + p + "; ";
  return look;
}

std::vector<std::string> DumpAccess(const std::string& db, const std::string& table, const std::string& columns) {
  std::vector<std::string> names;
  for (size_t at = 0; columns != "*" && at < columns.size();) {
    const size_t comma = columns.find(',', at);
    std::string name = columns.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    name.erase(0, name.find_first_not_of(' '));
    names.push_back(name);
    at = comma == std::string::npos ? columns.size() : comma + 1;
  }
  for (const auto& t : mdb::ReadAccessFile(db).tables) {
    if (t.name != table) continue;
    std::vector<size_t> picked;
    for (size_t c = 0; c < t.columns.size(); ++c)
      if (names.empty() || std::find(names.begin(), names.end(), t.columns[c].name) != names.end()) picked.push_back(c);
    std::vector<std::string> rows;
    for (const auto& row : t.rows) {
      std::string text;
      for (size_t c : picked) text += (text.empty() ? "" : "|") + (row[c].IsNull() ? std::string("NULL") : row[c].Describe());
      rows.push_back(text);
    }
    return rows;
  }
  throw std::runtime_error("no table " + table + " in " + db);
}

}  // namespace

DbLook LookAt(const std::string& db) {
  if (dao::IsAccessFile(db)) return LookAtAccess(db);
  DbLook look;
  look.journalLeft = fs::exists(db + "-journal") || fs::exists(db + "-wal");
  sqlite3* handle = OpenForWriting(db);
  try {
    const auto rows = Query(handle, "PRAGMA integrity_check");
    for (const auto& row : rows) look.integrity += (look.integrity.empty() ? "" : "; ") + row;
  } catch (...) {
    sqlite3_close(handle);
    throw;
  }
  sqlite3_close(handle);
  return look;
}

std::vector<std::string> Dump(const std::string& db, const std::string& table, const std::string& columns) {
  if (dao::IsAccessFile(db)) return DumpAccess(db, table, columns);
  sqlite3* handle = OpenForWriting(db);
  try {
    auto rows = Query(handle, "SELECT " + columns + " FROM " + table + " ORDER BY rowid");
    sqlite3_close(handle);
    return rows;
  } catch (...) {
    sqlite3_close(handle);
    throw;
  }
}

std::vector<std::string> ScheduleDump(const std::string& db) {
  auto rows = Dump(db, "GroupMaster");
  for (auto& row : Dump(db, "KikiMaster")) rows.push_back("K|" + row);
  return rows;
}

std::vector<std::string> ScheduleContentDump(const std::string& db) {
  auto rows = Dump(db, "GroupMaster", "GPno, GP名称, 有効");
  for (auto& row : Dump(db, "KikiMaster", "タグ名, 機器名称, 開始操作値, 終了操作値")) rows.push_back("K|" + row);
  return rows;
}

void Restore(const std::string& db, const std::string& bytes) {
  std::error_code ignored;
  fs::remove(db + "-journal", ignored);
  fs::remove(db + "-wal", ignored);
  fs::remove(db + "-shm", ignored);
  cli::test::WriteFile(db, bytes);
}

namespace {

std::string Numbered(const char* format, int i) {
  char text[64];
  std::snprintf(text, sizeof text, format, i);
  return text;
}

}  // namespace

// The folder of the large workbook, removed when the test program ends.
struct LargeWorkbookFolder {
  std::string path;
  ~LargeWorkbookFolder() {
    std::error_code ignored;
    if (!path.empty()) fs::remove_all(path, ignored);
  }
};

std::string LargeWorkbook(const std::string& templatePath) {
  static LargeWorkbookFolder folder;
  static const std::string path = [&] {
    std::string dir = (fs::temp_directory_path() / "pendra-large-XXXXXX").string();
    if (!mkdtemp(dir.data())) throw std::runtime_error("mkdtemp");
    folder.path = dir;
    const std::string target = dir + "/大きな Pendra情報.xls";
    schedule::test::SheetRows groups{"GroupMaster", {}};
    for (int i = 1; i <= kLargeGroups; ++i)
      groups.rows.push_back({Variant(int32_t{i}), Variant("グループ " + std::to_string(i)), Variant(i % 5 != 0)});
    schedule::test::SheetRows kiki{"KikiMaster", {}};
    for (int i = 1; i <= kLargeKiki; ++i)
      kiki.rows.push_back({Variant(Numbered("TAG-%05d", i)), Variant(Numbered("機器 %05d", i)),
                           Variant(int32_t{i % 100}), Variant(int32_t{i % 7})});
    schedule::test::WriteWorkbook(templatePath, target, {groups, kiki});
    return target;
  }();
  return path;
}

void FillLargeTables(const std::string& db) {
  schedule::test::Exec(db, "BEGIN;"
                       "DELETE FROM GroupMaster; DELETE FROM KikiMaster;"
                       "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                           std::to_string(kLargeGroups) +
                           ") INSERT INTO GroupMaster (GPno, GP名称, 有効) "
                           "SELECT i, 'グループ ' || i, CASE WHEN i % 5 THEN -1 ELSE 0 END FROM n;"
                           "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                           std::to_string(kLargeKiki) +
                           ") INSERT INTO KikiMaster (タグ名, 機器名称, 開始操作値, 終了操作値) "
                           "SELECT printf('TAG-%05d', i), printf('機器 %05d', i), i % 100, i % 7 FROM n;"
                           "COMMIT;");
}

void WriteLargeCsv(const std::string& path, int records) {
  using tagimport::testing::Fields;
  using tagimport::testing::HeaderLine;
  const std::string name = tagimport::testing::ToCp932("記録");
  std::string bytes = HeaderLine() + "\r\n";
  bytes.reserve(static_cast<size_t>(records) * 80);
  for (int i = 1; i <= records; ++i) {
    bytes += Fields({std::to_string(i), Numbered("R-%06d", i), name + Numbered("%06d", i), "X.0", "100", "0",
                     "1", "1", "1", "1", "1", "", "", "", "", "1", "0", "", "1"});
    bytes += "\r\n";
  }
  cli::test::WriteFile(path, bytes);
}

bool OfficesGone(pid_t pid, int waitMs) {
  return cli::test::WaitFor([&] { return cli::test::OfficesOf(pid).empty(); },
                            std::chrono::milliseconds(waitMs));
}

}  // namespace pendra::reliability
