#include "TableInfo.h"

#include "SchemaText.h"
#include "Sqlite.h"
#include "core/PlatformError.h"

namespace pendra::dao::detail {

int TableInfo::Find(std::string_view column) const {
  for (size_t i = 0; i < columns.size(); ++i)
    if (SameName(columns[i].name, column)) return static_cast<int>(i);
  return -1;
}

std::shared_ptr<const TableInfo> LoadTableInfo(sqlite3* db, std::string_view table) {
  auto info = std::make_shared<TableInfo>();
  std::string normalizedSql;
  {
    Statement lookup(db, "SELECT name, sql FROM sqlite_master WHERE type = 'table' AND name = ?1 COLLATE NOCASE");
    sqlite3_bind_text(lookup.get(), 1, table.data(), static_cast<int>(table.size()), SQLITE_TRANSIENT);
    const int rc = sqlite3_step(lookup.get());
    if (rc == SQLITE_ROW) {
      info->name = reinterpret_cast<const char*>(sqlite3_column_text(lookup.get(), 0));
      if (auto* sql = sqlite3_column_text(lookup.get(), 1)) normalizedSql = NormalizeDdl(reinterpret_cast<const char*>(sql));
    } else if (rc == SQLITE_DONE) {
      RaiseTableNotFound(table);
    } else {
      RaiseSqlite(db, rc, Operation::Read);
    }
  }
  Statement columns(db, "SELECT name, type, \"notnull\", dflt_value, pk FROM pragma_table_info(?1)");
  sqlite3_bind_text(columns.get(), 1, info->name.data(), static_cast<int>(info->name.size()), SQLITE_TRANSIENT);
  int primaryKeyColumns = 0;
  int rc;
  while ((rc = sqlite3_step(columns.get())) == SQLITE_ROW) {
    ColumnInfo column;
    column.name = reinterpret_cast<const char*>(sqlite3_column_text(columns.get(), 0));
    column.qualified = info->name + "." + column.name;
    const auto* declared = sqlite3_column_text(columns.get(), 1);
    const std::string declaredType = declared ? reinterpret_cast<const char*>(declared) : "";
    column.spec = ParseDeclaredType(declaredType);
    column.notNull = sqlite3_column_int(columns.get(), 2) != 0;
    if (auto* dflt = sqlite3_column_text(columns.get(), 3)) column.defaultSql = reinterpret_cast<const char*>(dflt);
    if (sqlite3_column_int(columns.get(), 4) > 0) {
      ++primaryKeyColumns;
      column.rowidAlias = FoldName(declaredType) == "integer";
    }
    if (column.spec.type == FieldType::Text || column.spec.type == FieldType::Memo)
      column.spec.allowZeroLength = !RefusesZeroLength(normalizedSql, column.name);
    info->columns.push_back(std::move(column));
  }
  if (rc != SQLITE_DONE) RaiseSqlite(db, rc, Operation::Read);
  if (primaryKeyColumns != 1)
    for (auto& column : info->columns) column.rowidAlias = false;
  return info;
}

}  // namespace pendra::dao::detail
