// Backups, restore, dry runs and what the batch command says about each
// job, on demo base folders, in-process: a backup holds exactly the tables
// as they were before the job, the eleventh removes the oldest, a failed
// job leaves its backup and the tables unchanged, restore puts the exact
// tables back and keeps what it replaced, a dry run changes nothing and
// counts right, and the import's exit status says what happened.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "CliFixture.h"
#include "TableChanges.h"
#include "TestFiles.h"
#include "core/PlatformError.h"
#include "dao/Backup.h"

namespace pendra::cli::test {
namespace {

namespace fs = std::filesystem;
using tagimport::testing::Fields;
using tagimport::testing::HeaderLine;

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class Backups : public BatchCommand {
 protected:
  std::string Csv(const std::vector<std::string>& utf8Lines) {
    return BatchCommand::Csv("ﾏｽﾀｰ情報 " + std::to_string(++csvs_) + ".csv", utf8Lines);
  }
  // A clean master file: one tag updated, one added.
  std::string CleanCsv() {
    return Csv({HeaderLine(), Fields({"1", "FIC-101", "原水流量 " + std::to_string(csvs_)}), Fields({"2", "NEW-" + std::to_string(csvs_), "新規"})});
  }
  std::vector<dao::BackupFile> Copies(const std::string& db) { return dao::ListBackups(db); }
  int csvs_ = 0;
};

TEST_F(Backups, EachJobThatChangesADatabaseKeepsItsStateBefore) {
  const struct {
    const char* job;
    bool schedule;  // the database it changes (the Access file changes both; the schedule one is looked at)
  } cases[] = {{"import-csv", false}, {"import-mdb", true}};
  for (const auto& c : cases) {
    const std::string db = c.schedule ? ScheduleDb() : TagDb();
    const auto before = c.schedule ? ScheduleSnapshot(db) : TagSnapshot(db);
    const size_t copiesBefore = Copies(db).size();
    const std::string input = c.schedule ? PENDRA_ACCESS_TESTDATA "/ja_V2016.accdb" : CleanCsv();
    const Outcome run = RunInProcess(On({c.job, input, "--yes"}));
    ASSERT_EQ(run.exitCode, 0) << c.job << run.err;
    const auto copies = Copies(db);
    ASSERT_EQ(copies.size(), copiesBefore + 1) << c.job;
    EXPECT_EQ(copies.back().job, c.job);
    EXPECT_EQ(c.schedule ? ScheduleSnapshot(copies.back().path) : TagSnapshot(copies.back().path), before) << c.job;
    EXPECT_NE(c.schedule ? ScheduleSnapshot(db) : TagSnapshot(db), before) << c.job;
  }
}

TEST_F(Backups, TheEleventhRemovesTheOldest) {
  std::vector<std::string> kept;
  for (int i = 0; i < 11; ++i) {
    ASSERT_EQ(RunInProcess(On({"import-csv", CleanCsv(), "--yes"})).exitCode, 0);
    if (i == 0) kept.push_back(Copies(TagDb()).front().path);
  }
  const auto copies = Copies(TagDb());
  EXPECT_EQ(copies.size(), 10u);
  EXPECT_FALSE(fs::exists(kept.front()));
  const Outcome listing = RunInProcess(On({"backups"}));
  EXPECT_EQ(listing.exitCode, 0);
  EXPECT_NE(listing.out.find(copies.back().path), std::string::npos) << listing.out;
  EXPECT_NE(listing.out.find("import-csv"), std::string::npos);
}

TEST_F(Backups, RestorePutsTheExactTablesBackAndKeepsWhatItReplaced) {
  const auto before = TagSnapshot(TagDb());
  ASSERT_EQ(RunInProcess(On({"import-csv", CleanCsv(), "--yes"})).exitCode, 0);
  const auto afterImport = TagSnapshot(TagDb());
  const std::string backup = Copies(TagDb()).back().path;

  const Outcome run = RunInProcess(On({"restore", backup, "--yes"}));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(TagSnapshot(TagDb()), before);
  const auto copies = Copies(TagDb());
  EXPECT_EQ(copies.back().job, "restore");
  EXPECT_EQ(TagSnapshot(copies.back().path), afterImport);
}

TEST_F(Backups, RestoreIsRefusedWhileAJobHoldsTheDatabaseAndWithoutYes) {
  ASSERT_EQ(RunInProcess(On({"import-csv", CleanCsv(), "--yes"})).exitCode, 0);
  const std::string backup = Copies(TagDb()).back().path;
  const auto before = TagSnapshot(TagDb());

  EXPECT_EQ(RunInProcess(On({"restore", backup})).exitCode, 1);  // no terminal, no --yes
  sqlite3* job = nullptr;
  ASSERT_EQ(sqlite3_open(TagDb().c_str(), &job), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(job, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  const Outcome held = RunInProcess(On({"restore", backup, "--yes"}));
  sqlite3_exec(job, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(job);
  EXPECT_EQ(held.exitCode, 1);
  EXPECT_NE(held.err.find("ｴﾗｰ番号 3260:"), std::string::npos) << held.err;
  EXPECT_EQ(TagSnapshot(TagDb()), before);
}

TEST_F(Backups, ADryRunChangesNothingAndCountsByKey) {
  const std::string tagBytes = Bytes(TagDb());
  const long rows = std::stol(Rows(TagDb(), "SELECT count(*) FROM M_TAG")[0]);
  const std::string csv = Csv({HeaderLine(), Fields({"1", "FIC-101", "別名"}), Fields({"2", "NEW-1", "新規"}),
                               Fields({"3", "NEW-2", "新規"}), Fields({"4", "FQ-101"})});
  const Outcome run = RunInProcess(On({"import-csv", csv, "--dry-run"}));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  // FIC-101 renamed, FQ-101 rewritten with empty fields, two tags new.
  EXPECT_NE(run.out.find("M_TAG: " + std::to_string(rows) + " 行 → " + std::to_string(rows + 2) +
                         " 行 (追加 2、削除 0、変更 2: "),
            std::string::npos)
      << run.out;
  EXPECT_EQ(Bytes(TagDb()), tagBytes);
  EXPECT_FALSE(fs::exists(fs::path(TagDb()).parent_path() / "backup"));
}

TEST_F(Backups, TheImportsExitStatusSaysWhatChanged) {
  const struct {
    const char* what;
    std::vector<std::string> lines;
    int exitCode;
    const char* summary;
  } cases[] = {
      {"every record stored", {HeaderLine(), Fields({"1", "FIC-101", "別名"}), Fields({"2", "NEW-9", "新規"})}, 0,
       "(追加 1、更新 1、拒否・読み飛ばし 0)"},
      {"stored, one refused", {Fields({"1", "FIC-101", "別名"}), Fields({"2", "", "空タグ"})}, 3,
       "(追加 0、更新 1、拒否・読み飛ばし 1)"},
      {"nothing stored", {Fields({"1", "", "空タグ"})}, 1, ""},
  };
  for (const auto& c : cases) {
    const Outcome run = RunInProcess(On({"import-csv", Csv(c.lines), "--yes"}));
    EXPECT_EQ(run.exitCode, c.exitCode) << c.what << run.err;
    if (*c.summary) {
      EXPECT_NE(run.out.find(c.summary), std::string::npos) << c.what << run.out;
    }
  }
}

// A dry run reads both sides of each table through a read-only
// connection; one that cannot be opened left its handle behind.
TEST(DryRunReading, AFileThatCannotBeOpenedLeavesNoConnectionBehind) {
  // SQLite counts its memory only when asked to before it is set up.
  ASSERT_EQ(sqlite3_shutdown(), SQLITE_OK);
  ASSERT_EQ(sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 1), SQLITE_OK);
  ASSERT_EQ(sqlite3_initialize(), SQLITE_OK);
  const KeyedTable& table = ScheduleTablesByKey().front();
  EXPECT_THROW(ReadRows("/nonexistent/Orvik.mdb", table), PlatformError);  // the file system's parts set up
  const sqlite3_int64 before = sqlite3_memory_used();
  {
    sqlite3* open = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &open), SQLITE_OK);
    EXPECT_GT(sqlite3_memory_used(), before) << "SQLite counts no memory here";
    sqlite3_close(open);
  }
  for (int i = 0; i < 20; ++i) EXPECT_THROW(ReadRows("/nonexistent/Orvik.mdb", table), PlatformError);
  EXPECT_EQ(sqlite3_memory_used(), before);
}

}  // namespace
}  // namespace pendra::cli::test
