#include "Sqlite.h"
#include "StatementTime.h"

#include "core/AsciiText.h"
#include "core/PlatformError.h"

namespace pendra::dao::detail {

namespace {

// "no such table: M_TAG" -> "M_TAG"; "NOT NULL constraint failed: T.C" -> "T.C".
std::string After(const std::string& message, std::string_view marker) {
  const auto at = message.find(marker);
  return at == std::string::npos ? std::string() : message.substr(at + marker.size());
}

}  // namespace

void RaiseTableNotFound(std::string_view table) {
  Raise(err::kTableNotFound, "入力テーブルまたはクエリ '" + std::string(table) +
                                 "' が見つかりません。存在していること、"
                                 "および名前のスペルが正しいことを確認してください。");
}

void RaiseFieldRequired(std::string_view qualifiedColumn) {
  Raise(err::kFieldRequired, "フィールド '" + std::string(qualifiedColumn) +
                                 "' には値が必要です。このフィールドに値を入力してください。");
}

[[noreturn]] void RaiseSqlite(sqlite3* db, int rc, Operation operation) {
  const std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  switch (rc & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      if (operation == Operation::RowWrite) Raise(err::kCouldNotUpdateLocked);
      Raise(err::kCouldNotUseLocked);
    case SQLITE_CONSTRAINT:
      switch (rc) {
        case SQLITE_CONSTRAINT_UNIQUE:
        case SQLITE_CONSTRAINT_PRIMARYKEY:
        case SQLITE_CONSTRAINT_ROWID:
          Raise(err::kDuplicateKey);
        case SQLITE_CONSTRAINT_NOTNULL: {
          RaiseFieldRequired(After(message, "failed: "));
        }
        default:
          Raise(err::kValidationRule, StandardDescription(err::kValidationRule) + " (" + message + ")");
      }
    case SQLITE_READONLY:
      Raise(err::kRecordsetNotUpdatable);
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      Raise(err::kUnrecognizedFormat);
    case SQLITE_INTERRUPT:
      RaiseStatementTimeout();   // nothing else interrupts the layer's statements
    case SQLITE_NOMEM:
      Raise(err::kOutOfMemory);
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      Raise(err::kCannotOpenFile);
    case SQLITE_IOERR:
    case SQLITE_FULL:
      Raise(err::kDiskIO, StandardDescription(err::kDiskIO) + " (" + message + ")");
    case SQLITE_ERROR:
      if (auto table = After(message, "no such table: "); !table.empty()) {
        RaiseTableNotFound(table);
      }
      if (auto column = After(message, "no such column: "); !column.empty()) {
        Raise(err::kTooFewParameters, StandardDescription(err::kTooFewParameters) + " ('" + column + "')");
      }
      if (operation == Operation::Transaction) {
        Raise(err::kCommitWithoutBegin, StandardDescription(err::kCommitWithoutBegin) + " (" + message + ")");
      }
      Raise(err::kSyntaxError, StandardDescription(err::kSyntaxError) + " (" + message + ")");
    default:
      Raise(err::kDiskIO, StandardDescription(err::kDiskIO) + " (" + message + ")");
  }
}

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db) {
  const char* tail = nullptr;
  const int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, &tail);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(stmt_);
    RaiseSqlite(db, rc, Operation::Prepare);
  }
  if (stmt_ == nullptr) Raise(err::kSyntaxError, StandardDescription(err::kSyntaxError) + " (empty statement)");
  for (const char* p = tail; p && p < sql.data() + sql.size(); ++p) {
    if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n' && *p != ';') {
      sqlite3_finalize(stmt_);
      stmt_ = nullptr;
      Raise(err::kCharactersAfterEnd);
    }
  }
}

void Statement::Run(Operation operation) {
  const int rc = Step(stmt_);
  if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
    // The statement's own error code is only reliable after reset.
    const int code = sqlite3_extended_errcode(db_);
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    RaiseSqlite(db_, code, operation);
  }
  Reset();
}

std::string Quote(std::string_view identifier) {
  std::string quoted = "\"";
  for (char c : identifier) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string FoldName(std::string_view name) { return AsciiLowered(name); }

bool SameName(std::string_view a, std::string_view b) {
  return a == b || EqualIgnoringAsciiCase(a, b);   // usually spelled as declared
}

}  // namespace pendra::dao::detail
