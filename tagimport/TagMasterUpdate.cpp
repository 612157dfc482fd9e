#include "TagMasterUpdate.h"

#include <memory>
#include <string>
#include <vector>

#include "ImportReport.h"
#include "MasterCsvReader.h"
#include "WriteTable.h"
#include "core/BasePath.h"
#include "core/PlatformError.h"
#include "dao/Dao.h"

namespace pendra::tagimport {

namespace {

using dao::Database;
using dao::Recordset;
using dao::Workspace;

constexpr std::string_view kTitle = "確認";
constexpr std::string_view kSpecifyFile = "ﾏｽﾀｰ情報.csvを指定して下さい";
constexpr std::string_view kConfirm = "指定されたﾏｽﾀｰ情報をデータベースへ展開します。 よろしいですか？";
constexpr std::string_view kDatabaseText = kTagMasterDatabase;
// The tag is bound, never pasted into the text: any tag, apostrophes
// included, is looked up literally.
constexpr std::string_view kLookup = "SELECT * FROM M_TAG WHERE TAG = ?";
constexpr std::string_view kTable = "M_TAG";
constexpr long kProgressEvery = 1000;

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

// One record: update the first row with its tag, or add a row. Each record
// is a savepoint of the import's transaction, so a refused record undoes
// only its own changes.
void ImportRecord(Workspace& ws, Database& db, const MasterCsvRecord& record,
                  ImportReport& report) {
  const std::string& tag = record[1];
  bool savepoint = false;
  try {
    ws.BeginTrans();
    savepoint = true;
    std::unique_ptr<Recordset> rs =
        db.OpenRecordset(kLookup, dao::dbOpenDynaset, std::vector<Variant>{Variant(tag)});
    if (rs->Eof()) {
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
    savepoint = false;
    ws.CommitTrans();
    for (const auto& [column, error] : refusedColumns) {
      report.ColumnRefused(record.LineNumber(), tag, column->column,
                           record[column->position], error);
    }
    report.Stored(!allWritten);
  } catch (const PlatformError& error) {
    if (savepoint) {
      try {
        ws.Rollback();
      } catch (const PlatformError&) {
        // The savepoint is gone with the transaction; the commit at the
        // end reports that.
      }
    }
    report.RecordRefused(record.LineNumber(), tag, error);
  }
}

}  // namespace

void Command1_Click(UserInterface& ui) {
  // 1. A master file must be named.
  if (ui.PathBoxText().empty()) {
    ui.MsgBox(kSpecifyFile, MsgBoxButtons::OkOnly, kTitle);
    return;
  }
  // 2. Confirmation; nothing is opened unless the answer is Yes.
  if (ui.MsgBox(kConfirm, MsgBoxButtons::YesNo, kTitle) != MsgBoxResult::Yes) return;

  // 3. The tag master database.
  const std::string databasePath = UnderBaseFolder(ui.BaseFolder(), kDatabaseText);
  Workspace* ws = nullptr;
  std::unique_ptr<Database> db;
  try {
    ws = &dao::DBEngine::Instance().Workspaces(0);
    db = ws->OpenDatabase(databasePath);
  } catch (const PlatformError& error) {
    ShowOpenFailure(ui, "データベースを開けません。", error, databasePath);
    return;
  }

  // 4. The master file, at the path box's text unchanged.
  const std::string csvPath = ui.PathBoxText();
  MasterCsvReader reader;
  try {
    reader.Open(csvPath);
  } catch (const PlatformError& error) {
    try { db->Close(); } catch (const PlatformError&) {}
    ShowOpenFailure(ui, "ﾏｽﾀｰ情報.csvを開けません。", error, csvPath);
    return;
  }

  // 5. The whole import is one transaction: one disk sync, and a process
  // that dies half way leaves M_TAG as it was.
  ImportReport report;
  try {
    ws->BeginTrans();
  } catch (const PlatformError& error) {
    reader.Close();
    try { db->Close(); } catch (const PlatformError&) {}
    ui.MsgBox(ErrorLine(error) + "\nﾏｽﾀｰ情報はデータベースへ展開されませんでした。",
              MsgBoxButtons::OkOnly, kTitle);
    return;
  }

  // 6. Record by record.
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
      ImportRecord(*ws, *db, record, report);
    }
    if (++done % kProgressEvery == 0) ui.ReportProgress(kTable, done, -1);
  }

  // 7. The master file.
  reader.Close();

  // 8. Commit and close the database.
  try {
    ws->CommitTrans();
  } catch (const PlatformError& error) {
    try { ws->Rollback(); } catch (const PlatformError&) {}
    try { db->Close(); } catch (const PlatformError&) {}
    ui.MsgBox(ErrorLine(error) + "\nﾏｽﾀｰ情報はデータベースへ展開されませんでした。",
              MsgBoxButtons::OkOnly, kTitle);
    return;
  }
  try { db->Close(); } catch (const PlatformError&) {}
  ui.ReportProgress(kTable, done, done);

  if (!report.Clean()) ui.MsgBox(report.Message(), MsgBoxButtons::OkOnly, kTitle);
}

}  // namespace pendra::tagimport
