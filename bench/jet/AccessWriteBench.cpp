// RewriteTable of KikiMaster with 32,765 rows and its index, against SQLite
// replacing the same rows of the same table (index included) in its own
// database: DELETE and INSERT in one transaction. The two alternate, round
// after round; the medians and their ratio are printed (aim: <= 1.5), then
// the Access file's size after 1 and after 5 rewrites (it must not grow).
// The other reference, the Apache-2.0 Java library doing the same
// rewrite, is not installed on the build machines and is not run here.
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Measure.h"
#include "TemporaryFolder.h"
#include "access/AccessWriter.h"
#include "core/PlatformError.h"

namespace {

namespace fs = std::filesystem;
using namespace pendra::bench;
using Rows = std::vector<std::vector<pendra::Variant>>;

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
  CommandLine line("pendra_jet_bench",
                   "Our writer rewriting KikiMaster of a genuine Access file (tests/data/access/ja_V2000.mdb) against\n"
                   "SQLite replacing the same rows in its own database, in alternated pairs; the medians count.");
  line.Count("rows", 32765, 200, "rows written");
  line.PairsOption(5);
  line.Parse(argc, argv);
  const int rounds = line.PairCount();
  const TemporaryFolder folder("pendra-jet-bench");
  const std::string access = folder.CopyIn(PENDRA_ACCESS_TESTDATA "/ja_V2000.mdb", "ja_V2000.mdb");
  const std::string sqlitePath = (folder / "reference.sqlite").string();
  sqlite3* db = nullptr;
  sqlite3_open(sqlitePath.c_str(), &db);
  Exec(db, "CREATE TABLE KikiMaster (タグ名 TEXT, 機器名称 TEXT, 開始操作値 INTEGER, 終了操作値 INTEGER, 更新日時 REAL)");
  Exec(db, "CREATE INDEX タグ名 ON KikiMaster (タグ名)");
  const Rows rows = KikiRows(static_cast<size_t>(line.CountOf("rows")));
  Pairs times;
  uintmax_t afterOne = 0;
  try {
    pendra::access::RewriteTable(access, "KikiMaster", rows);  // both start from 32,765 rows
    SqliteReplace(db, rows);
    afterOne = fs::file_size(access);
    times.Take(
        rounds, [&] { return TimeOf([&] { pendra::access::RewriteTable(access, "KikiMaster", rows); }); },
        [&] { return TimeOf([&] { SqliteReplace(db, rows); }); });
    for (int i = 1 + rounds; i < 5; ++i) pendra::access::RewriteTable(access, "KikiMaster", rows);
  } catch (const pendra::PlatformError& e) {
    std::fprintf(stderr, "pendra_jet_bench: %ld: %s\n", e.Number(), e.Description().c_str());
    return 1;
  }
  const uintmax_t afterFive = fs::file_size(access);
  const int rewrites = std::max(5, 1 + rounds);
  sqlite3_close(db);
  std::printf("Rewriting KikiMaster (%zu rows, index タグ名), median of %d alternated pairs:\n", rows.size(), rounds);
  std::printf("  RewriteTable %.3f s   reference SQLite delete + insert %.3f s   %s (aim <= 1.5)\n", times.MedianA(),
              times.MedianB(), times.RatioText().c_str());
  std::printf("  file size after 1 rewrite %ju bytes, after %d %ju bytes (%.1f %%; aim: no growth)\n", afterOne, rewrites,
              afterFive, 100.0 * static_cast<double>(afterFive) / static_cast<double>(afterOne));
  std::printf("  the Java library's rewrite: not run (not installed here)\n");
  return 0;
}
