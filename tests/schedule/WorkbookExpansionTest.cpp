// The workbook expansion through a real schedule database and a real
// LibreOffice instance: what the tables hold afterwards, the numeric test's
// fallbacks, and that every failure leaves both tables as they were.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "Messages.h"
#include "dao/Backup.h"
#include "ScheduleJobs.h"
#include "ScheduleTestSupport.h"

namespace pendra::schedule::test {
namespace {

namespace fs = std::filesystem;

const char* kGroups = "SELECT GPno, GP名称, 有効 FROM GroupMaster ORDER BY rowid";
const char* kKiki = "SELECT タグ名, 機器名称, 開始操作値, 終了操作値 FROM KikiMaster ORDER BY rowid";

class WorkbookExpansion : public ::testing::Test {
 protected:
  // Both tables as they stand, to compare after a failure.
  std::vector<std::string> Snapshot() {
    auto rows = Rows(base.ScheduleDb(), kGroups);
    for (auto& row : Rows(base.ScheduleDb(), kKiki)) rows.push_back(row);
    return rows;
  }
  std::string Workbook(const std::vector<SheetRows>& sheets, const std::vector<std::string>& remove = {}) {
    const std::string path = base.File("編集済み " + std::to_string(++made_) + ".xls");
    WriteWorkbook(base.Template(), path, sheets, remove);
    return path;
  }
  void ExpectFailedWith(long number) {
    ASSERT_EQ(ui.boxes.size(), 1u);
    const std::string prefix = "Pendra情報の展開エラー ｴﾗｰ番号  " + std::to_string(number) + ":";
    EXPECT_EQ(ui.boxes[0].prompt.rfind(prefix, 0), 0u) << ui.boxes[0].prompt;
    EXPECT_GT(ui.boxes[0].prompt.size(), prefix.size());
    EXPECT_EQ(ui.boxes[0].title, "確認");
    EXPECT_FALSE(ui.waitPointer);
  }

