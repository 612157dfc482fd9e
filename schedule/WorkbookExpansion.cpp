// "展開実行": the edited workbook named in the path box replaces both schedule
// tables. Unlike the tool's first versions the replacement is all or nothing:
// both emptying statements and every added row run in one transaction, so a
// failure anywhere (a refused value, a missing sheet, the row counter's
// overflow, the spreadsheet application dying, the user ending the program)
// leaves both tables exactly as they were. Before anything changes, a copy
// of the database is taken into its backup folder, and kept once the
// replacement is committed (a failed expansion leaves none); a failure
// names the sheet, row and column it happened at. Before the question, the
// user learns whether the database can be written at all. The template
// itself is never expanded.
#include "core/BasePath.h"
#include "core/Int16.h"
#include "core/NumericTest.h"
#include "dao/Dao.h"
#include "dao/Backup.h"
#include "dao/Transaction.h"
#include "dao/WriteAccess.h"
#include "InstallationFiles.h"
#include "Messages.h"
#include "JobSteps.h"
#include "ScheduleJobs.h"
#include "ScheduleLayout.h"

namespace pendra::schedule {

namespace {

// The cell the job is reading or storing, for the failure message: in a
// sheet of thousands of rows an error number alone cannot be found.
struct Place {
  std::string sheet;
  long row = 0;
  const ColumnLayout* column = nullptr;  // none: the row as a whole (its Update)

  std::string Describe() const {
    if (sheet.empty() || row == 0) return "";
    std::string text = "シート " + sheet + "、" + std::to_string(row) + " 行目";
    if (column) text += "、" + std::string(1, static_cast<char>('A' + column->workbookColumn - 1)) + " 列 (" + column->name + ")";
    return text;
  }
};

// Empties one table and adds a row per sheet row, from row 2 down to the
// first row whose first cell is empty; returns how many rows it added.
long TransferSheet(UserInterface& ui, excel::Workbook& xlBook, dao::Database& db,
                   const TableLayout& layout, Place& place) {
  place = Place{layout.sheet()};
  excel::Worksheet xlSheet = xlBook.Sheets(layout.sheet());
  db.Execute(layout.emptyStatement);
  auto rs = db.OpenRecordset(layout.selectStatement, dao::dbOpenDynaset);

  Int16 row = kFirstDataRow;
  while (!EqualsEmptyText(xlSheet.Cells(row, kEndOfTableColumn).Value())) {
    place.row = row;
    ui.DoEvents();
    rs->AddNew();
    for (const ColumnLayout& column : layout.columns) {
      place.column = &column;
      Variant value = xlSheet.Cells(row, column.workbookColumn).Value();
      if (column.fallback && !IsNumeric(value)) value = *column.fallback;
      rs->Fields(column.name) = value;
    }
    place.column = nullptr;
    rs->Update();
    ui.ReportProgress(layout.table, row - kFirstDataRow + 1, -1);
    row = row + 1;
    place.row = 0;
  }
  rs->Close();
  return row - kFirstDataRow;
}

// The template's sheets hold only their headers: expanding it would empty
// both tables and report success. Compared as a file, so a link to it or
// another spelling of its path is refused too.
bool RefusedAsTheTemplate(UserInterface& ui, const std::string& workbookPath) {
  if (!IsTheTemplate(ui.BaseFolder(), workbookPath)) return false;
  ui.MsgBox(msg::kExpansionOfTemplate, MsgBoxButtons::OkOnly, msg::kTitle);
  return true;
}

}  // namespace

JobOutcome Command3_Click(UserInterface& ui) {
  ui.SetTopmost(false);
  if (ui.PathBoxText().empty()) {
    ui.MsgBox(msg::kExpansionNoPath, MsgBoxButtons::OkOnly, msg::kTitle);
    return JobOutcome::Refused();
  }
  // Told before the question, and the program runs on: nothing was asked.
  if (RefusedAsTheTemplate(ui, ui.PathBoxText())) return JobOutcome::Refused();
  try {
    dao::RequireWritable(UnderBaseFolder(ui.BaseFolder(), kScheduleDatabase));
  } catch (const PlatformError& error) {
    ui.MsgBox(msg::ExpansionFailed(error), MsgBoxButtons::OkOnly, msg::kTitle);
    return JobOutcome::Failed();
  }
  if (ui.MsgBox(msg::kExpansionConfirm, MsgBoxButtons::YesNo, msg::kTitle) != MsgBoxResult::Yes)
    return JobOutcome::Refused();
  ui.SetWaitPointer(true);
  const JobOutcome outcome = subXlsToDb(ui, ui.PathBoxText());
  ui.EndProgram();
  return outcome;
}

JobOutcome subXlsToDb(UserInterface& ui, const std::string& workbookPath) {
  if (RefusedAsTheTemplate(ui, workbookPath)) return JobOutcome::Refused();
  Place place;
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
      // Under the transaction's lock: the copy is exactly what is replaced.
      dao::JobBackup backup(db->Name(), "expand");
      for (const TableLayout* layout : ScheduleTables()) rows += TransferSheet(ui, *xlBook, *db, *layout, place);
      transaction.Commit();
      backup.Keep();
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
    const std::string where = place.Describe();
    ui.MsgBox(msg::ExpansionFailed(error) + (where.empty() ? "" : "\n" + where), MsgBoxButtons::OkOnly, msg::kTitle);
    return JobOutcome::Failed();
  }
}

}  // namespace pendra::schedule
