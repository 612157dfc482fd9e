// pendra import-mdb on real Access files into a demo base folder, run
// in-process: the tables end up holding the file's rows, a second run gives
// the same, a dry run changes nothing, and a design difference, a refused
// value and a damaged file (copies of good ones, cut short or with a row
// that cannot be read) are reported with nothing changed.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "CliFixture.h"
#include "DamagedCopies.h"
#include "dao/Backup.h"
#include "dao/Dao.h"
#include "mdb/AccessFile.h"

namespace pendra::cli::test {
namespace {

namespace fs = std::filesystem;

const fs::path kData = PENDRA_ACCESS_TESTDATA;

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Two values are the same datum: Null and Null, equal text, equal numbers
// (Yes/No as -1/0), dates to the second.
bool SameDatum(const Variant& ours, const Variant& file) {
  if (ours.IsNull() || file.IsNull()) return ours.IsNull() && file.IsNull();
  if (file.IsString()) return ours.IsString() && ours.StringValue() == file.StringValue();
  if (file.Type() == VarType::Date) return std::fabs(ours.DoubleValue() - file.DoubleValue()) < 1.0 / 86400;
  return ours.ToDouble() == file.ToDouble();
}

class ImportMdb : public BatchCommand {
 protected:
  // Every row of our table, in stored order, against the file's table.
  void ExpectTableHoldsTheFilesRows(const std::string& db, const mdb::AccessTable& file) {
    auto database = dao::DBEngine::Instance().Workspaces(0).OpenDatabase(db);
    auto rs = database->OpenRecordset("SELECT * FROM " + file.name + " ORDER BY rowid", dao::dbOpenSnapshot);
    size_t row = 0;
    for (; !rs->Eof(); rs->MoveNext(), ++row) {
      ASSERT_LT(row, file.rows.size()) << file.name;
      for (size_t c = 0; c < file.columns.size(); ++c) {
        const Variant ours = rs->Fields(file.columns[c].name).Value();
        EXPECT_TRUE(SameDatum(ours, file.rows[row][c]))
            << file.name << " row " << row + 1 << " " << file.columns[c].name << ": " << ours.Describe() << " vs "
            << file.rows[row][c].Describe();
      }
    }
    EXPECT_EQ(row, file.rows.size()) << file.name;
    rs->Close();
    database->Close();
  }
  std::vector<std::string> Everything() {
    auto all = ScheduleSnapshot(ScheduleDb());
    for (auto& row : TagSnapshot(TagDb())) all.push_back(row);
    return all;
  }
};

TEST_F(ImportMdb, TheTablesHoldTheFilesRowsAndASecondRunGivesTheSame) {
  const std::string access = (kData / "ja_V2016.accdb").string();
  const Outcome run = RunInProcess(On({"import-mdb", access, "--yes"}));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("取り込まないテーブル: 型テスト (8 行)"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("M_TAG: 10 行 → 2 行"), std::string::npos) << run.out;

  const auto file = mdb::ReadAccessFile(access);
  for (const auto& table : file.tables) {
    if (table.name == "M_TAG") ExpectTableHoldsTheFilesRows(TagDb(), table);
    if (table.name == "GroupMaster" || table.name == "KikiMaster") ExpectTableHoldsTheFilesRows(ScheduleDb(), table);
  }

  const auto first = Everything();
  ASSERT_EQ(RunInProcess(On({"import-mdb", access, "--yes"})).exitCode, 0);
  EXPECT_EQ(Everything(), first);
}

TEST_F(ImportMdb, ADryRunReportsTheCountsAndChangesNothing) {
  const std::string scheduleBytes = Bytes(ScheduleDb()), tagBytes = Bytes(TagDb());
  const std::string kikiRows = schedule::test::Rows(ScheduleDb(), "SELECT COUNT(*) FROM KikiMaster")[0];
  const Outcome run = RunInProcess(On({"import-mdb", (kData / "ja_V2000.mdb").string(), "--dry-run"}));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("GroupMaster: 5 行、列 3 個を取り込みます"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("KikiMaster: " + kikiRows + " 行 → 4 行 (試行のみ、変更しません)"), std::string::npos) << run.out;
  EXPECT_EQ(Bytes(ScheduleDb()), scheduleBytes);
  EXPECT_EQ(Bytes(TagDb()), tagBytes);
}

TEST_F(ImportMdb, ARefusedValueIsNamedAndNothingChangesInEitherDatabase) {
  // Our GP名称 is made shorter than the file's longest name.
  schedule::test::Exec(ScheduleDb(),
                       "DROP TABLE GroupMaster;"
                       "CREATE TABLE GroupMaster (GPno LONG, GP名称 TEXT(3), 有効 YESNO NOT NULL DEFAULT -1);"
                       "INSERT INTO GroupMaster VALUES (9, '元', -1);");
  const auto before = Everything();
  const Outcome run = RunInProcess(On({"import-mdb", (kData / "ja_V2007.accdb").string(), "--yes"}));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.out.find("設計の違い: GroupMaster.GP名称: 型 テキスト型(50) → テキスト型(3)"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("ｴﾗｰ番号 3163:テーブル GroupMaster の 1 行目、列 GP名称: "), std::string::npos) << run.err;
  EXPECT_EQ(Everything(), before);
}

TEST_F(ImportMdb, FilesThatCannotBeCarriedChangeNothing) {
  const std::string notAccess = base.File("not access.mdb");
  std::ofstream(notAccess) << "plain text";
  const std::string good = (kData / "ja_V2007.accdb").string();
  const std::string cutShort = base.File("cut short.accdb");
  mdb::test::CutAfterPages(good, cutShort, mdb::test::PageCount(good) / 2);
  // The second row of GroupMaster claims 65535 columns.
  const std::string badRow = base.File("bad row.mdb");
  mdb::test::WithRowOfAllColumns((kData / "ja_V2000.mdb").string(), badRow, u"GP名称", 1);
  const struct {
    std::string file;
    std::string said;
  } cases[] = {
      {cutShort, "ｴﾗｰ番号 3049:"},
      {badRow, "ｴﾗｰ番号 3049:データベース '" + badRow + "' のテーブル 'GroupMaster' を読めません。"},
      {notAccess, "ｴﾗｰ番号 3343:"},
      {base.File("ない.accdb"), "ｴﾗｰ番号 3024:"},
      {(kData / "testV1997.mdb").string(), "GroupMaster、KikiMaster、M_TAG のどれもありません"},
  };
  const auto before = Everything();
  for (const auto& c : cases) {
    const Outcome run = RunInProcess(On({"import-mdb", c.file, "--yes"}));
    EXPECT_EQ(run.exitCode, 1) << c.file;
    EXPECT_NE((run.err + run.out).find(c.said), std::string::npos) << c.file << ": " << run.out << run.err;
    EXPECT_EQ(Everything(), before) << c.file;
  }
}

// Both databases change in one commit or neither does: a reader of the tag
// database makes that commit fail, and then the schedule tables are as
// they were too, as the message says; no backup of the failed import stays.
TEST_F(ImportMdb, AReaderOfOneDatabaseLeavesBothUnchangedAndTheMessageIsTrue) {
  const auto before = Everything();
  sqlite3* reader = nullptr;
  ASSERT_EQ(sqlite3_open(TagDb().c_str(), &reader), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM M_TAG;", nullptr, nullptr, nullptr), SQLITE_OK);
  const Outcome run = RunInProcess(On({"import-mdb", (kData / "ja_V2016.accdb").string(), "--yes"}));
  sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(reader);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("ｴﾗｰ番号 3260:"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("何も変更しませんでした。"), std::string::npos) << run.err;
  EXPECT_EQ(run.out.find(" 行 → "), std::string::npos) << run.out;   // no counts of a change that did not happen
  EXPECT_EQ(Everything(), before);
  EXPECT_TRUE(dao::ListBackups(ScheduleDb()).empty());
  EXPECT_TRUE(dao::ListBackups(TagDb()).empty());
}

}  // namespace
}  // namespace pendra::cli::test
