// "Pendra情報.xlsファイルの作成": both schedule tables written into a workbook
// made from the template, the template's two macros run, and the workbook
// saved under the name the user chose. The database is only read.
//
// Guards the tool's first versions lacked: the template and the databases,
// with the files SQLite keeps beside them, are never a target (they would
// be overwritten with data), nor is anything that is not a regular file;
// an existing target is replaced only after the user said so, and a target
// that appears while the job runs is not replaced at all; the workbook
// lands in the folder that was checked.
#include <exception>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <system_error>

#include "core/BasePath.h"
#include "core/Int16.h"
#include "core/PinnedFolder.h"
#include "InstallationFiles.h"
#include "dao/Dao.h"
#include "excel/WorkbookFormat.h"
#include "Messages.h"
#include "JobSteps.h"
#include "ScheduleJobs.h"
#include "ScheduleLayout.h"
#include "TransferCounts.h"
#include "WorkbookAlongside.h"

namespace pendra::schedule {

namespace {

// A key the expansion cannot tell from the end of the table: its cell
// would be empty (Null, or text of length zero).
bool IsEmptyKey(const Variant& key) { return key.IsNull() || key.IsEmpty() || (key.IsString() && key.StringValue().empty()); }

// A table as read for its sheet: its rows, or why they could not be read
// (told where writing its sheet begins, once the sheet is found, as when
// the table was read then).
struct TableRead {
  std::unique_ptr<dao::Recordset> rs;
  std::exception_ptr failure;
};

TableRead ReadTable(dao::Database& db, const TableLayout& layout) {
  TableRead read;
  try {
    read.rs = db.OpenRecordset(layout.selectStatement, dao::dbOpenSnapshot);
  } catch (const PlatformError&) {
    read.failure = std::current_exception();
  }
  return read;
}

// Writes the table's rows from row 2 of its sheet, each field's value
// unchanged into its cell, in the SELECT order except that rows with an
// empty key come last: written first (a Null sorts first) their empty
// first cell would end the table for the expansion, and every row below
// would be lost on the way back. Counts what the workbook cannot give back:
// a cell holds no text of length zero (it is stored as an empty cell, in
// every format), so such a value returns as Null.
TableWritten WriteSheet(UserInterface& ui, excel::Workbook& xlBook, TableRead& read, const TableLayout& layout) {
  excel::Worksheet xlSheet = xlBook.Sheets(layout.sheet());
  if (read.failure) std::rethrow_exception(read.failure);
  dao::Recordset* rs = read.rs.get();
  const long total = rs->RecordCount();
  TableWritten written;
  written.table = layout.table;
  const ColumnLayout& key = layout.columns.front();

  Int16 row = kFirstDataRow;
  std::vector<std::vector<Variant>> keyless;
  const auto write = [&](const std::vector<Variant>& values) {
    for (size_t c = 0; c < layout.columns.size(); ++c) {
      xlSheet.Cells(row, layout.columns[c].workbookColumn) = values[c];
      const Variant& value = values[c];
      if (c > 0 && value.IsString() && value.StringValue().empty()) ++written.zeroLengthCells;
    }
    ui.ReportProgress(layout.table, row - kFirstDataRow + 1, total);
    row = row + 1;
  };
  while (!rs->Eof()) {
    std::vector<Variant> values;
    values.reserve(layout.columns.size());
    for (const ColumnLayout& column : layout.columns) values.push_back(rs->Fields(column.name).Value());
    if (IsEmptyKey(values.front())) keyless.push_back(std::move(values));
    else write(values);
    rs->MoveNext();
  }
  rs->Close();
  for (const auto& values : keyless) write(values);
  written.keylessRows = static_cast<long>(keyless.size());
  written.keyColumn = key.name;
  written.rows = row - kFirstDataRow;
  return written;
}

// The target as the job checked it: its folder, held open so that the
// workbook is saved into that very folder, and whether the user agreed to
// replace an existing file.
struct CheckedTarget {
  explicit CheckedTarget(const std::filesystem::path& target) : folder(target.parent_path().string()) {}
  PinnedFolder folder;
  bool replace = false;
};

// The target checks that come before any work, by file identity, not by
// name: the template or a database under another name (a hard link, a bind
// mount, another case) is still refused, and so is a database's side file.
// Nothing when the job must not go on (the user was told, or answered No).
std::unique_ptr<CheckedTarget> CheckTarget(UserInterface& ui, const std::string& target) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(target, ec).lexically_normal();
  auto checked = std::make_unique<CheckedTarget>(ec ? std::filesystem::path() : absolute);
  const std::string base = ui.BaseFolder();
  // Before the test for a new file: a database's side file may not exist
  // yet. Before the format too: naming the database says more.
  if (IsADatabaseFile(base, target)) {
    ui.MsgBox(msg::kOutputOverDatabase, MsgBoxButtons::OkOnly, msg::kTitle);
    return nullptr;
  }
  // The format comes from the name: any other name would get an Excel 97
  // file that the program the name suggests cannot read.
  if (!excel::IsWorkbookFormat(target)) {
    ui.MsgBox(msg::kOutputFormatRefused, MsgBoxButtons::OkOnly, msg::kTitle);
    return nullptr;
  }
  const auto identity = IdentityOf(target);
  if (!identity) return checked;  // a new file: saved only if it is still new then

