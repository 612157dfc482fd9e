// The database engine as the jobs use it, shaped like DAO: one DBEngine for
// the run, workspace 0, OpenDatabase, Execute, OpenRecordset with dynaset
// (2) and snapshot (4) recordsets, EOF / MoveNext / AddNew / Edit / Fields /
// Update / Close, and workspace transactions. Backed by SQLite files whose
// declared column types use the engine's type names (TEXT(n), MEMO, BYTE,
// SHORT, LONG, SINGLE, DOUBLE, CURRENCY, DATETIME, YESNO, COUNTER); every
// assigned value is converted to its column's type as the engine does.
// Every failure throws PlatformError with the engine's number.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/Variant.h"

struct sqlite3;

namespace pendra::dao {

enum RecordsetTypeEnum : int { dbOpenDynaset = 2, dbOpenSnapshot = 4 };
enum UpdateTypeEnum : int { dbUpdateRegular = 1 };

class Recordset;
class Database;

// The engine's type codes (DataTypeEnum); Access stores the same codes for
// its columns.
enum DataTypeEnum : int {
  dbBoolean = 1, dbByte = 2, dbInteger = 3, dbLong = 4, dbCurrency = 5, dbSingle = 6,
  dbDouble = 7, dbDate = 8, dbText = 10, dbMemo = 12,
};

// One column of a table's design, as TableDefs(name).Fields(i) gives it.
struct FieldDef {
  std::string Name;
  int Type = 0;          // DataTypeEnum; 0 for a column declared with no engine type
  int Size = 0;          // characters, for dbText
  bool Required = false;
  bool AllowZeroLength = true;
};

// One column of the current row (or of the row being added or edited).
class Field {
 public:
  Field(Recordset& owner, int index) : owner_(&owner), index_(index) {}
  Variant Value() const;
  // Converts to the column's type; 3421 / 3163 / 3315 ... on refusal, and
  // the column keeps its value.
  void SetValue(const Variant& value);
  Field& operator=(const Variant& value) { SetValue(value); return *this; }
  std::string Name() const;

 private:
  Recordset* owner_;
  int index_;
};

class Recordset {
 public:
  virtual ~Recordset() = default;
  // EOF: true when there is no current row. Spelled Eof because <cstdio>
  // owns the name EOF as a macro.
  virtual bool Eof() = 0;
  virtual void MoveNext() = 0;
  virtual void AddNew() = 0;
  virtual void Edit() = 0;
  virtual void Update(int updateType = dbUpdateRegular, bool force = false) = 0;
  virtual void Close() = 0;
  // Column by name, letter case ignored; 3265 when there is none.
  virtual Field Fields(std::string_view name) = 0;
  // Rows of the recordset, for progress reports only.
  virtual long RecordCount() = 0;

 protected:
  friend class Field;
  virtual Variant GetValue(int index) = 0;
  virtual void SetValue(int index, const Variant& value) = 0;
  virtual std::string ColumnName(int index) = 0;
};

class Database {
 public:
  virtual ~Database() = default;
  // An action statement ("DELETE FROM GroupMaster").
  virtual void Execute(std::string_view statement) = 0;
  virtual std::unique_ptr<Recordset> OpenRecordset(std::string_view statement, int type) = 0;
  // The same with "?" placeholders bound to the values given: never pasted
  // into the SQL text.
  virtual std::unique_ptr<Recordset> OpenRecordset(std::string_view statement, int type,
                                                   const std::vector<Variant>& parameters) = 0;
  virtual void Close() = 0;
  virtual const std::string& Name() const = 0;
  // The table's columns in order; 3078 when there is no such table.
  virtual std::vector<FieldDef> TableDefFields(std::string_view table) = 0;
  // The SQLite connection, for whole-file operations (backups).
  virtual sqlite3* Handle() = 0;
  // Opens a second database file on this database's connection, so that
  // one commit covers both: SQLite commits the files of one connection all
  // or none (which needs the rollback journal; a file in WAL mode is
  // refused with 3219). The other file's tables are then reached by their
  // names, as this database's are; a name both files hold is refused.
  // Only outside a transaction (3219). Raises as OpenDatabase for a file
  // that is missing, not a database or held by another program.
  virtual void Attach(const std::string& path) = 0;
};

class Workspace {
 public:
  virtual ~Workspace() = default;
  // Opens an existing database file, shared, for reading and writing.
  // Never creates one: 3024 for a missing file or folder, 3343 for a file
  // that is not a database of this engine, 3260/3218 when locked.
  virtual std::unique_ptr<Database> OpenDatabase(const std::string& path) = 0;
  // Transactions over the databases open in this workspace. Nested
  // BeginTrans is a savepoint; Rollback undoes to the innermost BeginTrans.
  // A database dropped or closed inside a transaction rolls it back.
  virtual void BeginTrans() = 0;
  virtual void CommitTrans() = 0;
  virtual void Rollback() = 0;
};

// The file's header names a genuine Access (Jet/ACE) database, which
// OpenDatabase serves through a private copy (see AccessBacked.h).
bool IsAccessFile(const std::string& path);

class DBEngine {
 public:
  static DBEngine& Instance();
  // Item 0 is the default workspace; any other index raises 3265.
  Workspace& Workspaces(int16_t index);

 private:
  DBEngine();
  std::unique_ptr<Workspace> default_;
};

}  // namespace pendra::dao
