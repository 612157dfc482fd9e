#include "Connection.h"
#include "StatementTime.h"

#include "core/AsciiText.h"
#include "core/Fnv1a.h"
#include "core/PlatformError.h"
#include "FieldType.h"
#include "SchemaText.h"

namespace pendra::dao::detail {

namespace {

// The shape of a statement whose rows are read only.
std::shared_ptr<QueryShape> ReadOnlyShape(sqlite3* db, std::string_view statement) {
  auto shape = std::make_shared<QueryShape>();
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

size_t QueryShape::FoldedHash::operator()(std::string_view name) const {
  std::uint64_t hash = kFnv1aOffset;
  for (char c : name) hash = Fnv1aStep(hash, static_cast<unsigned char>(AsciiLower(c)));
  return static_cast<size_t>(hash);
}

void QueryShape::IndexNames() {
  // The first of two equal names wins, as with the engine's Fields.
  firstOfName.assign(names.size(), 0);
  for (size_t i = 0; i < names.size(); ++i)
    firstOfName[i] = static_cast<char>(byName.emplace(FoldName(names[i]), static_cast<int>(i)).second);
}

int QueryShape::Find(std::string_view name) const {
  const size_t guess = nextGuess;
  if (guess < names.size() && firstOfName[guess] && SameName(names[guess], name)) {
    nextGuess = guess + 1;
    return static_cast<int>(guess);
  }
  auto it = byName.find(name);
  if (it == byName.end()) return -1;
  nextGuess = static_cast<size_t>(it->second) + 1;
  return it->second;
}

void QueryShape::PrepareDefaults(sqlite3* db) {
  const auto& columns = table->columns;
  const size_t count = columns.size();
  std::vector<Variant> row(count, Variant::Null());
  std::vector<std::unique_ptr<Statement>> deferred(count);
  std::vector<std::unique_ptr<Statement>> counters(count);
  std::string literals;
  std::vector<size_t> literalColumns;
  for (size_t i = 0; i < count; ++i) {
    const ColumnInfo& column = columns[i];
    if (column.spec.type == FieldType::Counter) {
      counters[i] = std::make_unique<Statement>(
          db, "SELECT max(coalesce(max(" + Quote(column.name) + "), 0), coalesce(?1, 0)) + 1 FROM " + Quote(table->name));
    }
    if (column.defaultSql.empty()) continue;
    if (IsLiteral(column.defaultSql)) {
      literals += (literals.empty() ? "SELECT (" : ", (") + column.defaultSql + ")";
      literalColumns.push_back(i);
    } else {
      deferred[i] = std::make_unique<Statement>(db, "SELECT (" + column.defaultSql + ")");
    }
  }
  if (!literals.empty()) {
    Statement select(db, literals);
    if (Step(select.get()) == SQLITE_ROW) {
      for (size_t k = 0; k < literalColumns.size(); ++k) {
        const ColumnInfo& column = columns[literalColumns[k]];
        row[literalColumns[k]] = DefaultValue(select.get(), static_cast<int>(k), column);
      }
    }
  }
  defaultRow = std::move(row);
  deferredDefault = std::move(deferred);
  counterNext = std::move(counters);
  defaultsReady = true;
}

Variant DefaultValue(sqlite3_stmt* stmt, int index, const ColumnInfo& column) {
  // A default is shown as the column's type when it converts, else as
  // evaluated.
  Variant value = ReadStored(stmt, index, FieldType::Variant);
  try {
    return ConvertForColumn(value, column.spec, column.qualified);
  } catch (const PlatformError&) {
    return value;
  }
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

std::shared_ptr<QueryShape> Connection::Shape(std::string_view statement, int type) {
  const char typeMark = static_cast<char>('0' + type);
  if (lastShape && lastShapeKey.size() == statement.size() + 1 && lastShapeKey[0] == typeMark &&
      std::string_view(lastShapeKey).substr(1) == statement)
    return lastShape;
  std::string key;
  key.reserve(statement.size() + 1);
  key += typeMark;
  key += statement;
  auto it = shapes.find(key);
  if (it == shapes.end()) it = shapes.emplace(key, MakeShape(statement, type)).first;
  lastShapeKey = std::move(key);
  lastShape = it->second;
  return lastShape;
}

std::shared_ptr<QueryShape> Connection::MakeShape(std::string_view statement, int type) {
  std::shared_ptr<QueryShape> shape;
  SingleTableSelect parts;
  if (type == 2 && SplitSelectStar(statement, parts)) {
    // A dynaset keeps each row's rowid, so that Edit/Update reach exactly
    // the row it stands on, with or without a primary key.
    auto table = Table(parts.table);
    shape = std::make_shared<QueryShape>();
    try {
      // The rowids alone (often from the index, without reading the row);
      // the values come from the row by its rowid when they are read.
      shape->select = std::make_unique<Statement>(db, "SELECT _rowid_ FROM " + parts.spelled + parts.rest);
      shape->keysOnly = true;
    } catch (const PlatformError&) {
      // A statement that needs the columns in its result (ORDER BY 2):
      // rowids and rows read together, as they come.
      try {
        shape->select = std::make_unique<Statement>(db, "SELECT _rowid_, * FROM " + parts.spelled + parts.rest);
      } catch (const PlatformError& error) {
        if (error.Number() != err::kTooFewParameters) throw;
        shape.reset();   // no rowid (a view or WITHOUT ROWID table): read only
      }
    }
    if (shape) {
      shape->fetch = std::make_unique<Statement>(db, "SELECT * FROM " + Quote(table->name) + " WHERE _rowid_ = ?");
      const int columns = static_cast<int>(table->columns.size());
      if (sqlite3_column_count(shape->fetch->get()) != columns ||
          (!shape->keysOnly && sqlite3_column_count(shape->select->get()) != columns + 1))
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
  shape->IndexNames();
  return shape;
}

Statement& Connection::Savepoint(int level) { return Nested(savepoints, level, "SAVEPOINT "); }
Statement& Connection::Release(int level) { return Nested(releases, level, "RELEASE "); }
Statement& Connection::RollbackTo(int level) { return Nested(rollbacks, level, "ROLLBACK TO "); }

Statement& Connection::Nested(std::vector<Statement*>& cache, int level, const char* verb) {
  const auto at = static_cast<size_t>(level);
  if (cache.size() <= at) cache.resize(at + 1, nullptr);
  if (!cache[at]) cache[at] = &Cached(verb + SavepointName(level));
  return *cache[at];
}

void Connection::Write(Statement& statement, Operation operation) {
  if (!access || transactionDepth > 0) {
    statement.Run(operation);
    return;
  }
  BeginAccessWrite(*this);
  try {
    Cached("BEGIN IMMEDIATE").Run(Operation::Transaction);
    statement.Run(operation);
    WriteBackAccess(*this);
    Cached("COMMIT").Run(Operation::Transaction);
  } catch (...) {
    if (!sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    EndAccessWrite(*this);
    throw;
  }
  EndAccessWrite(*this);
}

std::string SavepointName(int level) { return "pendra_" + std::to_string(level); }

void Connection::ForgetSchema() {
  lastShape.reset();
  lastShapeKey.clear();
  savepoints.clear();
  releases.clear();
  rollbacks.clear();
  shapes.clear();
  tables.clear();
  statements.clear();
}

void Connection::Close() {
  if (!db) return;
  ForgetSchema();
  if (!sqlite3_get_autocommit(db)) Exec(db, "ROLLBACK");
  sqlite3_close_v2(db);
  db = nullptr;
  transactionDepth = 0;
}

}  // namespace pendra::dao::detail
