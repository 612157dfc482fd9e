// DBEngine, the default workspace with its transactions, the Database, and
// Field's forwarding to its recordset.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>

#include "Connection.h"
#include "RecordsetImpl.h"
#include "SchemaText.h"
#include "StatementTime.h"
#include "core/PlatformError.h"
#include "dao/Dao.h"

namespace pendra::dao {

using detail::Connection;
using detail::Operation;
using detail::FieldType;

Variant Field::Value() const { return owner_->GetValue(index_); }
void Field::SetValue(const Variant& value) { owner_->SetValue(index_, value); }
std::string Field::Name() const { return owner_->ColumnName(index_); }

namespace {

// A lock held by another program is waited for this long, then reported.
constexpr int kBusyTimeoutMs = 2000;

class WorkspaceImpl;

class DatabaseImpl final : public Database {
 public:
  DatabaseImpl(WorkspaceImpl& workspace, std::shared_ptr<Connection> connection)
      : workspace_(&workspace), connection_(std::move(connection)) {}
  ~DatabaseImpl() override;

  void Execute(std::string_view statement) override;
  std::unique_ptr<Recordset> OpenRecordset(std::string_view statement, int type) override {
    return OpenRecordset(statement, type, {});
  }
  std::unique_ptr<Recordset> OpenRecordset(std::string_view statement, int type,
                                           const std::vector<Variant>& parameters) override;
  void Close() override;
  const std::string& Name() const override { return connection_->name; }
  std::vector<FieldDef> TableDefFields(std::string_view table) override;
  sqlite3* Handle() override { return connection_->db; }
  void Attach(const std::string& path) override;

 private:
  WorkspaceImpl* workspace_;
  std::shared_ptr<Connection> connection_;
};

// Transactions span every database open in the workspace. The outer level
// is BEGIN IMMEDIATE, so that another writer's lock shows at BeginTrans
// (after the bounded wait), not in the middle of a job; nested levels are
// savepoints named by their depth.
class WorkspaceImpl final : public Workspace {
 public:
  std::unique_ptr<Database> OpenDatabase(const std::string& path) override;
  void BeginTrans() override;
  void CommitTrans() override;
  void Rollback() override;

  std::unique_ptr<Database> Joined(std::shared_ptr<Connection> connection);

  void Forget(Connection* connection) {
    open_.erase(std::remove(open_.begin(), open_.end(), connection), open_.end());
  }

 private:
  static void Begin(Connection& connection, int level) {
    if (level == 0 && connection.access) BeginAccessWrite(connection);
    try {
      (level == 0 ? connection.Cached("BEGIN IMMEDIATE") : connection.Savepoint(level)).Run(Operation::Transaction);
    } catch (...) {
      if (level == 0 && connection.access) EndAccessWrite(connection);
      throw;
    }
    connection.transactionDepth = level + 1;
  }

  int depth_ = 0;
  std::vector<Connection*> open_;
};

[[noreturn]] void FileNotFound(const std::string& path) {
  Raise(err::kDatabaseFileNotFound, "ファイル '" + path + "' が見つかりません。");
}

[[noreturn]] void UnrecognizedFormat(const std::string& path, const std::string& why = "") {
  Raise(err::kUnrecognizedFormat, "データベースの形式 '" + path + "' を認識できません。" + why);
}

// An SQLite database file opens as itself, a genuine Access (.mdb/.accdb)
// file through its private copy (AccessBacked.h); an empty file, a text
// file or anything else is refused before SQLite sees it, so that nothing
// is ever created or rewritten. True for an Access file.
bool CheckDatabaseFile(const std::string& path) {
  if (path.empty()) FileNotFound(path);
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    if (errno == EACCES) Raise(err::kCannotOpenFile);
    FileNotFound(path);
  }
  if (S_ISDIR(info.st_mode)) Raise(err::kNotValidPath, "'" + path + "' は正しいパスではありません。");
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) Raise(err::kCannotOpenFile, "ファイル '" + path + "' を開けません。" + std::strerror(errno));
  char header[32] = {};
  const size_t read = std::fread(header, 1, sizeof header, file);
  std::fclose(file);
  if (read >= 16 && std::memcmp(header, "SQLite format 3", 16) == 0) return false;
  const std::string_view signature(header + 4, read >= 19 ? 15 : 0);
  if (signature == "Standard Jet DB" || signature == "Standard ACE DB") return true;
  UnrecognizedFormat(path);
}

