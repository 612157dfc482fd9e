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
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <system_error>

#include "core/BasePath.h"
#include "core/Int16.h"
#include "core/PinnedFolder.h"
#include "InstallationFiles.h"
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
  // Before the test for a new file: a database's side file may not exist yet.
  if (IsADatabaseFile(base, target)) {
    ui.MsgBox(msg::kOutputOverDatabase, MsgBoxButtons::OkOnly, msg::kTitle);
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

    // The last moment a person can still cancel with nothing written.
    ui.DoEvents();
    xlBook->SaveAs(target, checked->replace, checked->folder);

    xlBook->Application()->Quit();
    xlBook.reset();

    ui.SetWaitPointer(false);
    ui.MsgBox(msg::kOutputDone, MsgBoxButtons::OkOnly, msg::kTitle);
    return JobOutcome::Completed(rows);
  } catch (const PlatformError& error) {
    ui.SetWaitPointer(false);
    ui.MsgBox(msg::OutputFailed(error), MsgBoxButtons::OkOnly, msg::kTitle);
    return JobOutcome::Failed();
  }
}

}  // namespace pendra::schedule
