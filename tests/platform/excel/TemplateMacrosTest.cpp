// The template that pendra-make-template builds: its sheets and headers,
// and its two macros running in a headless instance, before and after the
// filled workbook was saved as .xls.
#include <chrono>
#include <cstdlib>

#include "ExcelTestSupport.h"

namespace pendra::excel::test {
namespace {

class TemplateMacros : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new TempFolder();
    const std::string command = std::string("'") + PENDRA_MAKE_TEMPLATE + "' '" + TemplatePath() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    app_ = CreateObject();
  }
  static void TearDownTestSuite() {
    app_->Quit();
    app_.reset();
    delete folder_;
  }
  static std::string TemplatePath() { return folder_->File("Pendra_原紙.xls"); }

  static TempFolder* folder_;
  static std::shared_ptr<Application> app_;
};
TempFolder* TemplateMacros::folder_;
std::shared_ptr<Application> TemplateMacros::app_;

// The summary row of a sheet on "集計": rows, duplicate keys, rows below the end.
std::vector<Variant> Summary(Workbook& workbook, int16_t row) {
  auto sheet = workbook.Sheets("集計");
  return {sheet.Cells(row, 2).Value(), sheet.Cells(row, 3).Value(), sheet.Cells(row, 4).Value(),
          sheet.Cells(row, 5).Value()};
}

TEST_F(TemplateMacros, TheTemplateHoldsBothSheetsWithTheirHeaders) {
  auto workbook = GetObject(TemplatePath());
  auto group = workbook->Sheets("GroupMaster");
  EXPECT_EQ(group.Cells(1, 1).Value(), Variant("GPno"));
  EXPECT_EQ(group.Cells(1, 2).Value(), Variant("GP名称"));
  EXPECT_EQ(group.Cells(1, 3).Value(), Variant("有効"));
  EXPECT_EQ(group.Cells(2, 1).Value(), Variant());
  auto kiki = workbook->Sheets("KikiMaster");
  EXPECT_EQ(kiki.Cells(1, 1).Value(), Variant("タグ名"));
  EXPECT_EQ(kiki.Cells(1, 2).Value(), Variant("機器名称"));
  EXPECT_EQ(kiki.Cells(1, 3).Value(), Variant("開始操作値"));
  EXPECT_EQ(kiki.Cells(1, 4).Value(), Variant("終了操作値"));
  EXPECT_EQ(kiki.Cells(2, 1).Value(), Variant());
  workbook->Windows("Pendra_原紙.xls").SetVisible(true);
}

TEST_F(TemplateMacros, BothMacrosCountTheRowsAndLeaveTheDataAlone) {
  auto workbook = GetObject(TemplatePath());
  auto group = workbook->Sheets("GroupMaster");
  for (int16_t r = 2; r <= 6; ++r) {
    group.Cells(r, 1) = Variant(1.0 * r);
    group.Cells(r, 2) = Variant("グループ" + std::to_string(r));
    group.Cells(r, 3) = Variant(r % 2 == 0);
  }
  auto kiki = workbook->Sheets("KikiMaster");
  const char* tags[] = {"TAG-001", "TAG-002", "TAG-002", "ﾀｸﾞ-003"};
  for (int16_t r = 2; r <= 5; ++r) {
    kiki.Cells(r, 1) = Variant(tags[r - 2]);
    kiki.Cells(r, 2) = Variant("機器");
    kiki.Cells(r, 3) = Variant(1.0);
    kiki.Cells(r, 4) = Variant(0.0);
  }
  kiki.Cells(8, 1) = Variant("終端の下");  // row 6 is empty: the table ends there

  const double before = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  app_->Run("subResultClr");
  EXPECT_EQ(Summary(*workbook, 3), (std::vector<Variant>{Variant(), Variant(), Variant(), Variant()}));
  EXPECT_EQ(workbook->Sheets("集計").Cells(6, 2).Value(), Variant());
  app_->Run("subResult");
  EXPECT_EQ(Summary(*workbook, 3), (std::vector<Variant>{Variant(5.0), Variant(0.0), Variant(0.0), Variant("OK")}));
  EXPECT_EQ(Summary(*workbook, 4), (std::vector<Variant>{Variant(4.0), Variant(1.0), Variant(1.0), Variant("要確認")}));
  const Variant stamp = workbook->Sheets("集計").Cells(6, 2).Value();
  ASSERT_EQ(stamp.Type(), VarType::Date);
  // Automation date (days since 1899-12-30, local time) against the clock:
  // the same day, give or take the time zone.
  const double unixDays = before / 86400.0 + 25569.0;
  EXPECT_NEAR(stamp.DoubleValue(), unixDays, 1.0);

  // The exchanged cells are as written.
  EXPECT_EQ(group.Cells(3, 3).Value(), Variant(false));
  EXPECT_EQ(kiki.Cells(4, 1).Value(), Variant("TAG-002"));
  EXPECT_EQ(kiki.Cells(6, 1).Value(), Variant());

  // subResultClr empties the results again.
  app_->Run("subResultClr");
  EXPECT_EQ(Summary(*workbook, 4), (std::vector<Variant>{Variant(), Variant(), Variant(), Variant()}));

  // Saved as .xls the macros come along and run from the saved file.
  const std::string saved = folder_->File("Pendra情報.xls");
  workbook->SaveAs(saved);
  auto other = CreateObject();
  auto reopened = GetObject(saved);
  other->Run("subResult");
  EXPECT_EQ(Summary(*reopened, 3), (std::vector<Variant>{Variant(5.0), Variant(0.0), Variant(0.0), Variant("OK")}));
  EXPECT_EQ(reopened->Sheets("GroupMaster").Cells(2, 3).Value(), Variant(true));
  other->Quit();
}

TEST_F(TemplateMacros, AMissingMacroRaises1004) {
  GetObject(TemplatePath());
  EXPECT_EQ(ErrorNumber([] { app_->Run("subNoSuchMacro"); }), 1004);
  EXPECT_EQ(ErrorNumber([] { app_->Run(""); }), 1004);
  EXPECT_EQ(ErrorNumber([] { app_->Run("Module1.subResult"); }), 0);
}

}  // namespace
}  // namespace pendra::excel::test
