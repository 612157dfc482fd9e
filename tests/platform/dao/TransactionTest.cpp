// Workspace transactions: commit, rollback, nested savepoints (one per
// record inside one transaction), several files, and a database dropped
// inside a transaction.
#include <chrono>

#include "DaoTestSupport.h"

namespace pendra::testing {
namespace {

using dao::dbOpenDynaset;

class Transactions : public TempFolderTest {
 protected:
  void SetUp() override {
    TempFolderTest::SetUp();
    path_ = MakeDatabase("t.db", "CREATE TABLE G (k LONG UNIQUE, name TEXT(20)); INSERT INTO G VALUES (0, 'keep');");
    db_ = Ws().OpenDatabase(path_);
  }
  void Add(dao::Database& db, int key) {
    auto rs = db.OpenRecordset("SELECT * FROM G", dbOpenDynaset);
    rs->AddNew();
    rs->Fields("k") = Variant(int32_t{key});
    rs->Fields("name") = Variant("row " + std::to_string(key));
    rs->Update();
    rs->Close();
  }
  std::string Keys(const std::string& path) {
    RawConnection raw(path);
    return raw.Scalar("SELECT group_concat(k) FROM (SELECT k FROM G ORDER BY k)");
  }
  std::string path_;
  std::unique_ptr<dao::Database> db_;
};

TEST_F(Transactions, CommitOrRollbackWithoutBeginIs3034) {
  EXPECT_EQ(ErrorNumber([] { dao::DBEngine::Instance().Workspaces(0).CommitTrans(); }),
            err::kCommitWithoutBegin);
  EXPECT_EQ(ErrorNumber([] { dao::DBEngine::Instance().Workspaces(0).Rollback(); }), err::kCommitWithoutBegin);
}

TEST_F(Transactions, RollbackUndoesDeleteAndAdds) {
  Ws().BeginTrans();
  db_->Execute("DELETE FROM G");
  Add(*db_, 1);
  Add(*db_, 2);
  EXPECT_EQ(Keys(path_), "0");   // another reader sees nothing uncommitted
  Ws().Rollback();
  EXPECT_EQ(Keys(path_), "0");
  Ws().BeginTrans();
  db_->Execute("DELETE FROM G");
  Add(*db_, 1);
  Ws().CommitTrans();
  EXPECT_EQ(Keys(path_), "1");
}

TEST_F(Transactions, SavepointPerRecordRollsBackOnlyThatRecord) {
  Ws().BeginTrans();
  for (int key : {1, 2, 1, 3}) {   // the second 1 is a duplicate key
    Ws().BeginTrans();
    const long failure = ErrorNumber([&] { Add(*db_, key); });
    if (failure == 0) {
      Ws().CommitTrans();
    } else {
      EXPECT_EQ(failure, err::kDuplicateKey);
      Ws().Rollback();
    }
  }
  Ws().CommitTrans();
  EXPECT_EQ(Keys(path_), "0,1,2,3");
}

TEST_F(Transactions, InnerRollbackKeepsOuterWork) {
  Ws().BeginTrans();
  Add(*db_, 1);
  Ws().BeginTrans();
  Add(*db_, 2);
  Ws().BeginTrans();
  Add(*db_, 3);
  Ws().CommitTrans();   // 3 joins level 2
  Ws().Rollback();      // level 2 undone: 2 and 3 go
  Add(*db_, 4);
  Ws().CommitTrans();
  EXPECT_EQ(Keys(path_), "0,1,4");
}

TEST_F(Transactions, SpansEveryOpenDatabase) {
  const std::string second = MakeDatabase("u.db", "CREATE TABLE G (k LONG UNIQUE, name TEXT(20));");
  auto other = Ws().OpenDatabase(second);
  Ws().BeginTrans();
  Add(*db_, 1);
  Add(*other, 1);
  auto late = Ws().OpenDatabase(MakeDatabase("v.db", "CREATE TABLE G (k LONG, name TEXT(20));"));
  Add(*late, 5);   // opened inside the transaction: joins it
  Ws().Rollback();
  EXPECT_EQ(Keys(path_), "0");
  EXPECT_EQ(Keys(second), "NULL");
  EXPECT_EQ(Keys(folder_ + "/v.db"), "NULL");
}

TEST_F(Transactions, DatabaseDroppedInsideTransactionRollsBack) {
  Ws().BeginTrans();
  db_->Execute("DELETE FROM G");
  Add(*db_, 7);
  db_.reset();
  EXPECT_EQ(Keys(path_), "0");
  Ws().Rollback();   // the workspace's level ends normally
  db_ = Ws().OpenDatabase(path_);
  Ws().BeginTrans();
  Add(*db_, 8);
  db_->Close();
  Ws().CommitTrans();   // nothing left to commit for the closed file
  EXPECT_EQ(Keys(path_), "0");
}

TEST_F(Transactions, LockedDatabaseRefusesBeginWithinBoundedWait) {
  RawConnection other(path_);
  other.Exec("BEGIN IMMEDIATE; INSERT INTO G VALUES (99, 'other');");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ErrorNumber([] { dao::DBEngine::Instance().Workspaces(0).BeginTrans(); }), err::kCouldNotUseLocked);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(ErrorNumber([] { dao::DBEngine::Instance().Workspaces(0).Rollback(); }), err::kCommitWithoutBegin);
  other.Exec("ROLLBACK");
  Ws().BeginTrans();
  Add(*db_, 1);
  Ws().CommitTrans();
  EXPECT_EQ(Keys(path_), "0,1");
}

// Two files on one connection commit together or not at all: a reader of
// the second makes the one commit fail, and then neither changed.
TEST_F(Transactions, AnAttachedFileCommitsWithTheDatabaseOrNeitherChanges) {
  const std::string second = MakeDatabase("u.db", "CREATE TABLE H (k LONG UNIQUE, name TEXT(20));");
  db_->Attach(second);
  auto addToH = [&](int key) {
    auto rs = db_->OpenRecordset("SELECT * FROM H", dbOpenDynaset);
    rs->AddNew();
    rs->Fields("k") = Variant(int32_t{key});
    rs->Update();
    rs->Close();
  };
  RawConnection reader(second);
  reader.Exec("BEGIN; SELECT count(*) FROM H;");   // holds the file shared
  Ws().BeginTrans();
  Add(*db_, 1);
  addToH(1);
  EXPECT_EQ(ErrorNumber([] { dao::DBEngine::Instance().Workspaces(0).CommitTrans(); }), err::kCouldNotUseLocked);
  Ws().Rollback();
  EXPECT_EQ(Keys(path_), "0");
  EXPECT_EQ(reader.Scalar("SELECT count(*) FROM H"), "0");
  reader.Exec("COMMIT");

  Ws().BeginTrans();
  Add(*db_, 2);
  addToH(2);
  Ws().CommitTrans();
  EXPECT_EQ(Keys(path_), "0,2");
  EXPECT_EQ(reader.Scalar("SELECT group_concat(k) FROM H"), "2");
}

TEST_F(Transactions, AFileIsAttachedOnlyWhenOneCommitCanCoverBoth) {
  const struct {
    const char* what;
    std::string sql;
    long error;
  } cases[] = {
      {"in WAL mode", "PRAGMA journal_mode = WAL; CREATE TABLE H (k LONG);", err::kInvalidOperation},
      {"a table of the same name", "CREATE TABLE g (k LONG);", err::kInvalidOperation},
      {"not a database", "", err::kDatabaseFileNotFound},
  };
  int made = 0;
  for (const auto& c : cases) {
    const std::string path = c.sql.empty() ? folder_ + "/missing.db" : MakeDatabase("a" + std::to_string(++made) + ".db", c.sql);
    EXPECT_EQ(ErrorNumber([&] { db_->Attach(path); }), c.error) << c.what;
    // The database itself goes on as before.
    Ws().BeginTrans();
    Add(*db_, made + 10);
    Ws().Rollback();
  }
  Ws().BeginTrans();
  EXPECT_EQ(ErrorNumber([&] { db_->Attach(MakeDatabase("late.db", "CREATE TABLE L (k LONG);")); }),
            err::kInvalidOperation);
  Ws().Rollback();
  EXPECT_EQ(Keys(path_), "0");
}

}  // namespace
}  // namespace pendra::testing
