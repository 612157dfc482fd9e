// "展開実行": the edited workbook named in the path box replaces both schedule
// tables. Unlike the tool's first versions the replacement is all or nothing:
// both emptying statements and every added row run in one transaction, so a
// failure anywhere (a refused value, a missing sheet, the row counter's
// overflow, the spreadsheet application dying, the user ending the program)
// leaves both tables exactly as they were. Before anything changes, a copy
// of the database is taken into its backup folder, and kept once the
// replacement is committed and changed a value (a failed or declined
// expansion, or one of the unedited workbook, leaves none); a
// failure names the sheet, row and column it happened at. Before the
// question, the user learns whether the database can be written at all. The
// template itself is never expanded. Once both sheets are read and before
// anything is committed, the user is asked whether rows the rules leave
// out (below the end of a table) or a table left empty may go; No rolls
// everything back. The completion message's second line counts what was done.
#include <optional>

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
#include "TransferCounts.h"
#include "TableContents.h"
#include "WorkbookAlongside.h"

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

long CountTableRows(dao::Database& db, const TableLayout& layout) {
  auto rs = db.OpenRecordset("SELECT count(*) AS n FROM " + layout.table, dao::dbOpenSnapshot);
  const long rows = static_cast<long>(rs->Fields("n").Value().ToDouble());
  rs->Close();
  return rows;
}

bool RowHasValue(excel::Worksheet& xlSheet, int16_t row, const TableLayout& layout) {
  for (const ColumnLayout& column : layout.columns)
    if (!EqualsEmptyText(xlSheet.Cells(row, column.workbookColumn).Value())) return true;
  return false;
}

// The rows at and below the end of the table that hold a value in one of
// the table's columns: the rules leave them out, the user is asked first.
// Cells past the sheet's used area read as empty without asking the office.
void CountIgnoredRows(excel::Worksheet& xlSheet, const TableLayout& layout, SheetTransfer& transfer) {
  for (long row = transfer.endRow; row <= INT16_MAX; ++row) {
    if (!RowHasValue(xlSheet, static_cast<int16_t>(row), layout)) continue;
    if (transfer.firstIgnoredRow == 0) transfer.firstIgnoredRow = row;
    ++transfer.ignoredRows;
    if (!EqualsEmptyText(xlSheet.Cells(static_cast<int16_t>(row), kEndOfTableColumn).Value())) continue;
    if (transfer.keylessRowNumbers.size() < kRowNumbersNamed) transfer.keylessRowNumbers.push_back(row);
    ++transfer.keylessRows;
  }
}

// Empties one table and adds a row per sheet row, from row 2 down to the
// first row whose first cell is empty; returns what it did.
SheetTransfer TransferSheet(UserInterface& ui, excel::Workbook& xlBook, dao::Database& db,
                            const TableLayout& layout, Place& place) {
  place = Place{layout.sheet()};
  SheetTransfer transfer;
  transfer.table = layout.table;
  transfer.keyColumn = layout.columns.front().name;
  excel::Worksheet xlSheet = xlBook.Sheets(layout.sheet());
  transfer.before = CountTableRows(db, layout);
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
      if (column.fallback && !IsNumeric(value)) {
        value = *column.fallback;
        ++transfer.fallbacks;
      }
      rs->Fields(column.name) = value;
    }
    place.column = nullptr;
    rs->Update();
    ui.ReportProgress(layout.table, row - kFirstDataRow + 1, -1);
    row = row + 1;
    place.row = 0;
  }
  rs->Close();
  transfer.stored = row - kFirstDataRow;
  transfer.endRow = row;
  CountIgnoredRows(xlSheet, layout, transfer);
  return transfer;
}

// Asks each question that applies, default No; false at the first No.
bool UserAcceptsLosses(UserInterface& ui, const std::vector<SheetTransfer>& sheets) {
  for (const SheetTransfer& sheet : sheets) {
    for (const std::string& question : LossQuestions(sheet)) {
      ui.SetWaitPointer(false);
      const MsgBoxResult answer = ui.AskBeforeLoss(question);
      if (answer != MsgBoxResult::Yes) return false;
      ui.SetWaitPointer(true);
    }
  }
  return true;
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
    dao::RequireWritable(ScheduleDatabasePath(ui));
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

    // The office starts and loads the workbook while the database is
    // opened, copied and read: each waits on a process of its own.
    const std::string databasePath = ScheduleDatabasePath(ui);
    std::unique_ptr<dao::Database> db;
    std::optional<dao::Transaction> transaction;
    std::optional<dao::JobBackup> backup;
    TableContents before;
    OpenedWorkbook opened = OpenWorkbookAlongside(workbookPath, [&] {
      db = OpenScheduleDatabase(databasePath);
      transaction.emplace(dao::DBEngine::Instance().Workspaces(0));
      // Under the transaction's lock: the copy is exactly what is replaced.
      backup.emplace(db->Name(), "expand");
      // An expansion of the unedited workbook keeps no copy that would
      // push a kept one out for nothing.
      before = ScheduleTableContents(*db);
    });
    std::shared_ptr<excel::Workbook> xlBook = opened.workbook;
    std::vector<SheetTransfer> sheets;
    long rows = 0;
    for (const TableLayout* layout : ScheduleTables()) {
      sheets.push_back(TransferSheet(ui, *xlBook, *db, *layout, place));
      rows += sheets.back().stored;
    }
    // The workbook is read whole: the office goes before any question,
    // so that its time limit does not run while the user thinks. It ends
    // while what the tables now hold is read.
    xlBook.reset();
    std::future<void> quitting = QuitAlongside(std::move(opened));
    const bool changed = ScheduleTableContents(*db) != before;
    quitting.get();
    if (!UserAcceptsLosses(ui, sheets)) {
      ui.SetWaitPointer(false);
      return JobOutcome::Refused();  // the transaction rolls back: nothing changed
    }
    // The last moment a person can still cancel with nothing changed: a
    // click on Cancel after the last row is honoured too.
    ui.DoEvents();
    transaction->Commit();
    if (changed) backup->Keep();
    backup.reset();
    transaction.reset();
    db->Close();

    ui.SetWaitPointer(false);
    ui.MsgBox(std::string(msg::kExpansionDone) + "\n" + ExpansionCountsLine(sheets), MsgBoxButtons::OkOnly, msg::kTitle);
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
