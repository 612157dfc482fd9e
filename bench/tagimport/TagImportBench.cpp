// The tag master import of 100,000 records (half of them tags already in
// M_TAG), timed through the job itself, against two references measured in
// the same run on the same records, in alternated rounds (job, floor,
// sqlite-utils); the medians count:
//  - the floor: sqlite3's own ".import" of the records (as UTF-8 CSV) into
//    an empty copy of M_TAG, a bulk load with no lookups;
//  - sqlite-utils "upsert" of the records into a copy of the database as it
//    was before the import.
// --job-only runs the job once, for a profiler.
#include <iconv.h>
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "MasterCsvRecord.h"
#include "TagMasterUpdate.h"
#include "WriteTable.h"
#include "core/UserInterface.h"
#include "dao/Backup.h"
#include "dao/Dao.h"
#include "CommandLine.h"
#include "Fixture.h"
#include "Measure.h"
#include "TemporaryFolder.h"

namespace fs = std::filesystem;
using namespace pendra;
using namespace pendra::tagimport;

namespace {

struct BenchUi : UserInterface {
  std::string path, base;
  std::vector<std::string> shown;
  MsgBoxResult MsgBox(std::string_view prompt, MsgBoxButtons buttons, std::string_view) override {
    if (buttons != MsgBoxButtons::OkOnly) return MsgBoxResult::Yes;
    shown.emplace_back(prompt);
    return MsgBoxResult::Ok;
  }
  void SetWaitPointer(bool) override {}
  void DoEvents() override {}
  void SetTopmost(bool) override {}
  void EndProgram() override {}
  std::string PathBoxText() override { return path; }
  std::string BaseFolder() override { return base; }
};

std::string ToCp932(const std::string& utf8) {
  static iconv_t cd = iconv_open("CP932", "UTF-8");
  std::string out(utf8.size() + 8, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  char* to = out.data();
  size_t toLeft = out.size();
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &in, &inLeft, &to, &toLeft) == static_cast<size_t>(-1)) std::abort();
  out.resize(out.size() - toLeft);
  return out;
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

// The 26 fields of record i: even records are tags already in M_TAG.
std::vector<std::string> MakeRecord(long i) {
  const std::string tag = (i % 2 == 0 ? "E" : "N") + std::to_string(100000 + i / 2);
  static const char* kDigits[] = {"X", "X.0", "X.00", "X.000", ""};
  std::vector<std::string> f = {
      std::to_string(i + 1), tag, "ﾀﾝｸ" + std::to_string(i % 97) + "号 流量①", kDigits[i % 5],
      std::to_string(100 + i % 900), i % 3 ? "0" : "", std::to_string(i % 10),
      std::to_string(i % 20), std::to_string(i % 30), std::to_string(i % 12), "1",
      i % 4 ? "-1" : "", "0", "-1", "", std::to_string(i % 3), "0", i % 5 ? "" : "9999",
      i % 7 ? "1.5" : "", "A" + std::to_string(i % 11), "", "", "", "", "",
      i % 13 ? "" : "[T1]+[T2]"};
  return f;
}

// Column names of M_TAG in table order.
std::vector<std::string> TableColumns(const std::string& dbPath) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT name FROM pragma_table_info('M_TAG')", -1, &st, nullptr);
  std::vector<std::string> names;
  while (sqlite3_step(st) == SQLITE_ROW) {
    names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return names;
}

// The statements that make an empty copy of M_TAG.
std::string TableSql(const std::string& dbPath) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  // The table and its indexes: the copy pays for the same index upkeep.
  sqlite3_prepare_v2(db,
                     "SELECT sql FROM sqlite_master WHERE tbl_name = 'M_TAG' AND sql IS NOT NULL "
                     "ORDER BY type = 'index'",
                     -1, &st, nullptr);
  std::string sql;
  while (sqlite3_step(st) == SQLITE_ROW) {
    sql += reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sql += ";\n";
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return sql;
}

long CountRows(const std::string& dbPath) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT count(*) FROM M_TAG", -1, &st, nullptr);
  long n = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
  sqlite3_finalize(st);
  sqlite3_close(db);
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  bench::CommandLine line("pendra_tagimport_bench",
                          "The tag master import against sqlite3 .import of the same records (the floor) and against\n"
                          "sqlite-utils upsert, in alternated rounds; the medians count.");
  line.Count("records", 100000, 200, "records of the master file (half of them tags already present)");
  line.Count("pairs", 5, 1, "alternated rounds");
  line.Flag("job-only", "the job once, no references (for a profiler)");
  line.Parse(argc, argv);
  const bool jobOnly = line.FlagOf("job-only");
  const long records = line.CountOf("records");
  const int rounds = jobOnly ? 1 : static_cast<int>(line.CountOf("pairs"));
  const bench::TemporaryFolder folder("pendra-tagbench");
  const fs::path& dir = folder.Path();
  const fs::path base = dir / "base";
  const std::string dbPath = (base / "VL_Database" / "Velmora.mdb").string();
  fs::create_directories(base / "VL_Database");
  fixture::CreateTagMasterDatabase(dbPath);

