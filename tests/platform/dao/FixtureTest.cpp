// The fixture databases through the layer: the tables and columns the jobs
// name, their types, defaults and the zero-length rules.
#include <filesystem>

#include "DaoTestSupport.h"
#include "Fixture.h"

namespace pendra::testing {
namespace {

using dao::dbOpenDynaset;
using dao::dbOpenSnapshot;

class FixtureTest : public TempFolderTest {};

TEST_F(FixtureTest, DemoScheduleReadsInOrderWithTypes) {
  const auto base = fixture::WriteBaseFolder(folder_ + "/", true);
  EXPECT_EQ(base.scheduleDb, folder_ + "/OV_DataBase/Orvik.mdb");
  auto db = Ws().OpenDatabase(base.scheduleDb);
  auto rs = db->OpenRecordset("SELECT * FROM GroupMaster ORDER BY GPno", dbOpenSnapshot);
  int32_t previous = 0;
  long rows = 0;
  for (; !rs->Eof(); rs->MoveNext(), ++rows) {
    const Variant no = rs->Fields("GPno").Value();
    ASSERT_EQ(no.Type(), VarType::Long);
    EXPECT_GT(no.IntegerValue(), previous);
    previous = static_cast<int32_t>(no.IntegerValue());
    EXPECT_EQ(rs->Fields("有効").Value().Type(), VarType::Boolean);
    EXPECT_EQ(rs->Fields("GP名称").Value().Type(), VarType::String);
  }
  EXPECT_GE(rows, 5);
  auto kiki = db->OpenRecordset("SELECT * FROM KikiMaster ORDER BY タグ名", dbOpenSnapshot);
  ASSERT_FALSE(kiki->Eof());
  EXPECT_EQ(kiki->Fields("開始操作値").Value().Type(), VarType::Long);
  EXPECT_EQ(kiki->Fields("更新日時").Value().Type(), VarType::Date);
}

TEST_F(FixtureTest, ExpansionRowsRoundTrip) {
  const auto base = fixture::WriteBaseFolder(folder_, false);
  auto db = Ws().OpenDatabase(base.scheduleDb);
  auto rs = db->OpenRecordset("SELECT * FROM KikiMaster ORDER BY タグ名", dbOpenDynaset);
  rs->AddNew();
  rs->Fields("タグ名") = Variant("");             // an empty tag can exist
  rs->Fields("機器名称") = Variant("予備");
  rs->Fields("開始操作値") = Variant(2.5);         // whole numbers: 2
  rs->Fields("終了操作値") = Variant();            // an empty cell: Null
  rs->Update();
  auto group = db->OpenRecordset("SELECT * FROM GroupMaster ORDER BY GPno", dbOpenDynaset);
  group->AddNew();
  group->Fields("GPno") = Variant::Null();
  group->Fields("有効") = Variant();   // a yes/no column stores No
  group->Update();
  auto check = db->OpenRecordset("SELECT * FROM KikiMaster", dbOpenSnapshot);
  EXPECT_EQ(check->Fields("タグ名").Value(), Variant(""));
  EXPECT_EQ(check->Fields("開始操作値").Value(), Variant(int32_t{2}));
  EXPECT_TRUE(check->Fields("終了操作値").Value().IsNull());
  auto g = db->OpenRecordset("SELECT * FROM GroupMaster", dbOpenSnapshot);
  EXPECT_TRUE(g->Fields("GPno").Value().IsNull());
  EXPECT_EQ(g->Fields("有効").Value(), Variant(false));
}

TEST_F(FixtureTest, TagMasterImportShapedWrites) {
  const auto base = fixture::WriteBaseFolder(folder_, true);
  auto db = Ws().OpenDatabase(base.tagMasterDb);
  const char* columns[] = {"tag名称", "有効桁", "最大値", "最小値", "大項目NO", "中項目NO", "小項目NO", "単位NO",
                           "収集種別", "TOTAL_FLG", "AVE_FLG", "MAX_FLG", "MIN_FLG", "種別", "P種別",
                           "パルスMAX", "換算係数", "A", "B", "C", "D", "E", "F", "CALC"};
  const Variant values[] = {"", "0", 999, 0, 0, 0, 0, 0, 0, "TRUE", "TRUE", "TRUE", "TRUE", 0, 0,
                            "", 1, "", "", "", "", "", "", ""};
  // A new tag: every write table default is accepted.
  auto rs = db->OpenRecordset("SELECT * FROM M_TAG WHERE TAG = ?", dbOpenDynaset, {Variant("NEW-1")});
  rs->AddNew();
  rs->Fields("Tag") = Variant("NEW-1");
  for (size_t i = 0; i < 24; ++i) rs->Fields(columns[i]) = values[i];
  rs->Update();
  rs->Close();
  // An existing tag: texts from the file, one refused value.
  rs = db->OpenRecordset("SELECT * FROM M_TAG WHERE TAG = ?", dbOpenDynaset, {Variant("FIC-101")});
  ASSERT_FALSE(rs->Eof());
  rs->Edit();
  EXPECT_EQ(ErrorNumber([&] { rs->Fields("最大値") = Variant("high"); }), err::kDataTypeConversion);
  rs->Fields("最小値") = Variant("-10.5");
  rs->Fields("TOTAL_FLG") = Variant("FALSE");
  rs->Fields("収集種別") = Variant("2");
  rs->Update();
  rs->Close();

  auto check = db->OpenRecordset("SELECT * FROM M_TAG WHERE TAG = 'NEW-1'", dbOpenSnapshot);
  EXPECT_EQ(check->Fields("最大値").Value(), Variant(999.0));
  EXPECT_EQ(check->Fields("換算係数").Value(), Variant(1.0));
  EXPECT_EQ(check->Fields("TOTAL_FLG").Value(), Variant(true));
  EXPECT_EQ(check->Fields("大項目NO").Value(), Variant(int16_t{0}));
  EXPECT_EQ(check->Fields("CALC").Value(), Variant(""));
  EXPECT_EQ(check->Fields("更新日時").Value().Type(), VarType::Date);   // never written: its default
  EXPECT_TRUE(check->Fields("備考").Value().IsNull());
  check = db->OpenRecordset("SELECT * FROM M_TAG WHERE TAG = 'FIC-101'", dbOpenSnapshot);
  EXPECT_EQ(check->Fields("最大値").Value(), Variant(1500.0));   // kept
  EXPECT_EQ(check->Fields("最小値").Value(), Variant(-10.5));
  EXPECT_EQ(check->Fields("TOTAL_FLG").Value(), Variant(false));
  EXPECT_EQ(check->Fields("収集種別").Value(), Variant::Byte(2));
}

TEST_F(FixtureTest, EmptyTagIsRefusedAtUpdate) {
  const auto base = fixture::WriteBaseFolder(folder_, false);
  auto db = Ws().OpenDatabase(base.tagMasterDb);
  auto rs = db->OpenRecordset("SELECT * FROM M_TAG WHERE TAG = ?", dbOpenDynaset, {Variant("")});
  rs->AddNew();
  EXPECT_EQ(ErrorNumber([&] { rs->Fields("Tag") = Variant(""); }), err::kZeroLengthNotAllowed);
  rs->Fields("tag名称") = Variant("名無し");
  EXPECT_EQ(ErrorNumber([&] { rs->Update(); }), err::kFieldRequired);
  RawConnection raw(base.tagMasterDb);
  EXPECT_EQ(raw.Scalar("SELECT count(*) FROM M_TAG"), "0");
}

TEST_F(FixtureTest, NeverOverwritesADatabase) {
  const auto base = fixture::WriteBaseFolder(folder_, true);
  {
    RawConnection raw(base.scheduleDb);
    raw.Exec("DELETE FROM GroupMaster");
  }
  EXPECT_THROW(fixture::WriteBaseFolder(folder_, true), std::runtime_error);
  fixture::WriteBaseFolder(folder_, true, /*keepExisting=*/true);
  RawConnection raw(base.scheduleDb);
  EXPECT_EQ(raw.Scalar("SELECT count(*) FROM GroupMaster"), "0");
}

}  // namespace
}  // namespace pendra::testing
