// What a job changed in a table, told by the table's key: rows before and
// after, rows added, removed and changed, and the first keys changed. Read
// with SQLite directly, read-only, outside any job's transaction.
#pragma once

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace pendra::backups {

struct KeyedTable {
  const char* database;  // the fixed text under the base folder
  const char* table;
  const char* key;
  // A column the job itself sets on every row it writes (the expansion's
  // 更新日時 takes the time of the run): not compared, or every row of a
  // run that changed nothing would count as changed.
  const char* setByTheJob = nullptr;
};

// The schedule tables and the tag master table.
const std::vector<KeyedTable>& ScheduleTablesByKey();
const std::vector<KeyedTable>& TagTablesByKey();

// Every row as text ("v|v|..."), grouped by its key's text.
using TableRows = std::multimap<std::string, std::string>;

// The rows of the table in the database file; raises 3024/3343 as the
// engine would for a file that is not there or not a database.
TableRows ReadRows(const std::string& databasePath, const KeyedTable& table);
long CountRows(const std::string& databasePath, const char* table);

struct TableChange {
  long before = 0, after = 0, added = 0, removed = 0, changed = 0;
  std::vector<std::string> changedKeys;  // the first few keys added, removed or changed
};

TableChange Compare(const TableRows& before, const TableRows& after);

// "GroupMaster: 5 行 → 7 行 (追加 2、削除 0、変更 1: 3, 7)"
std::string ChangeText(const char* table, const TableChange& change);
void PrintChange(std::ostream& out, const char* table, const TableChange& change);

}  // namespace pendra::backups
