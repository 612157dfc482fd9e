#include "TableInfo.h"
#include "StatementTime.h"

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
  std::string schema;
  {
    // The file holding it: the database's own, or one attached to it
    // (which never holds a name of the database's own).
    Statement where(db, "SELECT schema, name FROM pragma_table_list WHERE type = 'table' AND schema <> 'temp' "
                        "AND name = ?1 COLLATE NOCASE ORDER BY schema <> 'main' LIMIT 1");
    sqlite3_bind_text(where.get(), 1, table.data(), static_cast<int>(table.size()), SQLITE_TRANSIENT);
    const int rc = Step(where.get());
    if (rc == SQLITE_DONE) RaiseTableNotFound(table);
    if (rc != SQLITE_ROW) RaiseSqlite(db, rc, Operation::Read);
    schema = reinterpret_cast<const char*>(sqlite3_column_text(where.get(), 0));
    info->name = reinterpret_cast<const char*>(sqlite3_column_text(where.get(), 1));
  }
  {
    Statement lookup(db, "SELECT sql FROM " + Quote(schema) + ".sqlite_master WHERE type = 'table' AND name = ?1");
    sqlite3_bind_text(lookup.get(), 1, info->name.data(), static_cast<int>(info->name.size()), SQLITE_TRANSIENT);
    const int rc = Step(lookup.get());
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) RaiseSqlite(db, rc, Operation::Read);
    if (rc == SQLITE_ROW) {
      if (auto* sql = sqlite3_column_text(lookup.get(), 0)) normalizedSql = NormalizeDdl(reinterpret_cast<const char*>(sql));
    }
  }
  Statement columns(db, "SELECT name, type, \"notnull\", dflt_value, pk FROM pragma_table_info(?1, ?2)");
  sqlite3_bind_text(columns.get(), 1, info->name.data(), static_cast<int>(info->name.size()), SQLITE_TRANSIENT);
  sqlite3_bind_text(columns.get(), 2, schema.data(), static_cast<int>(schema.size()), SQLITE_TRANSIENT);
  int primaryKeyColumns = 0;
  int rc;
  while ((rc = Step(columns.get())) == SQLITE_ROW) {
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
