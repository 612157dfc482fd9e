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

#include "AccessBacked.h"
#include "Sqlite.h"
#include "TableInfo.h"

namespace pendra::dao::detail {

// The result columns of one SELECT text and what the layer needs to write
// back through it. Shared with the recordsets opened on it, and owning its
// statements, so that a recordset stays valid when the connection forgets
// its shapes after a schema change.
struct QueryShape {
  std::unique_ptr<Statement> select;
  int firstColumn = 0;                      // 1 when column 0 is the rowid
  // A dynaset whose `select` yields the rowids only: a row's values are
  // read by `fetch` when first needed, as a keyset-driven dynaset does.
  // Most dynasets are opened to write one row, which then is never read.
  bool keysOnly = false;
  std::unique_ptr<Statement> fetch;         // SELECT * ... WHERE _rowid_ = ?
  std::vector<std::string> names;           // result columns
  std::vector<FieldType> types;             // read conversion per column
  std::shared_ptr<const TableInfo> table;   // set when rows can be written
  int Find(std::string_view name) const;

  // AddNew's starting row, prepared on first use: defaults written as
  // literals are evaluated once; any other default (a clock, a function)
  // has its own statement and is evaluated when it is shown.
  bool defaultsReady = false;
  std::vector<Variant> defaultRow;
  std::vector<std::unique_ptr<Statement>> deferredDefault;   // per column, or null
  std::vector<std::unique_ptr<Statement>> counterNext;       // per COUNTER column, or null
  void PrepareDefaults(sqlite3* db);

  // INSERT/UPDATE statements by the set of columns they write, built on
  // first use so that the many AddNew/Update of a job build no SQL text.
  // The last one used is tried first: a job writes the same columns again.
  struct Writer {
    std::vector<char> columns;
    std::unique_ptr<Statement> statement;
  };
  std::vector<Writer> inserts;
  std::vector<Writer> updates;
  size_t lastInsert = 0;
  size_t lastUpdate = 0;

  // Fields(name): folded name -> index, with the column after the last
  // one found tried first (jobs assign the columns in table order).
  struct FoldedHash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const;
  };
  struct FoldedEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const { return SameName(a, b); }
  };
  std::unordered_map<std::string, int, FoldedHash, FoldedEqual> byName;
  std::vector<char> firstOfName;   // the column is the first with its name
  mutable size_t nextGuess = 0;
  void IndexNames();
};

// A default value as AddNew shows it: as the column's type when it
// converts, else as evaluated.
Variant DefaultValue(sqlite3_stmt* stmt, int index, const ColumnInfo& column);

// "pendra_<level>": the name of a nested transaction level's savepoint.
std::string SavepointName(int level);

struct Connection {
  sqlite3* db = nullptr;
  std::string name;
  int transactionDepth = 0;   // BeginTrans levels this file has joined
  // Set when the file is a genuine Access database served through a
  // private SQLite copy (AccessBacked.h).
  std::unique_ptr<AccessSide> access;
  int attached = 0;           // files attached to the connection so far

  ~Connection();
  bool IsOpen() const { return db != nullptr; }
  // Raises 3420 when the database was closed.
  void RequireOpen() const;
  // A prepared statement kept for the life of the connection.
  Statement& Cached(const std::string& sql);
  std::shared_ptr<const TableInfo> Table(std::string_view table);
  std::shared_ptr<QueryShape> Shape(std::string_view statement, int type);
  // SAVEPOINT / RELEASE / ROLLBACK TO of a nested transaction level.
  Statement& Savepoint(int level);
  Statement& Release(int level);
  Statement& RollbackTo(int level);
  // Runs a statement that writes rows. Outside a transaction, a write to an
  // Access file is a transaction of its own, written back at once.
  void Write(Statement& statement, Operation operation);
  // Rolls back what is pending, finalizes everything, closes the file.
  void Close();
  // Forget statements and shapes after the schema changed.
  void ForgetSchema();

  std::unordered_map<std::string, std::unique_ptr<Statement>> statements;
  std::unordered_map<std::string, std::shared_ptr<const TableInfo>> tables;
  std::unordered_map<std::string, std::shared_ptr<QueryShape>> shapes;
  // The shape used last, found again without building its key: a job
  // opens the same statement once per record.
  std::string lastShapeKey;
  std::shared_ptr<QueryShape> lastShape;
  std::vector<Statement*> savepoints, releases, rollbacks;   // by level

 private:
  std::shared_ptr<QueryShape> MakeShape(std::string_view statement, int type);
  Statement& Nested(std::vector<Statement*>& cache, int level, const char* verb);
};

}  // namespace pendra::dao::detail
