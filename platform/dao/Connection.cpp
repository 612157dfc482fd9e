#include "Connection.h"

#include "core/PlatformError.h"

namespace pendra::dao::detail {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool StartsWithWord(std::string_view text, size_t at, std::string_view word) {
  if (text.size() - at < word.size()) return false;
  if (!SameName(text.substr(at, word.size()), word)) return false;
  const size_t end = at + word.size();
  return end == text.size() || IsBlank(text[end]) || text[end] == '*' || text[end] == '(';
}

size_t SkipBlanks(std::string_view text, size_t at) {
  while (at < text.size() && IsBlank(text[at])) ++at;
  return at;
}

// "SELECT * FROM <table> <rest>" with one table: the table's spelling in
// the statement, its plain name, and the rest (WHERE, ORDER BY).
struct SingleTableSelect {
  std::string spelled;
  std::string table;
  std::string rest;
};

bool SplitSelectStar(std::string_view sql, SingleTableSelect& out) {
  size_t at = SkipBlanks(sql, 0);
  if (!StartsWithWord(sql, at, "SELECT")) return false;
  at = SkipBlanks(sql, at + 6);
  if (at >= sql.size() || sql[at] != '*') return false;
  at = SkipBlanks(sql, at + 1);
  if (!StartsWithWord(sql, at, "FROM")) return false;
  at = SkipBlanks(sql, at + 4);
  if (at >= sql.size()) return false;
  const size_t start = at;
  const char open = sql[at];
  if (open == '"' || open == '[' || open == '`') {
    const char close = open == '[' ? ']' : open;
    for (++at; at < sql.size(); ++at) {
      if (sql[at] == close) {
        if (close == '"' && at + 1 < sql.size() && sql[at + 1] == '"') {
          out.table += '"';
          ++at;
          continue;
        }
        break;
      }
      out.table += sql[at];
    }
    if (at >= sql.size()) return false;
    ++at;
  } else {
    while (at < sql.size() && !IsBlank(sql[at]) && sql[at] != ';' && sql[at] != ',' && sql[at] != '(' &&
           sql[at] != ')')
      ++at;
    out.table = std::string(sql.substr(start, at - start));
  }
  out.spelled = std::string(sql.substr(start, at - start));
  out.rest = std::string(sql.substr(at));
  // Joins and table lists make rows that belong to no single table.
  const size_t next = SkipBlanks(sql, at);
  if (next < sql.size() &&
      (sql[next] == ',' || StartsWithWord(sql, next, "JOIN") || StartsWithWord(sql, next, "NATURAL") ||
       StartsWithWord(sql, next, "LEFT") || StartsWithWord(sql, next, "INNER") ||
       StartsWithWord(sql, next, "CROSS") || StartsWithWord(sql, next, "AS")))
    return false;
  return !out.table.empty();
}

// The shape of a statement whose rows are read only.
std::unique_ptr<QueryShape> ReadOnlyShape(sqlite3* db, std::string_view statement) {
  auto shape = std::make_unique<QueryShape>();
  shape->select = std::make_unique<Statement>(db, statement);
  sqlite3_stmt* stmt = shape->select->get();
  if (sqlite3_column_count(stmt) == 0 || !sqlite3_stmt_readonly(stmt)) Raise(err::kInvalidOperation);
  for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
    shape->names.emplace_back(sqlite3_column_name(stmt, i));
    const char* declared = sqlite3_column_decltype(stmt, i);
    shape->types.push_back(ParseDeclaredType(declared ? declared : "").type);
  }
  return shape;
}

}  // namespace

int QueryShape::Find(std::string_view name) const {
  auto it = byName.find(FoldName(name));
  return it == byName.end() ? -1 : it->second;
}

Connection::~Connection() { Close(); }

void Connection::RequireOpen() const {
  if (!IsOpen()) Raise(err::kObjectInvalid);
}

Statement& Connection::Cached(const std::string& sql) {
  auto it = statements.find(sql);
  if (it == statements.end()) it = statements.emplace(sql, std::make_unique<Statement>(db, sql)).first;
  return *it->second;
}

std::shared_ptr<const TableInfo> Connection::Table(std::string_view table) {
  std::string key = FoldName(table);
  auto it = tables.find(key);
  if (it == tables.end()) it = tables.emplace(std::move(key), LoadTableInfo(db, table)).first;
  return it->second;
}

QueryShape& Connection::Shape(std::string_view statement, int type) {
  std::string key;
  key.reserve(statement.size() + 2);
  key += static_cast<char>('0' + type);
  key += statement;
  auto it = shapes.find(key);
  if (it != shapes.end()) return *it->second;

  std::unique_ptr<QueryShape> shape;
  SingleTableSelect parts;
  if (type == 2 && SplitSelectStar(statement, parts)) {
    // A dynaset keeps each row's rowid, so that Edit/Update reach exactly
    // the row it stands on, with or without a primary key.
    auto table = Table(parts.table);
    shape = std::make_unique<QueryShape>();
    try {
      shape->select = std::make_unique<Statement>(db, "SELECT _rowid_, * FROM " + parts.spelled + parts.rest);
    } catch (const PlatformError& error) {
      if (error.Number() != err::kTooFewParameters) throw;
      shape.reset();   // no rowid (a view or WITHOUT ROWID table): read only
    }
    if (shape) {
      sqlite3_stmt* stmt = shape->select->get();
      if (sqlite3_column_count(stmt) != static_cast<int>(table->columns.size()) + 1)
        Raise(err::kInvalidOperation);
      shape->firstColumn = 1;
      for (const auto& column : table->columns) {
        shape->names.push_back(column.name);
        shape->types.push_back(column.spec.type);
      }
      shape->table = std::move(table);
    }
  }
  if (!shape) shape = ReadOnlyShape(db, statement);
  // The first of two equal names wins, as with the engine's Fields.
  for (size_t i = 0; i < shape->names.size(); ++i) shape->byName.emplace(FoldName(shape->names[i]), static_cast<int>(i));
  return *shapes.emplace(std::move(key), std::move(shape)).first->second;
}

void Connection::ForgetSchema() {
  shapes.clear();
  tables.clear();
  statements.clear();
}

void Connection::Close() {
  if (!db) return;
  ForgetSchema();
  if (!sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close_v2(db);
  db = nullptr;
  transactionDepth = 0;
}

}  // namespace pendra::dao::detail
