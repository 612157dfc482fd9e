#include "BackupCommands.h"

#include <filesystem>
#include <ostream>

#include "Commands.h"
#include "TableChanges.h"
#include "core/BasePath.h"
#include "core/PlatformError.h"
#include "dao/Backup.h"
#include "dao/WriteAccess.h"

namespace pendra::cli {

namespace {

struct DatabaseTables {
  const char* database;
  const std::vector<KeyedTable>* tables;
};

const std::vector<DatabaseTables>& Databases() {
  static const std::vector<DatabaseTables> databases = {
      {kScheduleDatabase, &ScheduleTablesByKey()},
      {kTagMasterDatabase, &TagTablesByKey()},
  };
  return databases;
}

std::string RowCounts(const std::string& file, const std::vector<KeyedTable>& tables) {
  std::string text;
  for (const auto& table : tables) {
    text += (text.empty() ? "" : ", ") + std::string(table.table) + " ";
    try {
      text += std::to_string(CountRows(file, table.table));
    } catch (const PlatformError&) {
      text += "?";
    }
  }
  return text;
}

}  // namespace

int ListBackupsCommand(const std::string&, const ConsoleOptions& options, const ConsoleStreams& streams) {
  for (const auto& database : Databases()) {
    const std::string path = UnderBaseFolder(options.baseFolder, database.database);
    streams.out << path << ":\n";
    const auto copies = dao::ListBackups(path);
    if (copies.empty()) streams.out << "  (バックアップはありません)\n";
    for (const auto& copy : copies) {
      streams.out << "  " << copy.time << "  " << copy.job << "  " << copy.size << " バイト  "
                  << RowCounts(copy.path, *database.tables) << "\n    " << copy.path << "\n";
    }
  }
  return kCompleted;
}

int RestoreCommand(const std::string& argument, const ConsoleOptions& options, const ConsoleStreams& streams) {
  // The database a copy belongs to is named at the start of its file name.
  const std::string name = std::filesystem::path(argument).filename().string();
  const DatabaseTables* target = nullptr;
  for (const auto& database : Databases()) {
    const std::string stem = std::filesystem::path(UnderBaseFolder("", database.database)).stem().string();
    if (name.rfind(stem + "-", 0) == 0) target = &database;
  }
  if (!target) {
    streams.err << "pendra: '" << argument << "' はこのプログラムのバックアップの名前ではありません (Orvik-… または Velmora-…)。\n";
    return kFailed;
  }
  const std::string databasePath = UnderBaseFolder(options.baseFolder, target->database);
  try {
    dao::RequireWritable(databasePath);   // before the question, not after it
  } catch (const PlatformError& e) {
    streams.err << "pendra: ｴﾗｰ番号 " << e.Number() << ":" << e.Description() << "\n";
    return kFailed;
  }
  ConsoleUi ui(options, streams);
  if (ui.MsgBox(databasePath + " を " + argument + " の内容に戻します。 よろしいですか？", MsgBoxButtons::YesNo,
                kMessageBoxTitle) != MsgBoxResult::Yes) {
    ui.Finish(JobOutcome::Refused());
    return kFailed;
  }
  ui.Finish(JobOutcome::Completed(0));
  try {
    const std::string saved = dao::Restore(databasePath, argument);
    streams.out << "復元しました: " << databasePath << " (" << RowCounts(databasePath, *target->tables) << ")\n"
                << "復元前の状態: " << saved << "\n";
  } catch (const PlatformError& e) {
    streams.err << "pendra: ｴﾗｰ番号 " << e.Number() << ":" << e.Description() << "\n";
    return kFailed;
  }
  return kCompleted;
}

}  // namespace pendra::cli
