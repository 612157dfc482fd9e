#include "BackupCommands.h"

#include <filesystem>
#include <ostream>

#include "Commands.h"
#include "BackupCatalog.h"
#include "core/BasePath.h"
#include "core/PlatformError.h"
#include "dao/Backup.h"
#include "dao/WriteAccess.h"

namespace pendra::cli {

namespace {

using backups::Databases;
using backups::DatabaseTables;
using backups::KeyedTable;

std::string RowCounts(const std::string& file, const std::vector<KeyedTable>& tables) {
  return backups::RowCountsText(backups::CountRowsIn(file, tables));
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
      if (const std::string why = dao::WhyNotRestorable(path, copy.path); !why.empty())
        streams.out << "    復元できません: " << why << "\n";
    }
  }
  return kCompleted;
}

int RestoreCommand(const std::string& argument, const ConsoleOptions& options, const ConsoleStreams& streams) {
  const DatabaseTables* target = backups::DatabaseOfBackup(argument);
  if (!target) {
    streams.err << "pendra: '" << argument << "' はこのプログラムのバックアップの名前ではありません (Orvik-… または Velmora-…)。\n";
    return kFailed;
  }
  const std::string databasePath = UnderBaseFolder(options.baseFolder, target->database);
  // Neither a preview nor a question for a copy that cannot go back.
  if (const std::string why = dao::WhyNotRestorable(databasePath, argument); !why.empty()) {
    streams.err << "pendra: ｴﾗｰ番号 " << err::kUnrecognizedFormat << ":'" << argument << "' は復元できません (" << why
                << ")。データベースは変更していません。\n";
    return kFailed;
  }
  if (options.dryRun) {
    try {
      streams.out << "試行のみ: データベースは変更していません。復元すると変わる内容:\n";
      for (const auto& table : backups::RestoreChanges(databasePath, argument, *target->tables))
        streams.out << backups::ChangeText(table.table.c_str(), table.change) << "\n";
    } catch (const PlatformError& e) {
      streams.err << "pendra: ｴﾗｰ番号 " << e.Number() << ":" << e.Description() << "\n";
      return kFailed;
    }
    return kCompleted;
  }
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
