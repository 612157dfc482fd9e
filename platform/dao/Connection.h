// One open database file and everything the layer keeps for it: prepared
// statements by SQL text, table descriptions by table, and the shapes of
// the recordsets opened on it. Shared by the Database and its recordsets,
// so that a recordset outliving its database finds it closed (3420)
// instead of a dangling handle.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Sqlite.h"
#include "TableInfo.h"

namespace pendra::dao::detail {

// The result columns of one SELECT text and what the layer needs to write
// back through it.
struct QueryShape {
  std::unique_ptr<Statement> select;
  int firstColumn = 0;                      // 1 when column 0 is the rowid
  std::vector<std::string> names;           // result columns
  std::vector<FieldType> types;             // read conversion per column
  std::shared_ptr<const TableInfo> table;   // set when rows can be written
  int Find(std::string_view name) const;

  // Filled on first use, so that the many AddNew/Update of a job build no
  // SQL text: the defaults query, and INSERT/UPDATE statements by the set
  // of columns they write.
  Statement* defaults = nullptr;
  std::unordered_map<std::vector<bool>, Statement*> inserts;
  std::unordered_map<std::vector<bool>, Statement*> updates;
  std::unordered_map<std::string, int> byName;   // folded name -> index
};

class Workspace;

struct Connection {
  sqlite3* db = nullptr;
  std::string name;
  int transactionDepth = 0;   // BeginTrans levels this file has joined

  ~Connection();
  bool IsOpen() const { return db != nullptr; }
  // Raises 3420 when the database was closed.
  void RequireOpen() const;
  // A prepared statement kept for the life of the connection.
  Statement& Cached(const std::string& sql);
  std::shared_ptr<const TableInfo> Table(std::string_view table);
  QueryShape& Shape(std::string_view statement, int type);
  // Rolls back what is pending, finalizes everything, closes the file.
  void Close();
  // Forget statements and shapes after the schema changed.
  void ForgetSchema();

  std::unordered_map<std::string, std::unique_ptr<Statement>> statements;
  std::unordered_map<std::string, std::shared_ptr<const TableInfo>> tables;
  std::unordered_map<std::string, std::unique_ptr<QueryShape>> shapes;
};

}  // namespace pendra::dao::detail
