#include "TagMasterUpdate.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ImportReport.h"
#include "MasterCsvReader.h"
#include "WriteTable.h"
#include "core/BasePath.h"
#include "core/PlatformError.h"
#include "dao/Dao.h"
#include "dao/Backup.h"
#include "dao/Transaction.h"
#include "dao/WriteAccess.h"

namespace pendra::tagimport {

namespace {

using dao::Database;
using dao::Recordset;
using dao::Workspace;

constexpr std::string_view kTitle = kMessageBoxTitle;
constexpr std::string_view kSpecifyFile = "ﾏｽﾀｰ情報.csvを指定して下さい";
constexpr std::string_view kConfirm = "指定されたﾏｽﾀｰ情報をデータベースへ展開します。 よろしいですか？";
// The tag is bound, never pasted into the text: any tag, apostrophes
// included, is looked up literally.
constexpr std::string_view kLookup = "SELECT * FROM M_TAG WHERE TAG = ?";
constexpr std::string_view kTable = "M_TAG";
// A master file saved as UTF-8 would be refused line by line with byte
// values; the person needs to know how to save it the way it is read.
constexpr std::string_view kSavedAsUtf8 =
    "ﾏｽﾀｰ情報.csvは UTF-8 で保存されています。Shift_JIS (コード ページ 932) で保存し直してから、"
    "もう一度実行して下さい。データベースは変更していません。\n"
    "LibreOffice Calc: ファイル > 名前を付けて保存 で「フィルター設定を編集」にチェックを入れて保存し、"
    "文字セットに「日本語 (Shift_JIS)」を選びます。\n"
    "Excel: ファイルの種類に「CSV (コンマ区切り) (*.csv)」を選びます (「CSV UTF-8 (コンマ区切り)」ではありません)。";
constexpr long kProgressEvery = 1000;

// For the closing message's counts only: a table that cannot be counted
// (missing, say) refuses every record on its own, with its reason.
long CountRows(Database& db) {
  try {
    std::unique_ptr<Recordset> rs = db.OpenRecordset("SELECT count(*) AS n FROM M_TAG", dao::dbOpenSnapshot);
    const long rows = static_cast<long>(rs->Fields("n").Value().ToDouble());
    rs->Close();
    return rows;
  } catch (const PlatformError&) {
    return 0;
  }
}

std::string ErrorLine(const PlatformError& error) {
  return "ｴﾗｰ番号 " + std::to_string(error.Number()) + ":" + error.Description();
}

// A file that could not be opened: its error, and the path it was looked for
// at (unless the description names it already). Nothing has been changed.
void ShowOpenFailure(UserInterface& ui, std::string_view what, const PlatformError& error,
                     const std::string& path) {
  std::string text = std::string(what) + "\n" + ErrorLine(error);
  if (error.Description().find(path) == std::string::npos) text += "\n" + path;
  ui.MsgBox(text, MsgBoxButtons::OkOnly, kTitle);
}

// One record: update the first row with its tag, or add a row. A record
// writes through one statement (Update), and a statement that fails
// changes nothing, so a refused record leaves the rows as they were
// without a savepoint of its own (which would copy every page it touches
// once more).
void ImportRecord(Database& db, const MasterCsvRecord& record, ImportReport& report) {
  const std::string& tag = record[1];
  try {
    std::unique_ptr<Recordset> rs =
        db.OpenRecordset(kLookup, dao::dbOpenDynaset, std::vector<Variant>{Variant(tag)});
    const bool added = rs->Eof();
    if (added) {
      rs->AddNew();
      // A new row without its tag could never be found again: a tag that
      // the column refuses refuses the record.
      rs->Fields(kTagColumn) = Variant(tag);
    } else {
      rs->Edit();
    }
    // Column refusals are reported once the row is stored; a refused
    // record is reported by its refusal alone.
    bool allWritten = true;
    std::vector<std::pair<const WriteColumn*, PlatformError>> refusedColumns;
    for (const WriteColumn& column : kWriteTable) {
      try {
        rs->Fields(column.column) = ColumnValue(column, record);
      } catch (const PlatformError& error) {
        allWritten = false;
        refusedColumns.emplace_back(&column, error);
      }
    }
    rs->Update(dao::dbUpdateRegular, false);
    rs->Close();
    for (const auto& [column, error] : refusedColumns) {
      report.ColumnRefused(record.LineNumber(), tag, column->column,
                           record[column->position], error);
    }
    report.Stored(added, !allWritten);
  } catch (const PlatformError& error) {
    // Nothing of the record was stored (or the transaction is gone, which
    // the commit at the end reports).
    report.RecordRefused(record.LineNumber(), tag, error);
  }
}

// Every line after the header records, until the end of the file or a
// reading error; returns how many lines were handled.
long ImportRecords(UserInterface& ui, MasterCsvReader& reader, Database& db,
                   ImportReport& report) {
  long done = 0;
  for (;;) {
    const MasterCsvRecord* next = nullptr;
    try {
      if (reader.EndOfFile()) break;
      next = &reader.NextRecord();
    } catch (const PlatformError& error) {
      report.ReadingStopped(reader.LineNumber() + 1, error);
      break;
    }
    const MasterCsvRecord& record = *next;
    if (record.IsHeader()) continue;
    if (record.IsMalformed()) {
      report.LineSkipped(record.LineNumber(), record.Problem());
    } else {
      ImportRecord(db, record, report);
    }
    if (++done % kProgressEvery == 0) ui.ReportProgress(kTable, done, -1);
  }
  return done;
}

// Closes the database; what was committed stays so whatever the close says.
void CloseQuietly(Database& db) {
  try {
    db.Close();
  } catch (const PlatformError&) {
  }
}

// The transaction could not begin or commit: nothing of the file is in
// the table, and the user is told so with the error.
JobOutcome NothingImported(UserInterface& ui, const PlatformError& error) {
  ui.MsgBox(ErrorLine(error) + "\nﾏｽﾀｰ情報はデータベースへ展開されませんでした。", MsgBoxButtons::OkOnly, kTitle);
  return JobOutcome::Failed();
}

}  // namespace

JobOutcome Command1_Click(UserInterface& ui) {
  // 1. A master file must be named.
  if (ui.PathBoxText().empty()) {
    ui.MsgBox(kSpecifyFile, MsgBoxButtons::OkOnly, kTitle);
    return JobOutcome::Refused();
  }
  // 2. Confirmation; nothing is opened unless the answer is Yes. A user
  // who may not write the database learns it before being asked.
  const std::string databasePath = UnderBaseFolder(ui.BaseFolder(), kTagMasterDatabase);
  try {
    dao::RequireWritable(databasePath);
  } catch (const PlatformError& error) {
    return NothingImported(ui, error);
  }
  if (ui.MsgBox(kConfirm, MsgBoxButtons::YesNo, kTitle) != MsgBoxResult::Yes) return JobOutcome::Refused();

  // 3. The tag master database.
  Workspace* ws = nullptr;
  std::unique_ptr<Database> db;
  try {
    ws = &dao::DBEngine::Instance().Workspaces(0);
    db = ws->OpenDatabase(databasePath);
  } catch (const PlatformError& error) {
    ShowOpenFailure(ui, "データベースを開けません。", error, databasePath);
    return JobOutcome::Failed();
  }

  // 4. The master file, at the path box's text unchanged.
  const std::string csvPath = ui.PathBoxText();
  MasterCsvReader reader;
  try {
    reader.Open(csvPath);
  } catch (const PlatformError& error) {
    CloseQuietly(*db);
    ShowOpenFailure(ui, "ﾏｽﾀｰ情報.csvを開けません。", error, csvPath);
    return JobOutcome::Failed();
  }
  if (reader.SavedAsUtf8()) {
    reader.Close();
    CloseQuietly(*db);
    ui.MsgBox(std::string(kSavedAsUtf8) + "\n" + csvPath, MsgBoxButtons::OkOnly, kTitle);
    return JobOutcome::Failed();
  }

  // 5. The whole import is one transaction: one disk sync, and a process
  // that dies half way leaves M_TAG as it was. The guard rolls it back
  // on every way out that does not commit, an unforeseen exception included.
  std::optional<dao::Transaction> transaction;
  std::optional<dao::JobBackup> backup;
  ImportReport report;
  try {
    transaction.emplace(*ws);
    // Under the transaction's lock: the copy is exactly what the import
    // starts from. One that cannot be written stops the import here; it is
    // kept only if records were stored and committed.
    backup.emplace(databasePath, "import-csv");
    report.RowsBefore(CountRows(*db));
  } catch (const PlatformError& error) {
    transaction.reset();
    reader.Close();
    CloseQuietly(*db);
    return NothingImported(ui, error);
  }

  // 6. Record by record.
  const long done = ImportRecords(ui, reader, *db, report);

  // 7. The master file.
  reader.Close();

  // 8. Commit and close the database.
  try {
    transaction->Commit();
  } catch (const PlatformError& error) {
    transaction.reset();
    CloseQuietly(*db);
    return NothingImported(ui, error);
  }
  if (report.StoredCount() > 0) backup->Keep();
  CloseQuietly(*db);
  ui.ReportProgress(kTable, done, done);

  if (report.Clean()) return JobOutcome::Completed(report.StoredCount());
  ui.MsgBox(report.Message(), MsgBoxButtons::OkOnly, kTitle);
  return JobOutcome::Failed(report.StoredCount(), report.RefusedCount());
}

}  // namespace pendra::tagimport
