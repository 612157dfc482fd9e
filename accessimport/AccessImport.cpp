#include "AccessImport.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "DesignCheck.h"
#include "core/AsciiText.h"
#include "core/BasePath.h"
#include "core/PlatformError.h"
#include "dao/Dao.h"
#include "dao/Backup.h"
#include "dao/Transaction.h"
#include "dao/WriteAccess.h"
#include "mdb/AccessFile.h"

namespace pendra::accessimport {

namespace {

constexpr const char* kTitle = "確認";

// Our tables and the database under the base folder that holds each.
struct OurTable {
  const char* name;
  const char* database;
};
constexpr OurTable kOurTables[] = {
    {"GroupMaster", kScheduleDatabase},
    {"KikiMaster", kScheduleDatabase},
    {"M_TAG", kTagMasterDatabase},
};

const OurTable* Ours(const std::string& accessTable) {
  for (const auto& table : kOurTables)
    if (EqualIgnoringAsciiCase(table.name, accessTable)) return &table;
  return nullptr;
}

// One table to carry: the Access table, our database and what comes over.
struct Carry {
  const mdb::AccessTable* access;
  const OurTable* ours;
  dao::Database* database;
  DesignComparison design;
  long rowsBefore = 0;
};

long RowCount(dao::Database& db, const std::string& table) {
  auto rs = db.OpenRecordset("SELECT COUNT(*) AS n FROM " + table, dao::dbOpenSnapshot);
  return static_cast<long>(rs->Fields("n").Value().ToDouble());
}

// Empties our table and adds the file's rows. A refused value raises with
// the table, row and column named.
void Replace(Carry& carry) {
  dao::Database& db = *carry.database;
  const std::string table = carry.ours->name;
  db.Execute("DELETE FROM " + table);
  // Columns the file does not hold keep the defaults AddNew gives them.
  auto rs = db.OpenRecordset("SELECT * FROM " + table, dao::dbOpenDynaset);
  long rowNumber = 0;
  for (const auto& row : carry.access->rows) {
    ++rowNumber;
    std::string column;
    try {
      rs->AddNew();
      for (const auto& c : carry.design.carried) {
        column = c.name;
        rs->Fields(c.name) = row[c.accessIndex];
      }
      column.clear();
      rs->Update();
    } catch (const PlatformError& e) {
      throw PlatformError(e.Number(), "テーブル " + table + " の " + std::to_string(rowNumber) + " 行目" +
                                          (column.empty() ? "" : "、列 " + column) + ": " + e.Description());
    }
  }
  rs->Close();
}

// After a failure: "nothing changed" only when it is so. The transaction
// rolled back, and one commit covers both files; each file's change counter
// (read under the job's lock) confirms that neither was written.
void TellWhatChanged(const std::vector<std::string>& files, const std::vector<uint32_t>& before,
                     std::vector<std::unique_ptr<dao::JobBackup>>& backups, std::ostream& errors) {
  bool changed = false;
  for (size_t i = 0; i < before.size(); ++i) {
    uint32_t now = before[i];
    try {
      now = dao::FileChangeCounter(files[i]);
    } catch (const PlatformError&) {
      now = before[i] + 1;   // unreadable now: not known to be unchanged
    }
    if (now == before[i]) continue;
    changed = true;
    errors << "pendra: データベース '" << files[i] << "' は変更されています。";
    if (i < backups.size()) {
      backups[i]->Keep();   // the state before is worth keeping now
      errors << "変更前の状態は「pendra restore " << backups[i]->Path() << "」で戻せます。";
    }
    errors << "\n";
  }
  if (!changed) errors << "pendra: 何も変更しませんでした。\n";
}

}  // namespace

ImportResult ImportAccessFile(UserInterface& ui, const std::string& accessFile, bool dryRun, std::ostream& report,
                              std::ostream& errors) {
  mdb::AccessDatabase file;
  try {
    mdb::ReadOptions options;
    options.rowsOf.emplace();
    for (const auto& table : kOurTables) options.rowsOf->emplace_back(table.name);
    file = mdb::ReadAccessFile(accessFile, options);
  } catch (const PlatformError& e) {
    errors << "pendra: ｴﾗｰ番号 " << e.Number() << ":" << e.Description() << "\n";
    return ImportResult::Failed;
  }
  report << accessFile << " (" << file.format << ")\n";

  // The tables to carry, and the ones passed over.
  std::vector<Carry> carries;
  for (const auto& table : file.tables) {
    if (const OurTable* ours = Ours(table.name)) {
      carries.push_back({&table, ours, nullptr, {}, 0});
    } else {
      report << "  取り込まないテーブル: " << table.name << " (" << table.recordedRows << " 行)\n";
    }
  }
  if (carries.empty()) {
    report << "  GroupMaster、KikiMaster、M_TAG のどれもありません。何も変更しません。\n";
    return ImportResult::Refused;
  }

  // The databases the carried tables lie in, the first opened, the other
  // attached to it: one connection, so that one commit covers both files and
  // they change together or not at all.
  std::vector<std::string> files;
  std::vector<uint32_t> changesBefore;   // each file's change counter under the job's lock
  // Each file's copy, kept only if the import commits.
  std::vector<std::unique_ptr<dao::JobBackup>> backups;
  try {
    std::unique_ptr<dao::Database> db;
    for (auto& carry : carries) {
      const std::string path = UnderBaseFolder(ui.BaseFolder(), carry.ours->database);
      if (std::find(files.begin(), files.end(), path) == files.end()) {
        if (!db) db = dao::DBEngine::Instance().Workspaces(0).OpenDatabase(path);
        else db->Attach(path);
        files.push_back(path);
      }
      carry.database = db.get();
      carry.design = CompareDesign(*carry.access, carry.database->TableDefFields(carry.ours->name));
      carry.rowsBefore = RowCount(*carry.database, carry.ours->name);
      report << "  " << carry.ours->name << ": " << carry.access->rows.size() << " 行、列 " << carry.design.carried.size()
             << " 個を取り込みます\n";
      for (const auto& difference : carry.design.differences) report << "    設計の違い: " << difference << "\n";
      if (!carry.design.unreadable.empty()) {
        Raise(err::kDataTypeConversion,
              "列 " + carry.design.unreadable + " の値はこのプログラムでは読めない型です。何も変更しません。");
      }
    }
    if (!dryRun) {
      // Before the question: a user who may not write learns it now.
      for (const auto& path : files) dao::RequireWritable(path);
      std::string tables;
      for (const auto& carry : carries) tables += (tables.empty() ? "" : "、") + std::string(carry.ours->name);
      if (ui.MsgBox("Access データベースの内容で " + tables + " を置き換えます。 よろしいですか？", MsgBoxButtons::YesNo,
                    kTitle) != MsgBoxResult::Yes)
        return ImportResult::Refused;
    }

    dao::Transaction transaction(dao::DBEngine::Instance().Workspaces(0));
    for (const auto& path : files) changesBefore.push_back(dao::FileChangeCounter(path));
    if (!dryRun) {
      for (const auto& path : files) backups.push_back(std::make_unique<dao::JobBackup>(path, "import-mdb"));
    }
    for (auto& carry : carries) Replace(carry);
    std::vector<long> rowsAfter;
    rowsAfter.reserve(carries.size());
    for (const auto& carry : carries) rowsAfter.push_back(RowCount(*carry.database, carry.ours->name));
    // A dry run leaves the transaction to roll back.
    if (!dryRun) {
      transaction.Commit();
      for (auto& backup : backups) backup->Keep();
    }
    for (const auto& backup : backups) report << "  バックアップ: " << backup->Path() << "\n";
    for (size_t i = 0; i < carries.size(); ++i) {
      report << "  " << carries[i].ours->name << ": " << carries[i].rowsBefore << " 行 → " << rowsAfter[i] << " 行"
             << (dryRun ? " (試行のみ、変更しません)" : "") << "\n";
    }
  } catch (const PlatformError& e) {
    errors << "pendra: ｴﾗｰ番号 " << e.Number() << ":" << e.Description() << "\n";
    TellWhatChanged(files, changesBefore, backups, errors);
    return ImportResult::Failed;
  }
  return ImportResult::Completed;
}

}  // namespace pendra::accessimport