  const char* refusal = nullptr;
  struct stat st {};
  if (stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) refusal = msg::kOutputNotAFile;
  if (IsTheTemplate(base, target)) refusal = msg::kOutputOverTemplate;
  if (refusal) {
    ui.MsgBox(refusal, MsgBoxButtons::OkOnly, msg::kTitle);
    return nullptr;
  }
  if (ui.MsgBox(msg::kOutputReplace, MsgBoxButtons::YesNoDefaultNo, msg::kTitle) != MsgBoxResult::Yes)
    return nullptr;
  checked->replace = true;
  return checked;
}

}  // namespace

JobOutcome subDbToXls(UserInterface& ui, const std::string& target) {
  const std::string templatePath = UnderBaseFolder(ui.BaseFolder(), kTemplateWorkbook);
  const std::unique_ptr<CheckedTarget> checked = CheckTarget(ui, target);
  if (!checked) return JobOutcome::Refused();

  try {
    ui.SetWaitPointer(true);
    if (RefusedWhileSpreadsheetRuns(ui)) return JobOutcome::Refused();

    // The office starts and loads the template while the database is
    // opened and both tables are read: each waits on a process of its own.
    const std::string databasePath = ScheduleDatabasePath(ui);
    std::unique_ptr<dao::Database> db;
    std::vector<TableRead> tables;
    OpenedWorkbook opened = OpenWorkbookAlongside(templatePath, [&] {
      db = OpenScheduleDatabase(databasePath);
      for (const TableLayout* layout : ScheduleTables()) tables.push_back(ReadTable(*db, *layout));
    });
    std::shared_ptr<excel::Application> xlApp = opened.application;
    std::shared_ptr<excel::Workbook> xlBook = opened.workbook;

    long rows = 0;
    std::vector<TableWritten> written;
    for (size_t t = 0; t < ScheduleTables().size(); ++t) {
      written.push_back(WriteSheet(ui, *xlBook, tables[t], *ScheduleTables()[t]));
      rows += written.back().rows;
    }
    tables.clear();
    db->Close();

    xlBook->Windows(kTemplateWindow).SetVisible(true);
    xlApp->Run("subResultClr");
    xlApp->Run("subResult");

    // The last moment a person can still cancel with nothing written.
    ui.DoEvents();
    xlBook->SaveAs(target, checked->replace, checked->folder);

    xlBook->Application()->Quit();
    xlBook.reset();

    ui.SetWaitPointer(false);
    ui.MsgBox(std::string(msg::kOutputDone) + "\n" + OutputCountsLines(written), MsgBoxButtons::OkOnly, msg::kTitle);
    return JobOutcome::Completed(rows);
  } catch (const PlatformError& error) {
    ui.SetWaitPointer(false);
    ui.MsgBox(msg::OutputFailed(error), MsgBoxButtons::OkOnly, msg::kTitle);
    return JobOutcome::Failed();
  }
}

}  // namespace pendra::schedule
