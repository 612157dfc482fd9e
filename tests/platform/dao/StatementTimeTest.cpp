// The time a statement may run: a query that never ends (in the statement
// or in a view of the file) is interrupted at the bound with 3234, whether
// it returns one row or rows without end, reads or writes; what it was
// writing is undone, and the database goes on working.
#include <chrono>
#include <functional>

#include "DaoTestSupport.h"
#include "dao/StatementTime.h"

namespace pendra::testing {
namespace {

using dao::dbOpenSnapshot;

constexpr const char* kEndless = "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n) ";

class StatementTime : public TempFolderTest {
 protected:
  void SetUp() override {
    TempFolderTest::SetUp();
    path_ = MakeDatabase("t.db", std::string("CREATE TABLE G (k LONG, name TEXT(20)); INSERT INTO G VALUES (1, 'keep');"
                                             "CREATE VIEW Endless AS ") + kEndless + "SELECT x AS k FROM n;");
    db_ = Ws().OpenDatabase(path_);
    previous_ = dao::SetStatementTimeLimit(std::chrono::milliseconds(300));
  }
  void TearDown() override {
    dao::SetStatementTimeLimit(previous_);
    db_.reset();
    TempFolderTest::TearDown();
  }
  std::string path_;
  std::unique_ptr<dao::Database> db_;
  std::chrono::milliseconds previous_{};
};

TEST_F(StatementTime, AStatementThatRunsPastTheBoundIsInterruptedWith3234) {
  const struct {
    const char* what;
    std::function<void(dao::Database&)> run;
  } cases[] = {
      {"one row at the end of an endless query",
       [](dao::Database& db) { db.OpenRecordset(std::string(kEndless) + "SELECT count(*) AS c FROM n", dbOpenSnapshot); }},
      {"rows without end", [](dao::Database& db) { db.OpenRecordset(std::string(kEndless) + "SELECT x FROM n", dbOpenSnapshot); }},
      {"a view of the file", [](dao::Database& db) { db.OpenRecordset("SELECT max(k) AS m FROM Endless", dbOpenSnapshot); }},
      {"a write", [](dao::Database& db) { db.Execute("INSERT INTO G (k) SELECT k FROM Endless"); }},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ErrorNumber([&] { c.run(*db_); }), err::kQueryTimeout) << c.what;
    // Undone, and the connection answers the next statement.
    auto rs = db_->OpenRecordset("SELECT count(*) AS c FROM G", dbOpenSnapshot);
    EXPECT_EQ(rs->Fields("c").Value().ToDouble(), 1.0) << c.what;
  }
}

TEST_F(StatementTime, TheBoundHoldsInsideATransactionAndUndoesTheWrite) {
  Ws().BeginTrans();
  db_->Execute("INSERT INTO G VALUES (2, 'two')");
  EXPECT_EQ(ErrorNumber([&] { db_->Execute("UPDATE G SET k = (SELECT max(k) FROM Endless)"); }), err::kQueryTimeout);
  // SQLite ended the transaction with the interrupted write: the commit
  // says so, and nothing of it stays.
  EXPECT_NE(ErrorNumber([] { dao::DBEngine::Instance().Workspaces(0).CommitTrans(); }), 0);
  Ws().Rollback();   // the workspace's level ends as after any failed commit
  RawConnection raw(path_);
  EXPECT_EQ(raw.Scalar("SELECT group_concat(k) FROM G"), "1");
}

}  // namespace
}  // namespace pendra::testing