// Reading the schema proves the file is a database and that no other
// program holds it exclusively.
void CheckSchemaReadable(Connection& connection, const std::string& schema, const std::string& path) {
  if (Exec(connection.db, ("SELECT count(*) FROM " + schema + ".sqlite_master").c_str()) == SQLITE_OK) return;
  const int code = sqlite3_extended_errcode(connection.db);
  if ((code & 0xFF) == SQLITE_BUSY || (code & 0xFF) == SQLITE_LOCKED)
    Raise(err::kFileInUse, "ファイル '" + path + "' は既に使用されているため、使用できませんでした。");
  if ((code & 0xFF) == SQLITE_NOTADB || (code & 0xFF) == SQLITE_CORRUPT) UnrecognizedFormat(path);
  detail::RaiseSqlite(nullptr, code, Operation::Read);
}

// The journal mode of one file of the connection ("delete", "wal", ...).
std::string JournalMode(Connection& connection, const std::string& schema) {
  detail::Statement mode(connection.db, "PRAGMA " + schema + ".journal_mode");
  if (Step(mode.get()) != SQLITE_ROW) detail::RaiseSqlite(connection.db, sqlite3_extended_errcode(connection.db), Operation::Read);
  const auto* text = sqlite3_column_text(mode.get(), 0);
  return text ? reinterpret_cast<const char*>(text) : "";
}

std::unique_ptr<Database> WorkspaceImpl::OpenDatabase(const std::string& path) {
  if (CheckDatabaseFile(path)) return Joined(detail::OpenAccessBacked(path));
  auto connection = std::make_shared<Connection>();
  connection->name = path;
  // READWRITE without CREATE: never makes a file. No URI parsing: the path
  // is taken literally. NOMUTEX: a connection is used by one thread only.
  const int rc = sqlite3_open_v2(path.c_str(), &connection->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    const int code = connection->db ? sqlite3_extended_errcode(connection->db) : rc;
    sqlite3_close_v2(connection->db);
    connection->db = nullptr;
    if ((code & 0xFF) == SQLITE_CANTOPEN) FileNotFound(path);
    detail::RaiseSqlite(nullptr, code, Operation::Read);
  }
  sqlite3_extended_result_codes(connection->db, 1);
  sqlite3_busy_timeout(connection->db, kBusyTimeoutMs);
  BoundStatementTime(connection->db);
  try {
    CheckSchemaReadable(*connection, "main", path);
  } catch (...) {
    connection->Close();
    throw;
  }
  return Joined(std::move(connection));
}

std::unique_ptr<Database> WorkspaceImpl::Joined(std::shared_ptr<Connection> connection) {
  // A database opened inside a transaction joins it at the current depth.
  try {
    for (int level = 0; level < depth_; ++level) Begin(*connection, level);
  } catch (...) {
    connection->Close();
    throw;
  }
  open_.push_back(connection.get());
  return std::make_unique<DatabaseImpl>(*this, std::move(connection));
}

void WorkspaceImpl::BeginTrans() {
  std::vector<Connection*> begun;
  try {
    for (Connection* connection : open_) {
      Begin(*connection, depth_);
      begun.push_back(connection);
    }
  } catch (...) {
    // All or none: undo the level on the files that already took it.
    for (Connection* connection : begun) {
      if (depth_ == 0) {
        Exec(connection->db, "ROLLBACK");
      } else {
        const std::string name = detail::SavepointName(depth_);
        std::string undo = "ROLLBACK TO " + name;
        undo += "; RELEASE " + name;
        Exec(connection->db, undo.c_str());
      }
      connection->transactionDepth = depth_;
    }
    throw;
  }
  ++depth_;
}

