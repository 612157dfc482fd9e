// Everything the layer learns by reading SQL text: whether a statement
// changes the schema, the table of a single-table "SELECT *", whether a
// column's DEFAULT is a literal, and the zero-length rule of a table's
// DDL. In one place so that blanks, quoting and letter case are skipped the
// same way everywhere.
#pragma once

#include <string>
#include <string_view>

namespace pendra::dao::detail {

// CREATE, ALTER or DROP after any leading blanks: the caches of table
// descriptions and statements must be forgotten after it runs.
bool ChangesSchema(std::string_view statement);

// "SELECT * FROM <table> <rest>" with one table: the table's spelling in
// the statement, its plain name, and the rest (WHERE, ORDER BY).
struct SingleTableSelect {
  std::string spelled;
  std::string table;
  std::string rest;
};
// False for any other statement (columns listed, joins, table lists).
bool SplitSelectStar(std::string_view sql, SingleTableSelect& out);

// A DEFAULT written as a literal: a number, a quoted text, a blob, NULL,
// TRUE or FALSE, possibly in parentheses. Its value never changes, so it
// is evaluated once; anything else (CURRENT_TIMESTAMP, datetime('now'),
// random()) may differ on every row.
bool IsLiteral(std::string_view sql);

// The DDL without blanks and quoting, ASCII letters in lower case, so that
// a constraint can be found however it was spelled.
std::string NormalizeDdl(std::string_view sql);

// A text column refuses zero-length text when its table carries
// CHECK (col <> '') (also written != '' or length(col) > 0): the engine's
// AllowZeroLength = No, which SQLite then also enforces for other clients.
bool RefusesZeroLength(const std::string& normalizedDdl, std::string_view column);

}  // namespace pendra::dao::detail
