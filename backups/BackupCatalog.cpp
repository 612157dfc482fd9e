#include "BackupCatalog.h"

#include <filesystem>

#include "core/BasePath.h"
#include "core/PlatformError.h"

namespace pendra::backups {

std::string DatabaseTables::Name() const {
  return std::filesystem::path(UnderBaseFolder("", database)).stem().string();
}

const std::vector<DatabaseTables>& Databases() {
  static const std::vector<DatabaseTables> databases = {
      {kScheduleDatabase, &ScheduleTablesByKey()},
      {kTagMasterDatabase, &TagTablesByKey()},
  };
  return databases;
}

const DatabaseTables* DatabaseOfBackup(const std::string& backupPath) {
  // The database a backup belongs to is named at the start of its file name.
  const std::string name = std::filesystem::path(backupPath).filename().string();
  for (const auto& database : Databases())
    if (name.rfind(database.Name() + "-", 0) == 0) return &database;
  return nullptr;
}

std::vector<RowCount> CountRowsIn(const std::string& file, const std::vector<KeyedTable>& tables) {
  std::vector<RowCount> counts;
  for (const auto& table : tables) {
    RowCount count{table.table, std::nullopt};
    try {
      count.rows = CountRows(file, table.table);
    } catch (const PlatformError&) {
    }
    counts.push_back(count);
  }
  return counts;
}

std::string RowCountsText(const std::vector<RowCount>& counts) {
  std::string text;
  for (const auto& count : counts)
    text += (text.empty() ? "" : ", ") + count.table + " " + (count.rows ? std::to_string(*count.rows) : "?");
  return text;
}

std::vector<TableRestore> RestoreChanges(const std::string& databasePath, const std::string& backupPath,
                                         const std::vector<KeyedTable>& tables) {
  std::vector<TableRestore> changes;
  changes.reserve(tables.size());
  for (const auto& table : tables)
    changes.push_back({table.table, Compare(ReadRows(databasePath, table), ReadRows(backupPath, table))});
  return changes;
}

}  // namespace pendra::backups