  BaseFolder base;
  ProbeScope probe;
  ScriptedUi ui{base.Path()};
  int made_ = 0;
};

TEST_F(WorkbookExpansion, RoundTripGivesBackTheSameRows) {
  const auto groupsBefore = Rows(base.ScheduleDb(), "SELECT GPno, GP名称, 有効 FROM GroupMaster ORDER BY GPno");
  const auto kikiBefore = Rows(base.ScheduleDb(),
      "SELECT タグ名, 機器名称, 開始操作値, 終了操作値 FROM KikiMaster ORDER BY タグ名");
  const std::string workbook = base.File("往復.xls");
  const JobOutcome output = subDbToXls(ui, workbook);
  ASSERT_EQ(ui.FirstLines(), std::vector<std::string>{msg::kOutputDone});
  EXPECT_EQ(output.status, JobStatus::Completed);
  EXPECT_EQ(output.rows, static_cast<long>(groupsBefore.size() + kikiBefore.size()));
  Exec(base.ScheduleDb(), "DELETE FROM GroupMaster; DELETE FROM KikiMaster;");

  ui.boxes.clear();
  ui.doEvents = 0;  // the output lets the window work once, before it saves
  const JobOutcome expansion = subXlsToDb(ui, workbook);
  ASSERT_EQ(ui.FirstLines(), std::vector<std::string>{msg::kExpansionDone});
  EXPECT_EQ(expansion.status, JobStatus::Completed);
  EXPECT_EQ(expansion.rows, output.rows);
  // Rows come back in the workbook's order, which is the output's order.
  EXPECT_EQ(Rows(base.ScheduleDb(), kGroups), groupsBefore);
  EXPECT_EQ(Rows(base.ScheduleDb(), kKiki), kikiBefore);
  // Once a row, and once more before the commit.
  EXPECT_EQ(ui.doEvents, static_cast<long>(groupsBefore.size() + kikiBefore.size()) + 1);
  EXPECT_TRUE(OurOfficeProcesses().empty());
}

TEST_F(WorkbookExpansion, TheNumericTestDecidesBetweenCellAndFallback) {
  const std::string workbook = Workbook({
      {"GroupMaster",
       {{10.0, "数値", 0.0},
        {11.0, "文字", "有効ではない"},
        {12.0, "空", Variant()},
        {13.0, "桁区切り", " 1,234 "},
        {14.0, "真偽", false}}},
      {"KikiMaster",
       {{"K-1", "文字", "開", "閉"},
        {"K-2", "数値", 5.0, 2.0},
        {"K-3", "空", Variant(), Variant()},
        {"K-4", "通貨と指数", "￥1,000", "1E2"}}},
  });
  subXlsToDb(ui, workbook);
  ASSERT_EQ(ui.FirstLines(), std::vector<std::string>{msg::kExpansionDone});
  EXPECT_EQ(Rows(base.ScheduleDb(), kGroups),
            (std::vector<std::string>{"10|数値|0", "11|文字|-1", "12|空|0", "13|桁区切り|-1",
                                      "14|真偽|0"}));
  EXPECT_EQ(Rows(base.ScheduleDb(), kKiki),
            (std::vector<std::string>{"K-1|文字|1|0", "K-2|数値|5|2", "K-3|空|NULL|NULL",
                                      "K-4|通貨と指数|1000|100"}));
}

// The rows the rules leave out are asked about first (default No): with Yes
// to both questions the rules' rows are stored and the message counts them.
TEST_F(WorkbookExpansion, AnEmptyFirstCellEndsTheTable) {
  const std::string workbook = Workbook({
      {"GroupMaster", {}},
      {"KikiMaster",
       {{"K-1", "一", 1.0, 0.0}, {"", "空文字の行", 1.0, 0.0}, {"K-3", "その後", 1.0, 0.0}}},
  });
  const std::string groups = Rows(base.ScheduleDb(), "SELECT count(*) FROM GroupMaster")[0];
  const std::string kiki = Rows(base.ScheduleDb(), "SELECT count(*) FROM KikiMaster")[0];
  ui.answers = {MsgBoxResult::Yes, MsgBoxResult::Yes};
  EXPECT_TRUE(subXlsToDb(ui, workbook).IsCompleted());
  EXPECT_EQ(ui.Prompts(),
            (std::vector<std::string>{
                "GroupMaster のシートの 2 行目 (1 列目) が空のため、GroupMaster は空になります (いまの " + groups +
                    " 行は削除されます)。続けますか？",
                // Row 3 has values but no key: the question names it.
                "KikiMaster の 3 行目で表が終わります。3 行目以降の 2 行は保存されません (うち タグ名 が空の行 1: 3 行目)。"
                "続けますか？",
                std::string(msg::kExpansionDone) + "\nGroupMaster: " + groups + " 行 → 0 行、KikiMaster: " + kiki +
                    " 行 → 1 行 (既定値にしたセル 0、表の終わりより下で保存しなかった行 2)"}));
  EXPECT_EQ(ui.boxes[0].buttons, MsgBoxButtons::YesNoDefaultNo);
  EXPECT_EQ(ui.boxes[1].buttons, MsgBoxButtons::YesNoDefaultNo);
  EXPECT_TRUE(Rows(base.ScheduleDb(), kGroups).empty());
  EXPECT_EQ(Rows(base.ScheduleDb(), kKiki), std::vector<std::string>{"K-1|一|1|0"});
}

// No to a question: nothing is stored, no message follows, and no backup
// of the job remains.
TEST_F(WorkbookExpansion, NoToAQuestionLeavesBothTablesAsTheyWere) {
  const std::string workbook = Workbook({
      {"GroupMaster", {{1.0, "一", 0.0}}},
      {"KikiMaster", {{"K-1", "一", 1.0, 0.0}, {Variant(), Variant(), Variant(), Variant()}, {"K-3", "三", 1.0, 0.0}}},
  });
  const auto before = Snapshot();
  ui.answers = {MsgBoxResult::No};
  EXPECT_EQ(subXlsToDb(ui, workbook).status, JobStatus::Refused);
  EXPECT_EQ(ui.Prompts(), std::vector<std::string>{
                              "KikiMaster の 3 行目で表が終わります。4 行目以降の 1 行は保存されません。続けますか？"});
  EXPECT_EQ(Snapshot(), before);
  EXPECT_FALSE(ui.waitPointer);
  EXPECT_TRUE(OurOfficeProcesses().empty());
}

TEST_F(WorkbookExpansion, AWorkbookWithoutKikiMasterChangesNothing) {
  const auto before = Snapshot();
  const std::string workbook = Workbook({{"GroupMaster", {{99.0, "新規", true}}}}, {"KikiMaster"});
  subXlsToDb(ui, workbook);
  ExpectFailedWith(9);
  EXPECT_EQ(Snapshot(), before);
  EXPECT_TRUE(OurOfficeProcesses().empty());
}

TEST_F(WorkbookExpansion, ARefusedValueInTheMiddleChangesNothing) {
  const auto before = Snapshot();
  const std::string workbook = Workbook({
      {"GroupMaster", {{1.0, "一", true}}},
      {"KikiMaster",
       {{"K-1", "一", 1.0, 0.0},
        {"K-2", std::string(65, 'x'), 1.0, 0.0},   // longer than 機器名称 allows
        {"K-3", "三", 1.0, 0.0}}},
  });
  subXlsToDb(ui, workbook);
  ExpectFailedWith(3163);
  EXPECT_EQ(Snapshot(), before);
  // The second line names the cell; the copy taken before the emptying is
  // gone with the failed job (the tables are as the kept copies hold them).
  const std::string prompt = ui.boxes.at(0).prompt;
  EXPECT_EQ(prompt.substr(prompt.find('\n') + 1), "シート KikiMaster、3 行目、B 列 (機器名称)");
  EXPECT_TRUE(dao::ListBackups(base.ScheduleDb()).empty());
}

TEST_F(WorkbookExpansion, AnErrorValueInTheFirstColumnChangesNothing) {
  const auto before = Snapshot();
  const std::string workbook = Workbook({
      {"GroupMaster", {{1.0, "一", true}, {Variant::Error(2007), "割り算", true}}},
  });
  subXlsToDb(ui, workbook);
  ExpectFailedWith(13);
  EXPECT_EQ(Snapshot(), before);
}

// The office loads the workbook while the database is opened and copied:
// whichever side fails, nothing changes, no copy is kept and no office is
// left; when both fail, the workbook's failure is told, as it comes first.
TEST_F(WorkbookExpansion, AFailureOnEitherSideChangesNothing) {
  const std::string workbook = base.File("出力.xls");
  subDbToXls(ui, workbook);
  const auto before = Snapshot();
  const std::string kept = base.File("保管.mdb");
  fs::copy_file(base.ScheduleDb(), kept);
  struct Case {
    const char* name;
    bool workbookThere, databaseReadable;
    bool toldTheWorkbook;  // the message names the workbook, else the database
  };
  for (const Case& c : {Case{"missing workbook", false, true, true}, Case{"both", false, false, true},
                        Case{"unreadable database", true, false, false}}) {
    SCOPED_TRACE(c.name);
    ui.boxes.clear();
    if (!c.databaseReadable) std::ofstream(base.ScheduleDb(), std::ios::binary | std::ios::trunc) << std::string(4096, 'x');
    subXlsToDb(ui, c.workbookThere ? workbook : base.File("存在しない.xls"));
    fs::copy_file(kept, base.ScheduleDb(), fs::copy_options::overwrite_existing);
    ASSERT_EQ(ui.boxes.size(), 1u);
    const std::string& prompt = ui.boxes[0].prompt;
    EXPECT_EQ(prompt.rfind("Pendra情報の展開エラー ｴﾗｰ番号  ", 0), 0u) << prompt;
    EXPECT_EQ(prompt.find("存在しない.xls") != std::string::npos, c.toldTheWorkbook) << prompt;
    EXPECT_EQ(Snapshot(), before);
    EXPECT_TRUE(dao::ListBackups(base.ScheduleDb()).empty());
    EXPECT_TRUE(OurOfficeProcesses().empty());
  }
}

TEST_F(WorkbookExpansion, EndingTheProgramMidwayChangesNothing) {
  const std::string workbook = base.File("途中終了.xls");
  subDbToXls(ui, workbook);
  Exec(base.ScheduleDb(), "DELETE FROM KikiMaster WHERE rowid % 2 = 0");
  const auto changed = Snapshot();
  ui.boxes.clear();
  // "終了" clicked while the job lets the window process its messages, in
  // the second sheet.
  ui.onDoEvents = [](long call) {
    if (call == 9) throw ProgramEndRequested{};
  };
  EXPECT_THROW(subXlsToDb(ui, workbook), ProgramEndRequested);
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(Snapshot(), changed);
  EXPECT_TRUE(OurOfficeProcesses().empty());
}

TEST_F(WorkbookExpansion, ARunningUsersOfficeRefusesAndTheProgramEnds) {
  const auto before = Snapshot();
  UsersOffice office(base.Path());
  probe.Add(office.Pid());
  ui.pathBox = base.File("何か.xls");
  ui.answers = {MsgBoxResult::Yes};
  EXPECT_EQ(Command3_Click(ui).status, JobStatus::Refused);
  EXPECT_EQ(ui.Prompts(), (std::vector<std::string>{msg::kExpansionConfirm, msg::kSpreadsheetRunning}));
  EXPECT_EQ(ui.endRequests, 1);
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(WorkbookExpansion, TheHandlerChecksAndConfirmsBeforeTheJob) {
  // Empty path box: a message, the window out of the band, the program runs on.
  EXPECT_EQ(Command3_Click(ui).status, JobStatus::Refused);
  EXPECT_EQ(ui.Prompts(), std::vector<std::string>{msg::kExpansionNoPath});
  EXPECT_EQ(ui.topmostCalls, std::vector<bool>{false});
  EXPECT_EQ(ui.endRequests, 0);

  // No: nothing happens and the program runs on.
  const auto before = Snapshot();
  ui.boxes.clear();
  ui.pathBox = base.File("どこか.xls");
  ui.answers = {MsgBoxResult::No};
  EXPECT_EQ(Command3_Click(ui).status, JobStatus::Refused);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].prompt, msg::kExpansionConfirm);
  EXPECT_EQ(ui.boxes[0].buttons, MsgBoxButtons::YesNo);
  EXPECT_EQ(ui.endRequests, 0);
  EXPECT_EQ(Snapshot(), before);