void WorkspaceImpl::CommitTrans() {
  if (depth_ == 0) Raise(err::kCommitWithoutBegin);
  // Access files are written back before any database commits, so a
  // refusal there leaves every database of the transaction as it was.
  if (depth_ == 1)
    for (Connection* connection : open_)
      if (connection->access && connection->transactionDepth >= 1) detail::WriteBackAccess(*connection);
  for (Connection* connection : open_) {
    if (connection->transactionDepth < depth_) continue;   // already done
    if (depth_ == 1 && sqlite3_get_autocommit(connection->db)) {
      // SQLite ended the transaction itself after a failure (disk full,
      // I/O error): what it held is gone, which the caller must hear of.
      connection->transactionDepth = 0;
      Raise(err::kDiskIO, StandardDescription(err::kDiskIO) + " (transaction rolled back)");
    }
    (depth_ == 1 ? connection->Cached("COMMIT") : connection->Release(depth_ - 1)).Run(Operation::Transaction);
    connection->transactionDepth = depth_ - 1;
    if (depth_ == 1 && connection->access) detail::EndAccessWrite(*connection);
  }
  --depth_;
}

void WorkspaceImpl::Rollback() {
  if (depth_ == 0) Raise(err::kCommitWithoutBegin);
  for (Connection* connection : open_) {
    if (connection->transactionDepth < depth_) continue;
    if (depth_ == 1) {
      if (!sqlite3_get_autocommit(connection->db)) connection->Cached("ROLLBACK").Run(Operation::Transaction);
      if (connection->access) detail::EndAccessWrite(*connection);
    } else {
      connection->RollbackTo(depth_ - 1).Run(Operation::Transaction);
      connection->Release(depth_ - 1).Run(Operation::Transaction);
    }
    connection->transactionDepth = depth_ - 1;
  }
  --depth_;
}

std::vector<FieldDef> DatabaseImpl::TableDefFields(std::string_view table) {
  auto info = connection_->Table(table);
  std::vector<FieldDef> fields;
  for (const auto& column : info->columns) {
    FieldDef field;
    field.Name = column.name;
    switch (column.spec.type) {
      case FieldType::YesNo: field.Type = dbBoolean; break;
      case FieldType::Byte: field.Type = dbByte; break;
      case FieldType::Short: field.Type = dbInteger; break;
      case FieldType::Long: case FieldType::Counter: field.Type = dbLong; break;
      case FieldType::Currency: field.Type = dbCurrency; break;
      case FieldType::Single: field.Type = dbSingle; break;
      case FieldType::Double: field.Type = dbDouble; break;
      case FieldType::DateTime: field.Type = dbDate; break;
      case FieldType::Text: field.Type = dbText; break;
      case FieldType::Memo: field.Type = dbMemo; break;
      case FieldType::Variant: field.Type = 0; break;
    }
    field.Size = column.spec.type == FieldType::Text ? column.spec.size : 0;
    field.Required = column.notNull;
    field.AllowZeroLength = column.spec.allowZeroLength;
    fields.push_back(std::move(field));
  }
  return fields;
}

DatabaseImpl::~DatabaseImpl() {
  if (connection_->IsOpen()) {
    workspace_->Forget(connection_.get());
    connection_->Close();   // rolls back what a transaction left pending
  }
}

void DatabaseImpl::Close() {
  connection_->RequireOpen();
  workspace_->Forget(connection_.get());
  connection_->Close();
}

