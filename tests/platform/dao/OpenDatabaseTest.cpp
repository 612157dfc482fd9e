// Opening: only existing database files, refused files left as they were,
// and another program's locks reported after a bounded wait.
#include <chrono>
#include <filesystem>
#include <fstream>

#include "DaoTestSupport.h"

namespace pendra::testing {
namespace {

using dao::dbOpenDynaset;
using dao::dbOpenSnapshot;

class OpenDatabase : public TempFolderTest {
 protected:
  std::string Sample() { return MakeDatabase("s.db", "CREATE TABLE t (k TEXT(10), v LONG); INSERT INTO t VALUES ('a', 1);"); }
};

TEST_F(OpenDatabase, OneEngineOneWorkspace) {
  EXPECT_EQ(&dao::DBEngine::Instance(), &dao::DBEngine::Instance());
  EXPECT_EQ(&Ws(), &dao::DBEngine::Instance().Workspaces(0));
  EXPECT_EQ(ErrorNumber([] { dao::DBEngine::Instance().Workspaces(1); }), err::kItemNotFound);
}

TEST_F(OpenDatabase, MissingFileIsNotCreated) {
  const std::string path = folder_ + "/none.mdb";
  EXPECT_EQ(ErrorNumber([&] { Ws().OpenDatabase(path); }), err::kDatabaseFileNotFound);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(ErrorNumber([&] { Ws().OpenDatabase(folder_ + "/no/such/folder/x.mdb"); }), err::kDatabaseFileNotFound);
  EXPECT_EQ(ErrorNumber([&] { Ws().OpenDatabase(""); }), err::kDatabaseFileNotFound);
}

TEST_F(OpenDatabase, FolderIsNotADatabase) {
  EXPECT_EQ(ErrorNumber([&] { Ws().OpenDatabase(folder_); }), err::kNotValidPath);
}

TEST_F(OpenDatabase, NonDatabaseFilesAreRefusedAndKept) {
  const std::string empty = folder_ + "/empty.mdb";
  std::ofstream(empty).close();
  EXPECT_EQ(ErrorNumber([&] { Ws().OpenDatabase(empty); }), err::kUnrecognizedFormat);
  EXPECT_EQ(std::filesystem::file_size(empty), 0u);   // not turned into a database

  const std::string text = folder_ + "/text.mdb";
  std::ofstream(text) << "TAG_ID,TAG\nX,Y\n";
  EXPECT_EQ(ErrorNumber([&] { Ws().OpenDatabase(text); }), err::kUnrecognizedFormat);
  EXPECT_EQ(std::filesystem::file_size(text), 15u);
}

TEST_F(OpenDatabase, AccessFileThatCannotBeReadIsRefusedAndKept) {
  const std::string path = folder_ + "/Orvik.mdb";
  std::string header(2048, '\0');
  header.replace(0, 19, std::string("\x00\x01\x00\x00Standard Jet DB", 19));
  std::ofstream(path, std::ios::binary) << header;
  const long number = ErrorNumber([&] { Ws().OpenDatabase(path); });
  EXPECT_TRUE(number == err::kUnrecognizedFormat || number == 3049) << number;
  EXPECT_EQ(std::filesystem::file_size(path), 2048u);
}

TEST_F(OpenDatabase, PathWithBlanksQuotesAndJapanese) {
  std::filesystem::create_directories(folder_ + "/基本 フォルダ'?");
  const std::string path = MakeDatabase("基本 フォルダ'?/Orvik.mdb", "CREATE TABLE t (v LONG); INSERT INTO t VALUES (7);");
  auto db = Ws().OpenDatabase(path);
  auto rs = db->OpenRecordset("SELECT * FROM t", dbOpenSnapshot);
  EXPECT_EQ(rs->Fields("v").Value(), Variant(int32_t{7}));
  EXPECT_EQ(db->Name(), path);
}

TEST_F(OpenDatabase, ExclusiveLockFailsAfterABoundedWait) {
  const std::string path = Sample();
  RawConnection other(path);
  other.Exec("BEGIN EXCLUSIVE");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ErrorNumber([&] { Ws().OpenDatabase(path); }), err::kFileInUse);
  // Liveness, not speed: the wait is bounded, the job never hangs.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  other.Exec("ROLLBACK");
}

TEST_F(OpenDatabase, WriteLockOfAnotherProgramRefusesWritesAndChangesNothing) {
  const std::string path = Sample();
  RawConnection other(path);
  other.Exec("BEGIN IMMEDIATE; INSERT INTO t VALUES ('pending', 2);");
  auto db = Ws().OpenDatabase(path);   // shared: reading still works
  {
    auto rs = db->OpenRecordset("SELECT * FROM t", dbOpenSnapshot);
    EXPECT_EQ(rs->RecordCount(), 1);
  }
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ErrorNumber([&] { db->Execute("DELETE FROM t"); }), err::kCouldNotUseLocked);
  auto rs = db->OpenRecordset("SELECT * FROM t", dbOpenDynaset);
  rs->Edit();
  rs->Fields("v") = Variant(int32_t{5});
  EXPECT_EQ(ErrorNumber([&] { rs->Update(); }), err::kCouldNotUpdateLocked);
  EXPECT_EQ(ErrorNumber([&] { Ws().BeginTrans(); }), err::kCouldNotUseLocked);
  EXPECT_EQ(ErrorNumber([&] { Ws().CommitTrans(); }), err::kCommitWithoutBegin);   // nothing begun
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  other.Exec("ROLLBACK");
  EXPECT_EQ(other.Scalar("SELECT group_concat(k || '=' || v) FROM t"), "a=1");
  // Once the lock is gone the same recordset stores its row.
  rs->Update();
  EXPECT_EQ(other.Scalar("SELECT v FROM t"), "5");
}

}  // namespace
}  // namespace pendra::testing
