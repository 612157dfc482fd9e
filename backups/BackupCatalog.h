// The backups of both databases as a person looks at them, for the batch
// command's "backups" and "restore" and for the window's backups window:
// which database a backup belongs to, its tables' row counts, and what
// restoring it would change, table by table, counted by each table's key
// (the same counts a dry run prints).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "TableChanges.h"
#include "dao/Backup.h"

namespace pendra::backups {

struct DatabaseTables {
  const char* database;  // the fixed text under the base folder
  const std::vector<KeyedTable>* tables;

  // "Orvik", "Velmora": the start of its backups' file names.
  std::string Name() const;
};

// The schedule database, then the tag master database.
const std::vector<DatabaseTables>& Databases();

// The database whose backups are named like the file at backupPath, or
// nullptr.
const DatabaseTables* DatabaseOfBackup(const std::string& backupPath);

struct RowCount {
  std::string table;
  std::optional<long> rows;  // none: the table cannot be read in that file
};
std::vector<RowCount> CountRowsIn(const std::string& file, const std::vector<KeyedTable>& tables);
// "GroupMaster 5, KikiMaster 12" ("?" for a table that cannot be read).
std::string RowCountsText(const std::vector<RowCount>& counts);

struct TableRestore {
  std::string table;
  TableChange change;  // before: the database now; after: the backup
};

// What putting the backup back would change in the database now. Raises
// (3024, 3343) when either file cannot be read as the database.
std::vector<TableRestore> RestoreChanges(const std::string& databasePath, const std::string& backupPath,
                                         const std::vector<KeyedTable>& tables);

}  // namespace pendra::backups