void DatabaseImpl::Attach(const std::string& path) {
  connection_->RequireOpen();
  // SQLite attaches only outside a transaction.
  if (connection_->transactionDepth > 0) Raise(err::kInvalidOperation);
  // Files are changed together only in this engine's own format: a genuine
  // Access file is written whole, on its own.
  if (connection_->access || CheckDatabaseFile(path))
    Raise(err::kInvalidOperation, "'" + (connection_->access ? connection_->name : path) +
                                      "' は Access 形式のデータベースのため、もう一方のデータベースとまとめて変更できません。");
  const std::string schema = "attached_" + std::to_string(++connection_->attached);
  {
    // The path is bound, never pasted into the text: taken literally.
    detail::Statement attach(connection_->db, "ATTACH DATABASE ?1 AS " + schema);
    sqlite3_bind_text(attach.get(), 1, path.c_str(), -1, SQLITE_TRANSIENT);
    try {
      attach.Run(Operation::Read);
    } catch (const PlatformError& error) {
      if (error.Number() == err::kCannotOpenFile) FileNotFound(path);
      throw;
    }
  }
  try {
    CheckSchemaReadable(*connection_, schema, path);
    // One commit is all or none across files only with a rollback journal:
    // in WAL mode each file commits on its own.
    for (const std::string& file : {std::string("main"), schema}) {
      if (JournalMode(*connection_, file) == "wal")
        Raise(err::kInvalidOperation, "データベース '" + (file == "main" ? connection_->name : path) +
                                          "' は WAL モードのため、もう一方のデータベースとまとめて変更できません。");
    }
    // A table name both files hold would reach only this database's table.
    detail::Statement clash(connection_->db,
                            "SELECT a.name FROM " + schema + ".sqlite_master AS a, main.sqlite_master AS m "
                            "WHERE a.type IN ('table', 'view') AND m.type IN ('table', 'view') "
                            "AND a.name = m.name COLLATE NOCASE LIMIT 1");
    if (Step(clash.get()) == SQLITE_ROW) {
      Raise(err::kInvalidOperation, "テーブル " + std::string(reinterpret_cast<const char*>(sqlite3_column_text(clash.get(), 0))) +
                                        " が '" + connection_->name + "' と '" + path + "' の両方にあります。");
    }
  } catch (...) {
    Exec(connection_->db, ("DETACH DATABASE " + schema).c_str());
    throw;
  }
  connection_->ForgetSchema();
}

void DatabaseImpl::Execute(std::string_view statement) {
  connection_->RequireOpen();
  detail::Statement& stmt = connection_->Cached(std::string(statement));
  if (sqlite3_stmt_readonly(stmt.get()) && sqlite3_column_count(stmt.get()) > 0) Raise(err::kCannotExecuteSelect);
  const bool changesSchema = sqlite3_column_count(stmt.get()) == 0 && !sqlite3_stmt_readonly(stmt.get()) &&
                             detail::ChangesSchema(statement);
  if (connection_->access && changesSchema)
    Raise(err::kInvalidOperation, "Access のデータベース '" + connection_->name + "' の設計は変更できません。");
  connection_->Write(stmt, Operation::Execute);
  if (changesSchema) connection_->ForgetSchema();
}

std::unique_ptr<Recordset> DatabaseImpl::OpenRecordset(std::string_view statement, int type,
                                                       const std::vector<Variant>& parameters) {
  connection_->RequireOpen();
  if (type != dbOpenDynaset && type != dbOpenSnapshot) Raise(err::kInvalidArgument);
  return std::make_unique<detail::RecordsetImpl>(connection_, connection_->Shape(statement, type), type, parameters);
}

}  // namespace

DBEngine::DBEngine() : default_(std::make_unique<WorkspaceImpl>()) {}

DBEngine& DBEngine::Instance() {
  // Created on first use and kept for the whole run.
  static DBEngine engine;
  return engine;
}

Workspace& DBEngine::Workspaces(int16_t index) {
  if (index != 0) Raise(err::kItemNotFound);
  return *default_;
}

}  // namespace pendra::dao