  // The tags already present: half of the file's.
  {
    auto& ws = dao::DBEngine::Instance().Workspaces(0);
    auto db = ws.OpenDatabase(dbPath);
    ws.BeginTrans();
    auto rs = db->OpenRecordset("SELECT * FROM M_TAG", dao::dbOpenDynaset);
    for (long i = 0; i < records; i += 2) {
      rs->AddNew();
      rs->Fields("TAG") = Variant(MakeRecord(i)[1]);
      rs->Fields("tag名称") = Variant("old");
      rs->Update();
    }
    rs->Close();
    ws.CommitTrans();
    db->Close();
  }
  const long before = CountRows(dbPath);
  fs::copy_file(dbPath, dir / "pristine.db");
  auto freshUpsertCopy = [&] {
    fs::copy_file(dir / "pristine.db", dir / "upsert.db", fs::copy_options::overwrite_existing);
    // sqlite-utils finds the row to update by its key: give its copy a
    // unique key on the tag (otherwise it inserts every record as new).
    sqlite3* db = nullptr;
    sqlite3_open((dir / "upsert.db").c_str(), &db);
    sqlite3_exec(db, "CREATE UNIQUE INDEX upsert_key ON M_TAG (TAG)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  };

  // The master file (code page 932) and the same records as UTF-8 CSV for
  // the two references: every column of M_TAG for the floor, the written
  // columns with their names as header for sqlite-utils.
  const auto columns = TableColumns(dbPath);
  std::map<std::string, int> written;  // column (folded) -> position
  auto fold = [](std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  written[fold("TAG")] = 1;
  for (const auto& w : kWriteTable) written[fold(std::string(w.column))] = w.position;
  {
    std::ofstream master(dir / "master.csv", std::ios::binary);
    std::ofstream floor(dir / "floor.csv", std::ios::binary);
    std::ofstream upsert(dir / "upsert.csv", std::ios::binary);
    master << "TAG_ID,TAG,NAME,DIGIT,MAX,MIN,L,M,S,UNIT,COLLECT,TOTAL_FLG,AVE_FLG,MAX_FLG,"
              "MIN_FLG,TYPE,P_TYPE,P_MAX,FACTOR,A,B,C,D,E,F,CALC\r\n";
    upsert << "TAG";
    for (const auto& w : kWriteTable) upsert << "," << w.column;
    upsert << "\n";
    for (long i = 0; i < records; ++i) {
      const auto f = MakeRecord(i);
      std::string line;
      for (size_t k = 0; k < f.size(); ++k) line += (k ? "," : "") + CsvField(f[k]);
      master << ToCp932(line) << "\r\n";
      // The values the job stores, as text.
      MasterCsvRecord record = MasterCsvRecord::FromLine(line, i + 1);
      std::map<int, std::string> value{{1, f[1]}};
      for (const auto& w : kWriteTable) value[w.position] = ColumnValue(w, record).ToText();
      std::string row;
      for (size_t c = 0; c < columns.size(); ++c) {
        auto it = written.find(fold(columns[c]));
        row += (c ? "," : "") + (it == written.end() ? std::string() : CsvField(value[it->second]));
      }
      floor << row << "\n";
      upsert << CsvField(f[1]);
      for (const auto& w : kWriteTable) upsert << "," << CsvField(value[w.position]);
      upsert << "\n";
    }
  }

  bench::Pairs floors, upserts;  // job against the floor; sqlite-utils against the job
  const std::string loadBefore = bench::LoadAverage();
  long after = 0;
  for (int round = 0; round < rounds; ++round) {
    // 1. The job, on the database as it was before any import.
    fs::copy_file(dir / "pristine.db", dbPath, fs::copy_options::overwrite_existing);
    BenchUi ui;
    ui.path = (dir / "master.csv").string();
    ui.base = base.string();
    auto start = bench::Clock::now();
    const auto outcome = tagimport::Command1_Click(ui);
    const double job = bench::Seconds(start);
    after = CountRows(dbPath);
    if (!outcome.IsCompleted()) {
      std::fprintf(stderr, "the import did not complete:\n%s\n", ui.shown.empty() ? "" : ui.shown.back().c_str());
      return 1;
    }
    if (jobOnly) {
      std::printf("tag import job %.3f s (%ld records)\n", job, records);
      return 0;
    }

    // 2. The floor: an empty copy of the table (with its index), bulk
    // loaded by sqlite3. Creating the table is part of the command; it
    // takes well under a millisecond.
    fs::remove(dir / "floor.db");
    {
      std::ofstream script(dir / "floor.sql");
      script << TableSql(dbPath) << ".mode csv\n.import " << (dir / "floor.csv").string()
             << " M_TAG\n";
    }
    floors.Add(job, bench::Timed("sqlite3 " + (dir / "floor.db").string() + " < " + (dir / "floor.sql").string()));

    // 3. sqlite-utils upsert of the same records, keyed by the tag.
    freshUpsertCopy();
    upserts.Add(bench::Timed("sqlite-utils upsert --csv --pk TAG " + (dir / "upsert.db").string() + " M_TAG " +
                             (dir / "upsert.csv").string() + " >/dev/null"),
                job);
  }

  // The backup the job takes first (included in its time above), on its own.
  std::vector<double> backups;
  for (int i = 0; i < rounds; ++i) {
    auto db = dao::DBEngine::Instance().Workspaces(0).OpenDatabase(dbPath);
    const auto start = bench::Clock::now();
    dao::BackUp(*db, "bench");
    backups.push_back(bench::Seconds(start));
    db->Close();
  }
  const double backup = bench::Median(backups), job = floors.MedianA();
  std::printf("records: %ld, median of %d alternated rounds (rows before %ld, after %ld; floor rows %ld, upsert rows %ld)\n",
              records, rounds, before, after, CountRows((dir / "floor.db").string()),
              CountRows((dir / "upsert.db").string()));
  std::printf("  load average before %s, after %s\n", loadBefore.c_str(), bench::LoadAverage().c_str());
  std::printf("  tag import job          %8.3f s\n", job);
  std::printf("  sqlite3 .import (floor) %8.3f s   job / floor: %s (aim <= 1.3)\n", floors.MedianB(),
              floors.RatioText().c_str());
  std::printf("  sqlite-utils upsert     %8.3f s   sqlite-utils / job: %s\n", upserts.MedianA(),
              upserts.RatioText().c_str());
  std::printf("  backup of the database  %8.3f s   share of the job %.1f%% (aim <= 10%%)\n", backup, 100 * backup / job);
  return 0;
}
