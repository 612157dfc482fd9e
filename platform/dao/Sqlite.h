// Thin ownership and error helpers over the sqlite3 C API, private to the
// database layer.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>

namespace pendra::dao::detail {

// What the failing call was doing; decides the engine number of a lock
// conflict (a refused row write is 3218, anything else 3260).
enum class Operation { Prepare, Read, RowWrite, Execute, Transaction };

// Throws PlatformError for a failed sqlite3 call, with the engine's number.
[[noreturn]] void RaiseSqlite(sqlite3* db, int rc, Operation operation);

// The engine's own errors with the names they are about: 3078 for a table
// that does not exist, 3314 for a required column left Null ("Table.Column").
[[noreturn]] void RaiseTableNotFound(std::string_view table);
[[noreturn]] void RaiseFieldRequired(std::string_view qualifiedColumn);

// A prepared statement, finalized when dropped.
class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql);
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  sqlite3_stmt* get() const { return stmt_; }
  // Ready for the next use: reset, bindings cleared.
  void Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  // Runs a statement that returns no rows; raises on failure.
  void Run(Operation operation);

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

// An identifier in double quotes, inner quotes doubled: column and table
// names go into the SQL the layer builds itself only in this form.
std::string Quote(std::string_view identifier);

// ASCII letters folded to lower case; other bytes (Japanese) unchanged.
// The engine and SQLite both match identifiers this way.
std::string FoldName(std::string_view name);
bool SameName(std::string_view a, std::string_view b);

}  // namespace pendra::dao::detail