  // Yes on a missing workbook: the failure message, then the program ends.
  ui.boxes.clear();
  ui.answers = {MsgBoxResult::Yes};
  EXPECT_EQ(Command3_Click(ui).status, JobStatus::Failed);
  EXPECT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.endRequests, 1);
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(WorkbookExpansion, RowCounterAllows32765RowsAndOverflowsAtThe32766th) {
  std::vector<std::vector<Variant>> rows;
  for (int i = 1; i <= 32766; ++i)
    rows.push_back({Variant("T" + std::to_string(100000 + i)), Variant("機器"), 1.0, 0.0});
  const std::string tooMany = Workbook({{"GroupMaster", {{1.0, "一", true}}}, {"KikiMaster", rows}});
  rows.pop_back();
  const std::string fits = Workbook({{"GroupMaster", {{1.0, "一", true}}}, {"KikiMaster", rows}});

  const auto before = Snapshot();
  subXlsToDb(ui, tooMany);
  ExpectFailedWith(6);
  EXPECT_EQ(Snapshot(), before);

  ui.boxes.clear();
  subXlsToDb(ui, fits);
  ASSERT_EQ(ui.FirstLines(), std::vector<std::string>{msg::kExpansionDone});
  EXPECT_EQ(Rows(base.ScheduleDb(), "SELECT count(*), max(タグ名) FROM KikiMaster"),
            std::vector<std::string>{"32765|T132765"});
}

// The template's sheets hold only headers: expanded, it would empty both
// tables. It is refused under any name it is reached by, with nothing
// opened, nothing backed up and nothing changed.
TEST_F(WorkbookExpansion, TheTemplateIsRefusedUnderAnyNameAndNothingChanges) {
  const auto before = Snapshot();
  ASSERT_FALSE(before.empty());
  ASSERT_EQ(link(base.Template().c_str(), base.File("原紙の別名.xls").c_str()), 0);
  for (const std::string& workbook :
       {base.Template(), base.Path() + "/OV_DataBase/../Pendra_原紙.xls", base.File("原紙の別名.xls")}) {
    // Through the handler: told before the question, and the program runs on.
    ui.boxes.clear();
    ui.pathBox = workbook;
    EXPECT_EQ(Command3_Click(ui).status, JobStatus::Refused) << workbook;
    EXPECT_EQ(ui.Prompts(), std::vector<std::string>{msg::kExpansionOfTemplate}) << workbook;
    EXPECT_EQ(ui.endRequests, 0);
    // The job itself refuses it too.
    ui.boxes.clear();
    EXPECT_EQ(subXlsToDb(ui, workbook).status, JobStatus::Refused) << workbook;
    EXPECT_EQ(ui.Prompts(), std::vector<std::string>{msg::kExpansionOfTemplate}) << workbook;
  }
  EXPECT_FALSE(ui.waitPointer);
  EXPECT_EQ(Snapshot(), before);
  EXPECT_TRUE(dao::ListBackups(base.ScheduleDb()).empty());
  EXPECT_TRUE(OurOfficeProcesses().empty());
}

TEST(ExpansionMessage, NumberFormattingFollowsTheRuntimesStr) {
  EXPECT_EQ(msg::ExpansionFailed(PlatformError(9, "インデックスが有効範囲にありません。")),
            "Pendra情報の展開エラー ｴﾗｰ番号  9:インデックスが有効範囲にありません。");
  EXPECT_EQ(msg::ExpansionFailed(PlatformError(-2147467259, "オートメーション エラーです。")),
            "Pendra情報の展開エラー ｴﾗｰ番号 -2147467259:オートメーション エラーです。");
  EXPECT_EQ(msg::ExpansionFailed(PlatformError(0, "")), "Pendra情報の展開エラー ｴﾗｰ番号  0:");
}

}  // namespace
}  // namespace pendra::schedule::test
