// "展開実行": the edited workbook named in the path box replaces both schedule
// tables. Unlike the tool's first versions the replacement is all or nothing:
// both emptying statements and every added row run in one transaction, so a
// failure anywhere (a refused value, a missing sheet, the row counter's
// overflow, the spreadsheet application dying, the user ending the program)
// leaves both tables exactly as they were.
#include "core/BasePath.h"
#include "core/Int16.h"
#include "core/NumericTest.h"
#include "dao/Dao.h"
#include "dao/Transaction.h"
#include "Messages.h"
#include "JobSteps.h"
#include "ScheduleJobs.h"
#include "ScheduleLayout.h"

namespace pendra::schedule {

namespace {

// Empties one table and adds a row per sheet row, from row 2 down to the
// first row whose first cell is empty; returns how many rows it added.
long TransferSheet(UserInterface& ui, excel::Workbook& xlBook, dao::Database& db,
                   const TableLayout& layout) {
  excel::Worksheet xlSheet = xlBook.Sheets(layout.sheet());
  db.Execute(layout.emptyStatement);
  auto rs = db.OpenRecordset(layout.selectStatement, dao::dbOpenDynaset);

  Int16 row = kFirstDataRow;
  while (!EqualsEmptyText(xlSheet.Cells(row, kEndOfTableColumn).Value())) {
    ui.DoEvents();
    rs->AddNew();
    for (const ColumnLayout& column : layout.columns) {
      Variant value = xlSheet.Cells(row, column.workbookColumn).Value();
      if (column.fallback && !IsNumeric(value)) value = *column.fallback;
      rs->Fields(column.name) = value;
    }
    rs->Update();
    ui.ReportProgress(layout.table, row - kFirstDataRow + 1, -1);
    row = row + 1;
  }
  rs->Close();
  return row - kFirstDataRow;
}

}  // namespace

JobOutcome Command3_Click(UserInterface& ui) {
  ui.SetTopmost(false);
  if (ui.PathBoxText().empty()) {
    ui.MsgBox(msg::kExpansionNoPath, MsgBoxButtons::OkOnly, msg::kTitle);
    return JobOutcome::Refused();
  }
  if (ui.MsgBox(msg::kExpansionConfirm, MsgBoxButtons::YesNo, msg::kTitle) != MsgBoxResult::Yes)
    return JobOutcome::Refused();
  ui.SetWaitPointer(true);
  const JobOutcome outcome = subXlsToDb(ui, ui.PathBoxText());
  ui.EndProgram();
  return outcome;
}

JobOutcome subXlsToDb(UserInterface& ui, const std::string& workbookPath) {
  try {
    ui.SetWaitPointer(true);
    if (RefusedWhileSpreadsheetRuns(ui)) return JobOutcome::Refused();

    std::shared_ptr<excel::Application> xlApp = excel::CreateObject();
    std::shared_ptr<excel::Workbook> xlBook = xlApp->Workbooks().Add();
    xlBook = excel::GetObject(workbookPath);

    std::unique_ptr<dao::Database> db = OpenScheduleDatabase(ui);
    long rows = 0;
    {
      dao::Transaction transaction(dao::DBEngine::Instance().Workspaces(0));
      for (const TableLayout* layout : ScheduleTables()) rows += TransferSheet(ui, *xlBook, *db, *layout);
      transaction.Commit();
    }
    db->Close();

    xlBook->Application()->Quit();
    xlBook.reset();

    ui.SetWaitPointer(false);
    ui.MsgBox(msg::kExpansionDone, MsgBoxButtons::OkOnly, msg::kTitle);
    return JobOutcome::Completed(rows);
  } catch (const PlatformError& error) {
    // Everything the job held is gone by now: the transaction rolled back,
    // the database closed, the spreadsheet instance ended.
    ui.SetWaitPointer(false);
    ui.MsgBox(msg::ExpansionFailed(error), MsgBoxButtons::OkOnly, msg::kTitle);
    return JobOutcome::Failed();
  }
}

}  // namespace pendra::schedule
