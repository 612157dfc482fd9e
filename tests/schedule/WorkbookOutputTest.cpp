// The workbook output through a real schedule database, the real template
// and a real LibreOffice instance: what lands in the saved workbook, the
// template's macros, and every way the job refuses or fails.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "Messages.h"
#include "ScheduleJobs.h"
#include "ScheduleTestSupport.h"

namespace pendra::schedule::test {
namespace {

namespace fs = std::filesystem;

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class WorkbookOutput : public ::testing::Test {
 protected:
  BaseFolder base;
  ProbeScope probe;
  ScriptedUi ui{base.Path()};
};

TEST_F(WorkbookOutput, WritesBothTablesInOrderAndRunsTheMacros) {
  const std::string target = base.File("出力 結果.xls");
  subDbToXls(ui, target);

  ASSERT_EQ(ui.FirstLines(), std::vector<std::string>{msg::kOutputDone});
  EXPECT_EQ(ui.boxes[0].title, "確認");
  EXPECT_FALSE(ui.boxes[0].waitPointer);
  EXPECT_FALSE(ui.waitPointer);
  EXPECT_TRUE(OurOfficeProcesses().empty());

  SavedWorkbook book(target);
  const auto groups = book.Table("GroupMaster", 3);
  const auto expectedGroups = Rows(base.ScheduleDb(), "SELECT GPno, GP名称 FROM GroupMaster ORDER BY GPno");
  ASSERT_EQ(groups.size(), expectedGroups.size());
  for (size_t i = 0; i < groups.size(); ++i) {
    EXPECT_EQ(groups[i][0].ToText() + "|" + groups[i][1].ToText(), expectedGroups[i]);
    // The flag stays a Boolean through the saved file.
    EXPECT_EQ(groups[i][2].Type(), VarType::Boolean);
  }
  EXPECT_EQ(groups[4][2], Variant(false));  // 薬品注入設備 is disabled in the demo rows

  const auto kiki = book.Table("KikiMaster", 4);
  const auto expectedKiki = Rows(base.ScheduleDb(),
      "SELECT タグ名, 機器名称, 開始操作値, 終了操作値 FROM KikiMaster ORDER BY タグ名");
  ASSERT_EQ(kiki.size(), expectedKiki.size());
  for (size_t i = 0; i < kiki.size(); ++i)
    EXPECT_EQ(kiki[i][0].ToText() + "|" + kiki[i][1].ToText() + "|" + kiki[i][2].ToText() + "|" +
                  kiki[i][3].ToText(),
              expectedKiki[i]);

  // The header rows stay as the template has them.
  EXPECT_EQ(book.Cell("KikiMaster", 1, 1), Variant("タグ名"));
  // subResult counted the rows into the summary sheet after both were written.
  EXPECT_EQ(book.Cell("集計", 3, 2).ToDouble(), static_cast<double>(expectedGroups.size()));
  EXPECT_EQ(book.Cell("集計", 4, 2).ToDouble(), static_cast<double>(expectedKiki.size()));
  EXPECT_EQ(book.Cell("集計", 4, 5), Variant("OK"));
}

TEST_F(WorkbookOutput, EmptyTablesGiveTheTemplateWithTheMacrosRun) {
  Exec(base.ScheduleDb(), "DELETE FROM GroupMaster; DELETE FROM KikiMaster;");
  const std::string target = base.File("空.xls");
  subDbToXls(ui, target);

  ASSERT_EQ(ui.FirstLines(), std::vector<std::string>{msg::kOutputDone});
  SavedWorkbook book(target);
  EXPECT_TRUE(book.Cell("GroupMaster", 2, 1).IsEmpty());
  EXPECT_TRUE(book.Cell("KikiMaster", 2, 1).IsEmpty());
  EXPECT_EQ(book.Cell("集計", 3, 2).ToDouble(), 0.0);
}

TEST_F(WorkbookOutput, NullKeysAndNumbersGoOverUnchanged) {
  Exec(base.ScheduleDb(),
       "DELETE FROM KikiMaster;"
       "INSERT INTO KikiMaster (タグ名, 機器名称, 開始操作値, 終了操作値) VALUES"
       " ('A-1', NULL, -5, 2147483647), (NULL, '名無し', 1, 0);");
  const std::string target = base.File("null.xls");
  subDbToXls(ui, target);
  ASSERT_EQ(ui.FirstLines(), std::vector<std::string>{msg::kOutputDone});
  EXPECT_NE(ui.boxes.back().prompt.find("\n1 列目が空の行 1 (KikiMaster 1 行 (タグ名 が空)) は表の最後に書きました。"),
            std::string::npos)
      << ui.boxes.back().prompt;

  SavedWorkbook book(target);
  // NULL sorts first, but its empty first cell would end the table for the
  // expansion: it is written after every row with a key.
  EXPECT_EQ(book.Cell("KikiMaster", 2, 1), Variant("A-1"));
  EXPECT_TRUE(book.Cell("KikiMaster", 2, 2).IsEmpty());
  EXPECT_EQ(book.Cell("KikiMaster", 2, 3).ToDouble(), -5.0);
  EXPECT_EQ(book.Cell("KikiMaster", 2, 4).ToDouble(), 2147483647.0);
  EXPECT_TRUE(book.Cell("KikiMaster", 3, 1).IsEmpty());
  EXPECT_EQ(book.Cell("KikiMaster", 3, 2), Variant("名無し"));
}

TEST_F(WorkbookOutput, TheTemplateIsNeverATarget) {
  const std::string before = Contents(base.Template());
  for (const std::string& target : {base.Template(), base.Path() + "/./Pendra_原紙.xls"}) {
    ui.boxes.clear();
    subDbToXls(ui, target);
    EXPECT_EQ(ui.Prompts(), std::vector<std::string>{msg::kOutputOverTemplate}) << target;
  }
  EXPECT_EQ(Contents(base.Template()), before);
  EXPECT_FALSE(ui.waitPointer);
}

TEST_F(WorkbookOutput, AnExistingTargetIsReplacedOnlyAfterYes) {
  const std::string target = base.File("既存.xls");
  std::ofstream(target) << "keep me";

  ui.answers = {MsgBoxResult::No};
  subDbToXls(ui, target);
  ASSERT_EQ(ui.Prompts(), std::vector<std::string>{msg::kOutputReplace});
  EXPECT_EQ(ui.boxes[0].buttons, MsgBoxButtons::YesNoDefaultNo);  // Enter keeps the file
  EXPECT_EQ(Contents(target), "keep me");

  ui.boxes.clear();
  ui.answers = {MsgBoxResult::Yes};
  subDbToXls(ui, target);
  EXPECT_EQ(ui.FirstLines(), (std::vector<std::string>{msg::kOutputReplace, msg::kOutputDone}));
  SavedWorkbook book(target);
  EXPECT_EQ(book.Cell("GroupMaster", 2, 2), Variant("取水設備"));
}

TEST_F(WorkbookOutput, ARunningUsersOfficeRefusesWithNothingWritten) {
  UsersOffice office(base.Path());
  probe.Add(office.Pid());
  const std::string target = base.File("拒否.xls");
  subDbToXls(ui, target);

  ASSERT_EQ(ui.Prompts(), std::vector<std::string>{msg::kSpreadsheetRunning});
  EXPECT_TRUE(ui.boxes[0].waitPointer);  // the wait pointer stays while the refusal shows
  EXPECT_FALSE(ui.waitPointer);
  EXPECT_FALSE(fs::exists(target));
  EXPECT_TRUE(OurOfficeProcesses().empty());
}

// The office loads the template while the database is opened and read:
// whatever is missing, the job fails with no target and no office left,
// and a failure is told as it was when the steps ran one after the other
// (the template before the database, a sheet before its table).
TEST(WorkbookOutputFailures, AMissingFileOrTableFailsWithoutATarget) {
  struct Case {
    const char* name;
    bool templateThere, kikiSheetThere, databaseThere, kikiTableThere;
    const char* secondLine;  // its start; "" for a message naming neither
  };
  for (const Case& c : {Case{"template", false, true, true, true, ""}, Case{"database", true, true, false, true, "ｴﾗｰ番号  3024:"},
                        Case{"both", false, true, false, true, ""}, Case{"table", true, true, true, false, "ｴﾗｰ番号  3078:"},
                        Case{"sheet and table", true, false, true, false, "ｴﾗｰ番号  9:"}}) {
    SCOPED_TRACE(c.name);
    BaseFolder base;
    ProbeScope probe;
    ScriptedUi ui{base.Path()};
    if (!c.templateThere) fs::remove(base.Template());
    if (!c.kikiSheetThere) {
      WriteWorkbook(base.Template(), base.File("原紙.xls"), {}, {"KikiMaster"});
      fs::rename(base.File("原紙.xls"), base.Template());
    }
    if (!c.kikiTableThere) Exec(base.ScheduleDb(), "DROP TABLE KikiMaster");
    if (!c.databaseThere) fs::remove(base.ScheduleDb());
    const std::string target = base.File("失敗.xls");
    subDbToXls(ui, target);
    ASSERT_EQ(ui.FirstLines(), std::vector<std::string>{msg::kOutputFailed});
    const std::string prompt = ui.Prompts().front();
    const std::string second = prompt.substr(prompt.find('\n') + 1);
    if (*c.secondLine) EXPECT_EQ(second.rfind(c.secondLine, 0), 0u) << second;
    else EXPECT_EQ(second.find("3024"), std::string::npos) << second;
    EXPECT_FALSE(ui.waitPointer);
    EXPECT_FALSE(fs::exists(target));
    EXPECT_TRUE(OurOfficeProcesses().empty());
  }
}

TEST_F(WorkbookOutput, ATargetThatCannotBeWrittenSaysWhyOnTheSecondLine) {
  // A name longer than the file system takes: nothing can be written there.
  const std::string target = base.File(std::string(300, 'x') + ".xls");
  subDbToXls(ui, target);
  ASSERT_EQ(ui.FirstLines(), std::vector<std::string>{msg::kOutputFailed});
  EXPECT_NE(ui.Prompts()[0].find("\nｴﾗｰ番号  1004:"), std::string::npos) << ui.Prompts()[0];
  EXPECT_NE(ui.Prompts()[0].find("に保存できません"), std::string::npos) << ui.Prompts()[0];
  std::error_code tooLong;
  EXPECT_FALSE(fs::exists(target, tooLong));
  EXPECT_TRUE(OurOfficeProcesses().empty());
}

TEST_F(WorkbookOutput, ATargetInAMissingFolderFails) {
  const std::string target = base.File("ない/フォルダー.xls");
  subDbToXls(ui, target);
  ASSERT_EQ(ui.FirstLines(), std::vector<std::string>{msg::kOutputFailed});
  EXPECT_NE(ui.Prompts()[0].find("\nｴﾗｰ番号  1004:"), std::string::npos) << ui.Prompts()[0];
  EXPECT_NE(ui.Prompts()[0].find("が存在しません"), std::string::npos) << ui.Prompts()[0];
  EXPECT_FALSE(fs::exists(target));
}

// The 16-bit row counter: 32765 rows fill rows 2 to 32766; one more row is
// written at 32767 and the counter's next step overflows before the save.
void FillKiki(const std::string& db, int rows) {
  Exec(db,
       "DELETE FROM KikiMaster;"
       "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
           std::to_string(rows) +
           ") INSERT INTO KikiMaster (タグ名, 機器名称, 開始操作値, 終了操作値)"
           " SELECT printf('T%05d', i), '機器' || i, i % 7, i % 3 FROM n;");
}

TEST_F(WorkbookOutput, The32765thRowIsTheLastThatFits) {
  FillKiki(base.ScheduleDb(), 32765);
  const std::string target = base.File("最大.xls");
  subDbToXls(ui, target);
  ASSERT_EQ(ui.FirstLines(), std::vector<std::string>{msg::kOutputDone});
  SavedWorkbook book(target);
  EXPECT_EQ(book.Cell("KikiMaster", 32766, 1), Variant("T32765"));
  EXPECT_TRUE(book.Cell("KikiMaster", 32767, 1).IsEmpty());
}

TEST_F(WorkbookOutput, The32766thRowOverflowsBeforeAnythingIsSaved) {
  FillKiki(base.ScheduleDb(), 32766);
  const std::string target = base.File("超過.xls");
  subDbToXls(ui, target);
  EXPECT_EQ(ui.Prompts(), std::vector<std::string>{std::string(msg::kOutputFailed) + "\nｴﾗｰ番号  6:" +
                                                   StandardDescription(6)});
  EXPECT_FALSE(fs::exists(target));
  EXPECT_TRUE(OurOfficeProcesses().empty());
}

}  // namespace
}  // namespace pendra::schedule::test
