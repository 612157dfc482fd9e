// RewriteTable of KikiMaster with 32,765 rows and its index, against SQLite
// replacing the same rows of the same table (index included) in its own
// database: DELETE and INSERT in one transaction. The two alternate, round
// after round; the medians and their ratio are printed (aim: <= 1.5), then
// the Access file's size after 1 and after 10 rewrites.
// Usage: pendra_jet_bench [rounds]
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "access/AccessWriter.h"
#include "core/PlatformError.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Rows = std::vector<std::vector<pendra::Variant>>;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// タグ名 Text(32), 機器名称 Text(64), 開始操作値 Long, 終了操作値 Long, 更新日時 Date.
Rows KikiRows(size_t count) {
  Rows rows;
  for (size_t i = 0; i < count; ++i)
    rows.push_back({pendra::Variant("TAG" + std::to_string(100000 + i)), pendra::Variant("ポンプ" + std::to_string(i % 500) + "号機"),
                    pendra::Variant(static_cast<int32_t>(i)), pendra::Variant(static_cast<int32_t>(i * 2)),
                    pendra::Variant::Date(45000.0 + static_cast<double>(i) / 1440.0)});
  return rows;
}

void Exec(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::fprintf(stderr, "pendra_jet_bench: sqlite: %s\n", error ? error : "?");
    std::exit(1);
  }
}

void SqliteReplace(sqlite3* db, const Rows& rows) {
  Exec(db, "BEGIN");
  Exec(db, "DELETE FROM KikiMaster");
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO KikiMaster VALUES (?, ?, ?, ?, ?)", -1, &insert, nullptr);
  for (const auto& row : rows) {
    sqlite3_bind_text(insert, 1, row[0].StringValue().c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 2, row[1].StringValue().c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert, 3, static_cast<int>(row[2].IntegerValue()));
    sqlite3_bind_int(insert, 4, static_cast<int>(row[3].IntegerValue()));
    sqlite3_bind_double(insert, 5, row[4].DoubleValue());
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  Exec(db, "COMMIT");
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const fs::path folder = fs::temp_directory_path() / ("pendra-jet-bench-" + std::to_string(getpid()));
  fs::create_directories(folder);
  const std::string access = (folder / "ja_V2000.mdb").string();
  fs::copy_file(PENDRA_ACCESS_TESTDATA "/ja_V2000.mdb", access);
  const std::string sqlitePath = (folder / "reference.sqlite").string();
  sqlite3* db = nullptr;
  sqlite3_open(sqlitePath.c_str(), &db);
  Exec(db, "CREATE TABLE KikiMaster (タグ名 TEXT, 機器名称 TEXT, 開始操作値 INTEGER, 終了操作値 INTEGER, 更新日時 REAL)");
  Exec(db, "CREATE INDEX タグ名 ON KikiMaster (タグ名)");
  const Rows rows = KikiRows(32765);
  std::vector<double> ours, reference;
  uintmax_t afterOne = 0;
  try {
    pendra::access::RewriteTable(access, "KikiMaster", rows);  // both start from 32,765 rows
    SqliteReplace(db, rows);
    afterOne = fs::file_size(access);
    for (int round = 0; round < rounds; ++round) {
      auto start = Clock::now();
      pendra::access::RewriteTable(access, "KikiMaster", rows);
      ours.push_back(Seconds(start));
      start = Clock::now();
      SqliteReplace(db, rows);
      reference.push_back(Seconds(start));
    }
    for (int i = 1 + rounds; i < 10; ++i) pendra::access::RewriteTable(access, "KikiMaster", rows);
  } catch (const pendra::PlatformError& e) {
    std::fprintf(stderr, "pendra_jet_bench: %ld: %s\n", e.Number(), e.Description().c_str());
    return 1;
  }
  const uintmax_t afterTen = fs::file_size(access);
  sqlite3_close(db);
  fs::remove_all(folder);
  std::printf("Rewriting KikiMaster (32,765 rows, index タグ名), median of %d rounds:\n", rounds);
  std::printf("  RewriteTable %.3f s   reference SQLite delete + insert %.3f s   ratio %.2f (aim <= 1.5)\n", Median(ours),
              Median(reference), Median(ours) / Median(reference));
  std::printf("  file size after 1 rewrite %ju bytes, after 10 %ju bytes (%.1f %%)\n", afterOne, afterTen,
              100.0 * static_cast<double>(afterTen) / static_cast<double>(afterOne));
  return 0;
}
