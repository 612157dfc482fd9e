// Backups, restore, dry runs and what the batch command says about each
// job, on demo base folders, in-process: a backup holds exactly the tables
// as they were before the job, the eleventh removes the oldest, a failed
// job leaves its backup and the tables unchanged, restore puts the exact
// tables back and keeps what it replaced, a dry run changes nothing and
// counts right, and the import's exit status says what happened.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "CliFixture.h"
#include "ScheduleJobs.h"
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
  // A master file whose every record is refused (an empty tag).
  std::string RefusedCsv() { return Csv({HeaderLine(), Fields({"1", "", "空タグ"})}); }
  // Every file in both backup folders, hidden ones (a copy being written)
  // included.
  std::vector<std::string> BackupFolders() {
    std::vector<std::string> names;
    for (const std::string& db : {ScheduleDb(), TagDb()}) {
      std::error_code ec;
      for (const auto& entry : fs::directory_iterator(dao::BackupFolder(db), ec)) names.push_back(entry.path().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  std::vector<std::string> Everything() {
    auto all = ScheduleSnapshot(ScheduleDb());
    for (auto& row : TagSnapshot(TagDb())) all.push_back(row);
    return all;
  }
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

// A trigger a file put back earlier left in the database would rewrite
// the restored rows: the restore takes it out.
TEST_F(Backups, RestoreTakesOutATriggerTheDatabaseWasLeftWith) {
  const auto before = ScheduleSnapshot(ScheduleDb());
  ASSERT_EQ(RunInProcess(On({"import-mdb", PENDRA_ACCESS_TESTDATA "/ja_V2016.accdb", "--yes"})).exitCode, 0);
  schedule::test::Exec(ScheduleDb(), "CREATE TRIGGER tampered AFTER INSERT ON GroupMaster "
                                     "BEGIN UPDATE GroupMaster SET GP名称 = 'TAMPERED'; END;");
  const Outcome run = RunInProcess(On({"restore", Copies(ScheduleDb()).back().path, "--yes"}));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(ScheduleSnapshot(ScheduleDb()), before);
  EXPECT_TRUE(Rows(ScheduleDb(), "SELECT name FROM sqlite_master WHERE type = 'trigger'").empty());
}

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

// A backup taken while the database was of the other engine: listed as not
// restorable with the reason; restore, dry run or not, shows no preview and
// asks nothing, changes nothing and says so once.
TEST_F(Backups, ABackupOfTheOtherEngineIsNotRestorable) {
  const std::string ours = base.File("Velmora-ours.mdb");
  fs::copy_file(TagDb(), ours);
  const std::string access = PENDRA_ACCESS_TESTDATA "/ja_V2016.accdb";
  const struct {
    const char* what;
    std::string takenOn, now, reason;
  } cases[] = {
      {"SQLite copy, Access now", ours, access, "データベースが Access ファイルになる前の、このプログラムの形式 (SQLite) のバックアップです"},
      {"Access copy, SQLite now", access, ours, "データベースがこのプログラムの形式 (SQLite) になる前の、Access ファイルのバックアップです"},
  };
  for (const auto& c : cases) {
    fs::remove_all(dao::BackupFolder(TagDb()));
    fs::copy_file(c.takenOn, TagDb(), fs::copy_options::overwrite_existing);
    ASSERT_EQ(RunInProcess(On({"import-csv", CleanCsv(), "--yes"})).exitCode, 0) << c.what;
    const std::string backup = Copies(TagDb()).back().path;
    fs::copy_file(c.now, TagDb(), fs::copy_options::overwrite_existing);
    const std::string bytes = Bytes(TagDb());

    const Outcome listing = RunInProcess(On({"backups"}));
    EXPECT_NE(listing.out.find(backup + "\n    復元できません: " + c.reason), std::string::npos) << c.what << ": " << listing.out;
    for (const char* how : {"--dry-run", "--yes"}) {
      const Outcome run = RunInProcess(On({"restore", backup, how}));
      EXPECT_EQ(run.exitCode, 1) << c.what << " " << how;
      EXPECT_EQ(run.out, "") << c.what << " " << how;
      EXPECT_EQ(run.err, "pendra: ｴﾗｰ番号 3343:'" + backup + "' は復元できません (" + c.reason +
                             ")。データベースは変更していません。\n")
          << c.what << " " << how;
      EXPECT_EQ(Occurrences(run.err, "変更していません"), 1u) << run.err;
      EXPECT_EQ(Bytes(TagDb()), bytes) << c.what << " " << how;
      EXPECT_EQ(Copies(TagDb()).size(), 1u) << c.what << " " << how;
    }
  }
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

// A job that fails, is cancelled or stores nothing leaves the backups as
// they were: its own copy goes, and no older one is pushed out.
TEST_F(Backups, AJobThatCommitsNoChangeLeavesNoBackup) {
  const std::string workbook = base.File("往復.xls");
  ASSERT_EQ(RunInProcess(On({"output", workbook})).exitCode, 0);
  const std::string withoutKiki = base.File("KikiMaster なし.xls");
  schedule::test::WriteWorkbook(base.Template(), withoutKiki, {{"GroupMaster", {{99.0, "新規", true}}}}, {"KikiMaster"});
  const std::string tooLong = base.File("長すぎる値.xls");
  schedule::test::WriteWorkbook(base.Template(), tooLong,
                                {{"GroupMaster", {{1.0, "一", true}}}, {"KikiMaster", {{"K-1", std::string(65, 'x'), 1.0, 0.0}}}});
  const struct {
    const char* what;
    std::function<void()> setUp;
    std::function<bool()> run;   // true: the job reported success
  } cases[] = {
      {"expand: a missing sheet", [] {}, [&] { return RunInProcess(On({"expand", withoutKiki, "--yes"})).exitCode == 0; }},
      {"expand: a refused value", [] {}, [&] { return RunInProcess(On({"expand", tooLong, "--yes"})).exitCode == 0; }},
      {"expand: cancelled", [] {},
       [&] {
         schedule::test::ProbeScope probe;
         schedule::test::ScriptedUi ui(base.Path());
         ui.pathBox = workbook;
         ui.answers = {MsgBoxResult::Yes};
         ui.onDoEvents = [](long call) {
           if (call == 3) Raise(err::kUserInterrupt, "キャンセルされました。");
         };
         return schedule::Command3_Click(ui).status == JobStatus::Completed;
       }},
      {"import-csv: every record refused", [] {},
       [&] { return RunInProcess(On({"import-csv", RefusedCsv(), "--yes"})).exitCode == 0; }},
      {"import-mdb: a refused value",
       [&] {
         // Our GP名称 shorter than the file's names.
         schedule::test::Exec(ScheduleDb(),
                              "DROP TABLE GroupMaster;"
                              "CREATE TABLE GroupMaster (GPno LONG, GP名称 TEXT(3), 有効 YESNO NOT NULL DEFAULT -1);"
                              "INSERT INTO GroupMaster VALUES (9, '元', -1);");
       },
       [&] { return RunInProcess(On({"import-mdb", PENDRA_ACCESS_TESTDATA "/ja_V2007.accdb", "--yes"})).exitCode == 0; }},
  };
  for (const auto& c : cases) {
    c.setUp();
    const auto files = BackupFolders();
    const auto rows = Everything();
    EXPECT_FALSE(c.run()) << c.what;
    EXPECT_EQ(BackupFolders(), files) << c.what;
    EXPECT_EQ(Everything(), rows) << c.what;
  }
}

TEST_F(Backups, TenFailedAttemptsKeepTheBackupOfTheOriginalData) {
  const auto original = TagSnapshot(TagDb());
  ASSERT_EQ(RunInProcess(On({"import-csv", CleanCsv(), "--yes"})).exitCode, 0);
  const std::string ofOriginal = Copies(TagDb()).at(0).path;
  for (int i = 0; i < 10; ++i) ASSERT_EQ(RunInProcess(On({"import-csv", RefusedCsv(), "--yes"})).exitCode, 1);
  const auto copies = Copies(TagDb());
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(copies[0].path, ofOriginal);
  EXPECT_EQ(TagSnapshot(ofOriginal), original);
}

// The copy a restore starts from is never removed, not even as the oldest
// of ten when the copy of the current state is taken, and a restore that
// fails (a reader holds the database) keeps every copy and every row.
TEST_F(Backups, RestoringTheOldestOfTenWhileAReaderHoldsTheDatabaseLosesNothing) {
  const auto original = TagSnapshot(TagDb());
  for (int i = 0; i < 10; ++i) ASSERT_EQ(RunInProcess(On({"import-csv", CleanCsv(), "--yes"})).exitCode, 0);
  const auto copies = Copies(TagDb());
  ASSERT_EQ(copies.size(), 10u);
  const std::string oldest = copies.front().path;
  const auto files = BackupFolders();
  const auto current = TagSnapshot(TagDb());

  sqlite3* reader = nullptr;
  ASSERT_EQ(sqlite3_open(TagDb().c_str(), &reader), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM M_TAG;", nullptr, nullptr, nullptr), SQLITE_OK);
  const Outcome held = RunInProcess(On({"restore", oldest, "--yes"}));
  sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(reader);
  EXPECT_EQ(held.exitCode, 1);
  EXPECT_NE(held.err.find("ｴﾗｰ番号 3260:"), std::string::npos) << held.err;
  EXPECT_EQ(BackupFolders(), files);
  EXPECT_EQ(TagSnapshot(TagDb()), current);

  const Outcome run = RunInProcess(On({"restore", oldest, "--yes"}));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(TagSnapshot(TagDb()), original);
  ASSERT_TRUE(fs::exists(oldest));
  EXPECT_EQ(TagSnapshot(oldest), original);
  EXPECT_EQ(TagSnapshot(Copies(TagDb()).back().path), current);
}

// Only a copy of plain tables, like the database's, in the rollback
// journal, is put back: a file of views (one of a query without end), one
// with a trigger, one in WAL mode or of another design is refused before
// anything changes.
TEST_F(Backups, RestoreRefusesAFileThatIsNotAPlainCopyOfTheDatabase) {
  ASSERT_EQ(RunInProcess(On({"import-mdb", PENDRA_ACCESS_TESTDATA "/ja_V2016.accdb", "--yes"})).exitCode, 0);
  const std::string ofSchedule = Copies(ScheduleDb()).back().path, ofTags = Copies(TagDb()).back().path;
  const struct {
    const char* what;
    bool schedule;
    const char* sql;
    const char* said;
  } cases[] = {
      {"views", true,
       "DROP TABLE GroupMaster; DROP TABLE KikiMaster;"
       "CREATE VIEW GroupMaster AS WITH RECURSIVE n(GPno) AS (SELECT 1 UNION ALL SELECT GPno + 1 FROM n) "
       "SELECT GPno, 'x' AS GP名称, -1 AS 有効 FROM n;"
       "CREATE VIEW KikiMaster AS SELECT 'T' AS タグ名, 'x' AS 機器名称, 1 AS 開始操作値, 0 AS 終了操作値, NULL AS 更新日時;",
       "ビュー "},
      {"a trigger", true,
       "CREATE TRIGGER tampered AFTER INSERT ON GroupMaster BEGIN UPDATE GroupMaster SET GP名称 = 'TAMPERED'; END;",
       "トリガー tampered"},
      {"WAL mode", false, "PRAGMA journal_mode = WAL; UPDATE M_TAG SET tag名称 = 'WAL';", "WAL"},
      {"another design", false, "ALTER TABLE M_TAG ADD COLUMN 追加 TEXT(5);", "M_TAG の列または型が違います"},
  };
  int made = 0;
  for (const auto& c : cases) {
    const std::string db = c.schedule ? ScheduleDb() : TagDb();
    const std::string copy = dao::BackupFolder(db) + "/" + fs::path(db).stem().string() + "-20990101-000000-00" +
                             std::to_string(++made) + "-test.mdb";
    fs::copy_file(c.schedule ? ofSchedule : ofTags, copy);
    schedule::test::Exec(copy, c.sql);
    const std::string bytes = Bytes(db);
    const auto files = BackupFolders();
    const Outcome run = RunInProcess(On({"restore", copy, "--yes"}));
    EXPECT_EQ(run.exitCode, 1) << c.what;
    EXPECT_NE(run.err.find("ｴﾗｰ番号 3343:"), std::string::npos) << c.what << ": " << run.err;
    EXPECT_NE(run.err.find(c.said), std::string::npos) << c.what << ": " << run.err;
    EXPECT_EQ(Bytes(db), bytes) << c.what;
    EXPECT_EQ(BackupFolders(), files) << c.what;
  }
}

// A user who may not write the databases (the package lets only its group
// write them) is told so, and what to do, before any question, and nothing
// changes. The jobs run as the user nobody, for whom the permissions hold
// (the tests run as root).
TEST_F(Backups, AUserWhoMayNotWriteIsToldBeforeTheQuestion) {
  // Everyone may read; the database folders and files are writable by
  // their group (root's), as the package makes them for its group.
  fs::permissions(fs::path(base.Path()).parent_path(), fs::perms::owner_all | fs::perms::group_read |
                                                           fs::perms::group_exec | fs::perms::others_read |
                                                           fs::perms::others_exec);
  for (const std::string& db : {ScheduleDb(), TagDb()}) {
    ASSERT_EQ(chmod(fs::path(db).parent_path().c_str(), 02775), 0);
    ASSERT_EQ(chmod(db.c_str(), 0664), 0);
  }
  const struct {
    const char* job;
    std::string argument;
    const char* question;
  } cases[] = {
      {"expand", base.File("編集済み.xls"), "指定されたPendra情報をデータベースへ展開します。"},
      {"import-csv", base.File("ﾏｽﾀｰ情報.csv"), "指定されたﾏｽﾀｰ情報をデータベースへ展開します。"},
      {"import-mdb", PENDRA_ACCESS_TESTDATA "/ja_V2016.accdb", "を置き換えます。"},
      {"restore", dao::BackupFolder(TagDb()) + "/Velmora-20260101-000000-000-import-csv.mdb", "の内容に戻します。"},
  };
  const auto before = Everything();
  for (const auto& c : cases) {
    Launch launch;
    launch.args = On({c.job, c.argument});
    launch.user = std::make_pair(uid_t{65534}, gid_t{65534});
    const Outcome run = RunLaunched(launch);
    EXPECT_EQ(run.exitCode, 1) << c.job << ": " << run.err;
    EXPECT_NE(run.err.find("3051:データベース '"), std::string::npos) << c.job << ": " << run.err;
    EXPECT_NE(run.err.find("グループ root のメンバー"), std::string::npos) << c.job << ": " << run.err;
    EXPECT_EQ(run.err.find(c.question), std::string::npos) << c.job << ": " << run.err;
    EXPECT_EQ(Everything(), before) << c.job;
    EXPECT_TRUE(BackupFolders().empty()) << c.job;
  }
}

// A dry run of the workbook the output just wrote changes nothing: the
// time the expansion stamps on every row it adds is no change, and the
// job's completion message does not claim a run that did not happen.
TEST_F(Backups, ADryRunOfAnUnchangedWorkbookReportsNoChange) {
  const std::string workbook = base.File("そのまま.xls");
  ASSERT_EQ(RunInProcess(On({"output", workbook})).exitCode, 0);
  // Stamped long ago, so that any row the run adds differs in its stamp.
  schedule::test::Exec(ScheduleDb(), "UPDATE KikiMaster SET 更新日時 = '2020-01-01 00:00:00'");
  const std::string groups = Rows(ScheduleDb(), "SELECT count(*) FROM GroupMaster")[0];
  const std::string kiki = Rows(ScheduleDb(), "SELECT count(*) FROM KikiMaster")[0];
  const auto before = ScheduleSnapshot(ScheduleDb());

  const Outcome run = RunInProcess(On({"expand", workbook, "--dry-run"}));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "試行のみ: データベースは変更していません。変更されるはずの内容:\nGroupMaster: " + groups + " 行 → " +
                         groups + " 行 (追加 0、削除 0、変更 0)\nKikiMaster: " + kiki + " 行 → " + kiki +
                         " 行 (追加 0、削除 0、変更 0)\n");
  EXPECT_EQ(ScheduleSnapshot(ScheduleDb()), before);
}

// An expansion keeps its copy exactly when it changed a value: the order of
// the rows and the time it stamps are no change; the letter case of a tag
// and a flag are.
TEST_F(Backups, AnExpansionKeepsItsBackupExactlyWhenAValueChanged) {
  using Rows = std::vector<std::vector<Variant>>;
  const Rows groups = {{1.0, "一", true}, {2.0, "二", false}};
  const Rows kiki = {{"fic-1", "機器一", 1.0, 0.0}, {"FIC-2", "機器二", 2.0, 1.0}};
  const struct {
    const char* what;
    Rows groups, kiki;
    bool kept;
  } cases[] = {
      {"the same rows", groups, kiki, false},
      {"the same rows in another order", {groups[1], groups[0]}, {kiki[1], kiki[0]}, false},
      {"a tag's letter case", groups, {{"FIC-1", "機器一", 1.0, 0.0}, kiki[1]}, true},
      {"a flag", {groups[0], {2.0, "二", true}}, kiki, true},
  };
  for (const auto& c : cases) {
    schedule::test::Exec(ScheduleDb(),
                         "DELETE FROM GroupMaster; DELETE FROM KikiMaster;"
                         "INSERT INTO GroupMaster VALUES (1, '一', -1), (2, '二', 0);"
                         "INSERT INTO KikiMaster (タグ名, 機器名称, 開始操作値, 終了操作値)"
                         " VALUES ('fic-1', '機器一', 1, 0), ('FIC-2', '機器二', 2, 1);");
    const std::string workbook = base.File(std::string(c.what) + ".xls");
    schedule::test::WriteWorkbook(base.Template(), workbook, {{"GroupMaster", c.groups}, {"KikiMaster", c.kiki}});
    const size_t copies = Copies(ScheduleDb()).size();
    ASSERT_EQ(RunInProcess(On({"expand", workbook, "--yes"})).exitCode, 0) << c.what;
    EXPECT_EQ(Copies(ScheduleDb()).size(), copies + (c.kept ? 1 : 0)) << c.what;
  }
}

// Rows below a blank first cell: the batch command asks as the window does.
// A dry run prints the question; without a terminal and without --yes it is
// refused and nothing changes, with --yes too (exit 3, naming the option);
// --allow-row-loss answers it and the rules' rows are
// stored, the completion message counting the rows left out.
TEST_F(Backups, TheQuestionBeforeRowsAreLostIsPrintedRefusedOrAnsweredByAllowRowLoss) {
  const std::string workbook = base.File("空行あり.xls");
  const Variant none;
  schedule::test::WriteWorkbook(base.Template(), workbook,
                                {{"GroupMaster", {{1.0, "一", 0.0}}},
                                 {"KikiMaster", {{"K-1", "一", 1.0, 0.0}, {none, none, none, none}, {"K-3", "三", 1.0, 0.0}}}});
  const std::string question = "KikiMaster の 3 行目で表が終わります。4 行目以降の 1 行は保存されません。続けますか？";
  const auto before = ScheduleSnapshot(ScheduleDb());

  const Outcome dry = RunInProcess(On({"expand", workbook, "--dry-run"}));
  EXPECT_EQ(dry.exitCode, 0) << dry.err;
  EXPECT_EQ(dry.out.rfind("試行のみ: 実行すると次を尋ねます: " + question + "\n", 0), 0u) << dry.out;
  EXPECT_EQ(dry.out.find("完了しました"), std::string::npos) << dry.out;

  // The first question is answered on the command line only with --yes;
  // here a terminal-less run without it stops at the confirmation.
  const Outcome refused = RunInProcess(On({"expand", workbook}));
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(ScheduleSnapshot(ScheduleDb()), before);

  // --yes answers the confirmation only: losing rows needs its own option.
  const Outcome confirmed = RunInProcess(On({"expand", workbook, "--yes"}));
  EXPECT_EQ(confirmed.exitCode, 3);
  EXPECT_NE(confirmed.err.find("pendra: " + question + "\n"), std::string::npos) << confirmed.err;
  EXPECT_NE(confirmed.err.find("--allow-row-loss"), std::string::npos) << confirmed.err;
  EXPECT_EQ(ScheduleSnapshot(ScheduleDb()), before);

  const Outcome yes = RunInProcess(On({"expand", workbook, "--yes", "--allow-row-loss"}));
  EXPECT_EQ(yes.exitCode, 0) << yes.err;
  EXPECT_NE(yes.out.find("KikiMaster: "), std::string::npos) << yes.out;
  EXPECT_NE(yes.out.find(" → 1 行 (既定値にしたセル 0、表の終わりより下で保存しなかった行 1)\n"), std::string::npos) << yes.out;
  EXPECT_EQ(Rows(ScheduleDb(), "SELECT タグ名 FROM KikiMaster"), std::vector<std::string>{"K-1"});
}

TEST_F(Backups, RestoreWithDryRunShowsWhatItWouldChangeAndChangesNothing) {
  const std::string csv = CleanCsv();
  ASSERT_EQ(RunInProcess(On({"import-csv", csv, "--yes"})).exitCode, 0);
  const std::string backup = Copies(TagDb()).back().path;
  const long rows = std::stol(Rows(TagDb(), "SELECT count(*) FROM M_TAG")[0]);
  const std::string bytes = Bytes(TagDb());
  const std::string added = Rows(TagDb(), "SELECT TAG FROM M_TAG WHERE TAG LIKE 'NEW-%'")[0];

  const Outcome run = RunInProcess(On({"restore", backup, "--dry-run"}));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  // The import renamed FIC-101 and added a tag: restoring takes both back.
  EXPECT_EQ(run.out, "試行のみ: データベースは変更していません。復元すると変わる内容:\nM_TAG: " + std::to_string(rows) +
                         " 行 → " + std::to_string(rows - 1) + " 行 (追加 0、削除 1、変更 1: FIC-101, " + added + ")\n");
  EXPECT_EQ(Bytes(TagDb()), bytes);
  EXPECT_EQ(Copies(TagDb()).size(), 1u);
}

// A dry run reads both sides of each table through a read-only
// connection; one that cannot be opened left its handle behind.
TEST(DryRunReading, AFileThatCannotBeOpenedLeavesNoConnectionBehind) {
  // SQLite counts its memory only when asked to before it is set up.
  ASSERT_EQ(sqlite3_shutdown(), SQLITE_OK);
  ASSERT_EQ(sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 1), SQLITE_OK);
  ASSERT_EQ(sqlite3_initialize(), SQLITE_OK);
  const backups::KeyedTable& table = backups::ScheduleTablesByKey().front();
  EXPECT_THROW(backups::ReadRows("/nonexistent/Orvik.mdb", table), PlatformError);  // the file system's parts set up
  const sqlite3_int64 before = sqlite3_memory_used();
  {
    sqlite3* open = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &open), SQLITE_OK);
    EXPECT_GT(sqlite3_memory_used(), before) << "SQLite counts no memory here";
    sqlite3_close(open);
  }
  for (int i = 0; i < 20; ++i) EXPECT_THROW(backups::ReadRows("/nonexistent/Orvik.mdb", table), PlatformError);
  EXPECT_EQ(sqlite3_memory_used(), before);
}

}  // namespace
}  // namespace pendra::cli::test
