// Recordsets: names without regard to case, Japanese identifiers, the
// dynaset writing exactly the row it stands on, read-only snapshots, and
// the engine's numbered refusals.
#include "DaoTestSupport.h"

namespace pendra::testing {
namespace {

using dao::dbOpenDynaset;
using dao::dbOpenSnapshot;

constexpr const char* kTables = R"sql(
CREATE TABLE M_TAG (TAG TEXT(32) NOT NULL, 最大値 DOUBLE DEFAULT 999, 有効桁 TEXT(10));
INSERT INTO M_TAG VALUES ('FIC-101', 100, '0.0'), ('DUP', 1, 'a'), ('DUP', 1, 'b');
CREATE TABLE KikiMaster (タグ名 TEXT(32), 機器名称 TEXT(64), 開始操作値 LONG);
INSERT INTO KikiMaster VALUES ('P-2', '送水ポンプ', 1), ('P-1', '取水ポンプ', 1), (NULL, '不明', 0);
CREATE TABLE U (k LONG PRIMARY KEY, v TEXT(10));
INSERT INTO U VALUES (1, 'one');
)sql";

class RecordsetTest : public TempFolderTest {
 protected:
  void SetUp() override {
    TempFolderTest::SetUp();
    path_ = MakeDatabase("r.db", kTables);
    db_ = Ws().OpenDatabase(path_);
  }
  std::string path_;
  std::unique_ptr<dao::Database> db_;
};

TEST_F(RecordsetTest, ColumnNamesIgnoreLetterCase) {
  auto rs = db_->OpenRecordset("SELECT * FROM M_TAG WHERE TAG = 'FIC-101'", dbOpenDynaset);
  EXPECT_EQ(rs->Fields("tag").Value(), Variant("FIC-101"));
  EXPECT_EQ(rs->Fields("Tag").Name(), "TAG");
  rs->Close();
  rs = db_->OpenRecordset("select * from m_tag where tag = ?", dbOpenDynaset, {Variant("NEW")});
  ASSERT_TRUE(rs->Eof());
  rs->AddNew();
  rs->Fields("Tag") = Variant("NEW");
  rs->Update();
  RawConnection raw(path_);
  EXPECT_EQ(raw.Scalar("SELECT 最大値 FROM M_TAG WHERE TAG = 'NEW'"), "999.0");
}

TEST_F(RecordsetTest, JapaneseTablesAndColumnsInOrder) {
  auto rs = db_->OpenRecordset("SELECT * FROM KikiMaster ORDER BY タグ名", dbOpenSnapshot);
  std::vector<Variant> tags;
  for (; !rs->Eof(); rs->MoveNext()) tags.push_back(rs->Fields("タグ名").Value());
  ASSERT_EQ(tags.size(), 3u);
  EXPECT_TRUE(tags[0].IsNull());   // null sorts first
  EXPECT_EQ(tags[1], Variant("P-1"));
  EXPECT_EQ(tags[2], Variant("P-2"));
  auto one = db_->OpenRecordset("SELECT * FROM KikiMaster WHERE 機器名称 = ?", dbOpenDynaset, {Variant("取水ポンプ")});
  EXPECT_EQ(one->Fields("開始操作値").Value(), Variant(int32_t{1}));
}

TEST_F(RecordsetTest, DynasetUpdatesTheRowItStandsOnWithoutAKey) {
  auto rs = db_->OpenRecordset("SELECT * FROM M_TAG WHERE TAG = ?", dbOpenDynaset, {Variant("DUP")});
  ASSERT_FALSE(rs->Eof());
  const Variant first = rs->Fields("有効桁").Value();
  rs->Edit();
  rs->Fields("最大値") = Variant("250");
  rs->Update();
  EXPECT_EQ(rs->Fields("最大値").Value(), Variant(250.0));
  rs->Close();
  RawConnection raw(path_);
  EXPECT_EQ(raw.Scalar("SELECT count(*) FROM M_TAG WHERE TAG = 'DUP' AND 最大値 = 250"), "1");
  EXPECT_EQ(raw.Scalar("SELECT 有効桁 FROM M_TAG WHERE 最大値 = 250"), first.StringValue());
  EXPECT_EQ(raw.Scalar("SELECT count(*) FROM M_TAG"), "3");
}

TEST_F(RecordsetTest, BoundParameterWithQuotesFindsTheRow) {
  db_->Execute("INSERT INTO M_TAG (TAG) VALUES ('O''Brien'' OR ''1''=''1')");
  auto rs = db_->OpenRecordset("SELECT * FROM M_TAG WHERE TAG = ?", dbOpenSnapshot,
                               {Variant("O'Brien' OR '1'='1")});
  EXPECT_EQ(rs->RecordCount(), 1);
  EXPECT_EQ(ErrorNumber([&] { db_->OpenRecordset("SELECT * FROM M_TAG WHERE TAG = ?", dbOpenSnapshot); }),
            err::kTooFewParameters);
}

TEST_F(RecordsetTest, SnapshotIsReadOnly) {
  auto rs = db_->OpenRecordset("SELECT * FROM M_TAG", dbOpenSnapshot);
  EXPECT_EQ(ErrorNumber([&] { rs->AddNew(); }), err::kRecordsetNotUpdatable);
  EXPECT_EQ(ErrorNumber([&] { rs->Edit(); }), err::kRecordsetNotUpdatable);
  EXPECT_EQ(ErrorNumber([&] { rs->Fields("TAG") = Variant("x"); }), err::kRecordsetNotUpdatable);
  EXPECT_EQ(ErrorNumber([&] { rs->Update(); }), err::kUpdateWithoutAddNew);
}

TEST_F(RecordsetTest, EngineRefusals) {
  auto rs = db_->OpenRecordset("SELECT * FROM U", dbOpenDynaset);
  EXPECT_EQ(ErrorNumber([&] { rs->Update(); }), err::kUpdateWithoutAddNew);
  EXPECT_EQ(ErrorNumber([&] { rs->Fields("v") = Variant("x"); }), err::kUpdateWithoutAddNew);
  EXPECT_EQ(ErrorNumber([&] { rs->Fields("nope"); }), err::kItemNotFound);
  rs->MoveNext();
  EXPECT_TRUE(rs->Eof());
  EXPECT_EQ(ErrorNumber([&] { rs->MoveNext(); }), err::kNoCurrentRecord);
  EXPECT_EQ(ErrorNumber([&] { rs->Edit(); }), err::kNoCurrentRecord);
  EXPECT_EQ(ErrorNumber([&] { rs->Fields("v").Value(); }), err::kNoCurrentRecord);
  EXPECT_EQ(ErrorNumber([&] { db_->OpenRecordset("SELECT * FROM Missing", dbOpenDynaset); }), err::kTableNotFound);
  EXPECT_EQ(ErrorNumber([&] { db_->OpenRecordset("SELECT * FROM Missing", dbOpenSnapshot); }), err::kTableNotFound);
  EXPECT_EQ(ErrorNumber([&] { db_->Execute("DELETE FROM Missing"); }), err::kTableNotFound);
  EXPECT_EQ(ErrorNumber([&] { db_->OpenRecordset("SELECT * FROM U WHERE nope = 1", dbOpenDynaset); }),
            err::kTooFewParameters);
  EXPECT_EQ(ErrorNumber([&] { db_->OpenRecordset("SELECT * FROM U", 1); }), err::kInvalidArgument);
  EXPECT_EQ(ErrorNumber([&] { db_->Execute("SELECT * FROM U"); }), err::kCannotExecuteSelect);
  EXPECT_EQ(ErrorNumber([&] { db_->Execute("DELETE FROM U; DROP TABLE U"); }), err::kCharactersAfterEnd);
  EXPECT_EQ(ErrorNumber([&] { db_->Execute("DELEET FROM U"); }), err::kSyntaxError);
  RawConnection raw(path_);
  EXPECT_EQ(raw.Scalar("SELECT count(*) FROM U"), "1");
}

TEST_F(RecordsetTest, DuplicateKeyStoresNothing) {
  auto rs = db_->OpenRecordset("SELECT * FROM U", dbOpenDynaset);
  rs->AddNew();
  rs->Fields("k") = Variant(int32_t{1});
  rs->Fields("v") = Variant("two");
  EXPECT_EQ(ErrorNumber([&] { rs->Update(); }), err::kDuplicateKey);
  rs->Close();
  RawConnection raw(path_);
  EXPECT_EQ(raw.Scalar("SELECT group_concat(k || v) FROM U"), "1one");
}

TEST_F(RecordsetTest, CloseDropsAnEditNotStored) {
  auto rs = db_->OpenRecordset("SELECT * FROM U", dbOpenDynaset);
  rs->Edit();
  rs->Fields("v") = Variant("changed");
  rs->Close();
  rs = db_->OpenRecordset("SELECT * FROM U", dbOpenDynaset);
  rs->AddNew();
  rs->Fields("k") = Variant(int32_t{9});
  rs.reset();   // dropped without Close
  RawConnection raw(path_);
  EXPECT_EQ(raw.Scalar("SELECT group_concat(k || v) FROM U"), "1one");
}

TEST_F(RecordsetTest, FailedAssignmentKeepsValueAndTheRestIsStored) {
  auto rs = db_->OpenRecordset("SELECT * FROM M_TAG WHERE TAG = 'FIC-101'", dbOpenDynaset);
  rs->Edit();
  EXPECT_EQ(ErrorNumber([&] { rs->Fields("最大値") = Variant("abc"); }), err::kDataTypeConversion);
  rs->Fields("有効桁") = Variant("0.00");
  rs->Update();
  RawConnection raw(path_);
  EXPECT_EQ(raw.Scalar("SELECT 最大値 || '/' || 有効桁 FROM M_TAG WHERE TAG = 'FIC-101'"), "100.0/0.00");
}

TEST_F(RecordsetTest, AddNewOnEmptyResultKeepsEof) {
  db_->Execute("DELETE FROM KikiMaster");
  auto rs = db_->OpenRecordset("SELECT * FROM KikiMaster ORDER BY タグ名", dbOpenDynaset);
  EXPECT_TRUE(rs->Eof());
  for (int i = 0; i < 3; ++i) {
    rs->AddNew();
    rs->Fields("タグ名") = Variant("T-" + std::to_string(i));
    rs->Update();
  }
  EXPECT_TRUE(rs->Eof());
  EXPECT_EQ(rs->RecordCount(), 3);
}

TEST_F(RecordsetTest, ClosedObjectsAreInvalidNotDangling) {
  auto rs = db_->OpenRecordset("SELECT * FROM U", dbOpenDynaset);
  rs->Edit();
  db_.reset();   // the database dropped first, as an error path may do
  EXPECT_EQ(ErrorNumber([&] { rs->Eof(); }), err::kObjectInvalid);
  EXPECT_EQ(ErrorNumber([&] { rs->Update(); }), err::kObjectInvalid);
  rs.reset();
  db_ = Ws().OpenDatabase(path_);
  auto again = db_->OpenRecordset("SELECT * FROM U", dbOpenSnapshot);
  again->Close();
  EXPECT_EQ(ErrorNumber([&] { again->MoveNext(); }), err::kObjectInvalid);
  db_->Close();
  EXPECT_EQ(ErrorNumber([&] { db_->Execute("DELETE FROM U"); }), err::kObjectInvalid);
}

TEST_F(RecordsetTest, SchemaChangedThroughExecuteIsSeen) {
  db_->Execute("CREATE TABLE N (a LONG)");
  auto rs = db_->OpenRecordset("SELECT * FROM N", dbOpenDynaset);
  rs->AddNew();
  rs->Fields("a") = Variant("5");
  rs->Update();
  rs->Close();
  db_->Execute("ALTER TABLE N ADD COLUMN b YESNO NOT NULL DEFAULT -1");
  rs = db_->OpenRecordset("SELECT * FROM N", dbOpenDynaset);
  EXPECT_EQ(rs->Fields("b").Value(), Variant(true));
}

}  // namespace
}  // namespace pendra::testing
