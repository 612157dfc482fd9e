// "Pendra情報.xlsファイルの作成": both schedule tables written into a workbook
// made from the template, the template's two macros run, and the workbook
// saved under the name the user chose. The database is only read.
//
// Two guards the tool's first versions lacked: the template itself is never
// a target (it would be overwritten with data), and an existing target is
// replaced only after the user said so.
#include <filesystem>
#include <system_error>

#include "core/BasePath.h"
#include "core/Int16.h"
#include "dao/Dao.h"
#include "Messages.h"
#include "JobSteps.h"
#include "ScheduleJobs.h"
#include "ScheduleLayout.h"

namespace pendra::schedule {

namespace {

// Writes the table's rows in its SELECT order from row 2 of its sheet, each
// field's value unchanged into its cell; returns how many.
long WriteSheet(UserInterface& ui, excel::Workbook& xlBook, dao::Database& db,
                const TableLayout& layout) {
  excel::Worksheet xlSheet = xlBook.Sheets(layout.sheet());
  auto rs = db.OpenRecordset(layout.selectStatement, dao::dbOpenSnapshot);
  const long total = rs->RecordCount();

  Int16 row = kFirstDataRow;
  while (!rs->Eof()) {
    for (const ColumnLayout& column : layout.columns)
      xlSheet.Cells(row, column.workbookColumn) = rs->Fields(column.name).Value();
    ui.ReportProgress(layout.table, row - kFirstDataRow + 1, total);
    row = row + 1;
    rs->MoveNext();
  }
  rs->Close();
  return row - kFirstDataRow;
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ignored;
  return std::filesystem::weakly_canonical(a, ignored) ==
         std::filesystem::weakly_canonical(b, ignored);
}

// The target checks that come before any work. False when the job must not
// go on (the user was told, or answered No).
bool TargetAccepted(UserInterface& ui, const std::string& target, const std::string& templatePath) {
  if (SameFile(target, templatePath)) {
    ui.MsgBox(msg::kOutputOverTemplate, MsgBoxButtons::OkOnly, msg::kTitle);
    return false;
  }
  std::error_code ignored;
  if (std::filesystem::exists(target, ignored)) {
    return ui.MsgBox(msg::kOutputReplace, MsgBoxButtons::YesNo, msg::kTitle) == MsgBoxResult::Yes;
  }
  return true;
}

}  // namespace

JobOutcome subDbToXls(UserInterface& ui, const std::string& target) {
  const std::string templatePath = UnderBaseFolder(ui.BaseFolder(), kTemplateWorkbook);
  if (!TargetAccepted(ui, target, templatePath)) return JobOutcome::Refused();

  try {
    ui.SetWaitPointer(true);
    if (RefusedWhileSpreadsheetRuns(ui)) return JobOutcome::Refused();

    std::shared_ptr<excel::Application> xlApp = excel::CreateObject();
    std::shared_ptr<excel::Workbook> xlBook = xlApp->Workbooks().Add();
    xlBook = excel::GetObject(templatePath);

    std::unique_ptr<dao::Database> db = OpenScheduleDatabase(ui);
    long rows = 0;
    for (const TableLayout* layout : ScheduleTables()) rows += WriteSheet(ui, *xlBook, *db, *layout);
    db->Close();

    xlBook->Windows(kTemplateWindow).SetVisible(true);
    xlApp->Run("subResultClr");
    xlApp->Run("subResult");

    xlBook->SaveAs(target);

    xlBook->Application()->Quit();
    xlBook.reset();

    ui.SetWaitPointer(false);
    ui.MsgBox(msg::kOutputDone, MsgBoxButtons::OkOnly, msg::kTitle);
    return JobOutcome::Completed(rows);
  } catch (const PlatformError&) {
    ui.SetWaitPointer(false);
    ui.MsgBox(msg::kOutputFailed, MsgBoxButtons::OkOnly, msg::kTitle);
    return JobOutcome::Failed();
  }
}

}  // namespace pendra::schedule
