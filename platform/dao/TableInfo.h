// What the layer knows of a table: its columns in order, their engine
// types, NOT NULL, defaults and whether zero-length text is allowed. Read
// once per table and database, from PRAGMA table_info and the table's DDL.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "FieldType.h"

namespace pendra::dao::detail {

struct ColumnInfo {
  std::string name;
  std::string qualified;    // "Table.Column", for descriptions
  FieldSpec spec;
  bool notNull = false;
  std::string defaultSql;   // the DEFAULT expression, empty when none
  bool rowidAlias = false;  // INTEGER PRIMARY KEY: SQLite numbers it
};

struct TableInfo {
  std::string name;         // as the schema spells it
  std::vector<ColumnInfo> columns;
  // Index of a column by name, letter case ignored; -1 when none.
  int Find(std::string_view column) const;
};

// Raises 3078 when the table does not exist.
std::shared_ptr<const TableInfo> LoadTableInfo(sqlite3* db, std::string_view table);

}  // namespace pendra::dao::detail
