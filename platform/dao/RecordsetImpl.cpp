#include "RecordsetImpl.h"
#include "StatementTime.h"

#include <algorithm>

#include "core/PlatformError.h"

namespace pendra::dao::detail {

namespace {

// The statement that writes `columns`, built on first use. The one used
// last is tried first: a job writes the same set of columns row after row.
Statement& FindWriter(std::vector<QueryShape::Writer>& writers, size_t& last, const std::vector<char>& columns,
                  sqlite3* db, const auto& build) {
  if (last < writers.size() && writers[last].columns == columns) return *writers[last].statement;
  for (size_t i = 0; i < writers.size(); ++i) {
    if (writers[i].columns != columns) continue;
    last = i;
    return *writers[i].statement;
  }
  auto statement = std::make_unique<Statement>(db, build());
  writers.push_back({columns, std::move(statement)});
  last = writers.size() - 1;
  return *writers.back().statement;
}

// Steps a statement that yields one value; a failing step (a lock, an
// error the expression raises) is the caller's failure.
template <typename Read>
auto OneValue(Statement& statement, sqlite3* db, const Read& read) {
  sqlite3_stmt* stmt = statement.get();
  const int rc = Step(stmt);
  if (rc != SQLITE_ROW) {
    const int code = rc == SQLITE_DONE ? SQLITE_ERROR : sqlite3_extended_errcode(db);
    statement.Reset();
    RaiseSqlite(db, code, Operation::Read);
  }
  try {
    auto value = read(stmt);
    statement.Reset();
    return value;
  } catch (...) {
    statement.Reset();
    throw;
  }
}

}  // namespace

Variant RecordsetImpl::EvaluateDefault(Statement& select, const ColumnInfo& column) {
  return OneValue(select, connection_->db, [&](sqlite3_stmt* stmt) { return DefaultValue(stmt, 0, column); });
}

Variant RecordsetImpl::NextCounter(Statement& next) {
  // One past the highest so far, and for a genuine Access file past the
  // last number the table ever gave out (numbers of rows deleted are not
  // given again); beyond the LONG range the engine reports an overflow
  // instead of numbering from the negative end.
  sqlite3_int64 floor = 0;
  if (connection_->access) {
    const auto& last = connection_->access->lastAutoNumber;
    const auto found = last.find(shape_->table->name);
    if (found != last.end()) floor = found->second;
  }
  sqlite3_bind_int64(next.get(), 1, floor);
  const sqlite3_int64 number =
      OneValue(next, connection_->db, [](sqlite3_stmt* stmt) { return sqlite3_column_int64(stmt, 0); });
  if (number > INT32_MAX) Raise(err::kOverflow);
  return Variant(static_cast<int32_t>(number));
}

RecordsetImpl::RecordsetImpl(std::shared_ptr<Connection> connection, std::shared_ptr<QueryShape> shape, int type,
                             const std::vector<Variant>& parameters)
    : connection_(std::move(connection)),
      shape_(std::move(shape)),
      updatable_(type == dbOpenDynaset && shape_->table != nullptr) {
  Statement& select = *shape_->select;
  sqlite3_stmt* stmt = select.get();
  if (sqlite3_bind_parameter_count(stmt) != static_cast<int>(parameters.size())) {
    Raise(err::kTooFewParameters, "パラメーターが少なすぎます。" +
                                      std::to_string(sqlite3_bind_parameter_count(stmt)) + " を指定してください。");
  }
  try {
    for (size_t i = 0; i < parameters.size(); ++i) BindStored(stmt, static_cast<int>(i) + 1, parameters[i]);
    const int columns = static_cast<int>(shape_->types.size());
    const bool withValues = !shape_->keysOnly;
    int rc;
    while ((rc = Step(stmt)) == SQLITE_ROW) {
      Row& row = rows_.emplace_back();
      if (shape_->firstColumn == 1) row.rowid = sqlite3_column_int64(stmt, 0);
      if (!withValues) continue;
      row.values.reserve(static_cast<size_t>(columns));
      for (int i = 0; i < columns; ++i)
        row.values.push_back(ReadStored(stmt, i + shape_->firstColumn, shape_->types[i]));
      row.loaded = true;
    }
    if (rc != SQLITE_DONE) {
      const int code = sqlite3_extended_errcode(connection_->db);
      select.Reset();
      RaiseSqlite(connection_->db, code, Operation::Read);
    }
  } catch (...) {
    select.Reset();
    throw;
  }
  select.Reset();
}

void RecordsetImpl::RequireOpen() const {
  if (closed_) Raise(err::kObjectInvalid);
  connection_->RequireOpen();
}

void RecordsetImpl::RequireUpdatable() const {
  RequireOpen();
  if (!updatable_) Raise(err::kRecordsetNotUpdatable);
}

bool RecordsetImpl::Eof() {
  RequireOpen();
  return position_ >= rows_.size();
}

void RecordsetImpl::MoveNext() {
  RequireOpen();
  if (position_ >= rows_.size()) Raise(err::kNoCurrentRecord);
  mode_ = Mode::None;   // moving away drops a pending edit, as the engine does
  ++position_;
}

long RecordsetImpl::RecordCount() {
  RequireOpen();
  return static_cast<long>(rows_.size());
}

Field RecordsetImpl::Fields(std::string_view name) {
  RequireOpen();
  const int index = shape_->Find(name);
  if (index < 0) {
    Raise(err::kItemNotFound, StandardDescription(err::kItemNotFound) + " ('" + std::string(name) + "')");
  }
  return Field(*this, index);
}

std::string RecordsetImpl::ColumnName(int index) { return shape_->names.at(static_cast<size_t>(index)); }

void RecordsetImpl::Load(Row& row) {
  Statement& fetch = *shape_->fetch;
  sqlite3_stmt* stmt = fetch.get();
  sqlite3_bind_int64(stmt, 1, row.rowid);
  const int rc = Step(stmt);
  if (rc != SQLITE_ROW) {
    const int code = sqlite3_extended_errcode(connection_->db);
    fetch.Reset();
    if (rc == SQLITE_DONE) Raise(err::kRecordIsDeleted);
    RaiseSqlite(connection_->db, code, Operation::Read);
  }
  try {
    const size_t columns = shape_->types.size();
    std::vector<Variant> values;
    values.reserve(columns);
    for (size_t i = 0; i < columns; ++i) values.push_back(ReadStored(stmt, static_cast<int>(i), shape_->types[i]));
    row.values = std::move(values);
    row.loaded = true;
  } catch (...) {
    fetch.Reset();
    throw;
  }
  fetch.Reset();
}

const std::vector<Variant>& RecordsetImpl::Current() {
  if (position_ >= rows_.size()) Raise(err::kNoCurrentRecord);
  Row& row = rows_[position_];
  if (!row.loaded) Load(row);
  return row.values;
}

Variant RecordsetImpl::GetValue(int index) {
  RequireOpen();
  const auto i = static_cast<size_t>(index);
  if (mode_ == Mode::Add) {
    if (!changed_[i] && deferred_[i]) {
      // A default that changes (the clock), evaluated as it is shown.
      buffer_[i] = EvaluateDefault(*shape_->deferredDefault[i], shape_->table->columns[i]);
      deferred_[i] = 0;
    }
    return buffer_[i];
  }
  if (mode_ == Mode::Edit && changed_[i]) return buffer_[i];
  return Current()[i];
}

void RecordsetImpl::SetValue(int index, const Variant& value) {
  RequireOpen();
  if (!updatable_) Raise(err::kRecordsetNotUpdatable);
  if (mode_ == Mode::None) Raise(err::kUpdateWithoutAddNew);
  const auto i = static_cast<size_t>(index);
  const ColumnInfo& column = shape_->table->columns[i];
  // Converted first: a refused value leaves the buffer as it was.
  AssignForColumn(buffer_[i], value, column.spec, column.qualified);
  changed_[i] = 1;
}

void RecordsetImpl::AddNew() {
  RequireUpdatable();
  QueryShape& shape = *shape_;
  if (!shape.defaultsReady) shape.PrepareDefaults(connection_->db);
  const TableInfo& table = *shape.table;
  const size_t count = table.columns.size();
  // The new row starts from the table's defaults, as the engine shows them
  // right after AddNew.
  buffer_ = shape.defaultRow;
  changed_.assign(count, 0);
  deferred_.assign(count, 0);
  for (size_t i = 0; i < count; ++i) {
    if (shape.deferredDefault[i]) deferred_[i] = 1;
    // COUNTER columns are numbered here, one past the highest so far.
    if (!shape.counterNext[i]) continue;
    buffer_[i] = NextCounter(*shape.counterNext[i]);
    changed_[i] = 1;
  }
  mode_ = Mode::Add;
}

void RecordsetImpl::Edit() {
  RequireUpdatable();
  if (position_ >= rows_.size()) Raise(err::kNoCurrentRecord);
  const size_t count = shape_->table->columns.size();
  buffer_.assign(count, Variant());
  changed_.assign(count, 0);
  mode_ = Mode::Edit;
}

void RecordsetImpl::Update(int /*updateType*/, bool /*force*/) {
  RequireOpen();
  if (mode_ == Mode::None) Raise(err::kUpdateWithoutAddNew);
  const TableInfo& table = *shape_->table;
  // The columns an edit leaves alone keep the row's values, which the file
  // already holds as valid; a deferred default is SQLite's to evaluate
  // (and to refuse, with the same number, when it gives Null).
  for (size_t i = 0; i < table.columns.size(); ++i) {
    const ColumnInfo& column = table.columns[i];
    if (!column.notNull) continue;
    if (mode_ == Mode::Add && column.rowidAlias) continue;   // SQLite numbers it
    const bool checked = changed_[i] || (mode_ == Mode::Add && !deferred_[i]);
    if (checked && buffer_[i].IsNull()) RaiseFieldRequired(column.qualified);
  }
  if (mode_ == Mode::Add) Insert(); else Store();
  mode_ = Mode::None;
}

void RecordsetImpl::Insert() {
  const TableInfo& table = *shape_->table;
  // Only the assigned columns are written; SQLite fills the others with
  // their defaults itself.
  Statement& insert = FindWriter(shape_->inserts, shape_->lastInsert, changed_, connection_->db, [&] {
    std::string names, values;
    int bound = 0;
    for (size_t i = 0; i < table.columns.size(); ++i) {
      if (!changed_[i]) continue;
      names += (bound ? ", " : "") + Quote(table.columns[i].name);
      values += bound ? ", ?" : "?";
      ++bound;
    }
    return bound ? "INSERT INTO " + Quote(table.name) + " (" + names + ") VALUES (" + values + ")"
                 : "INSERT INTO " + Quote(table.name) + " DEFAULT VALUES";
  });
  int parameter = 0;
  for (size_t i = 0; i < table.columns.size(); ++i)
    if (changed_[i]) BindStored(insert.get(), ++parameter, buffer_[i]);
  connection_->Write(insert, Operation::RowWrite);

  // The added row joins the end of the dynaset, read from the file when it
  // is shown; the current row stays.
  const bool atEnd = position_ >= rows_.size();
  rows_.push_back(Row{sqlite3_last_insert_rowid(connection_->db), false, {}});
  if (atEnd) position_ = rows_.size();
}

void RecordsetImpl::Store() {
  const TableInfo& table = *shape_->table;
  if (std::find(changed_.begin(), changed_.end(), 1) == changed_.end()) return;
  Statement& update = FindWriter(shape_->updates, shape_->lastUpdate, changed_, connection_->db, [&] {
    std::string assignments;
    for (size_t i = 0; i < table.columns.size(); ++i) {
      if (!changed_[i]) continue;
      assignments += (assignments.empty() ? "" : ", ") + Quote(table.columns[i].name) + " = ?";
    }
    return "UPDATE " + Quote(table.name) + " SET " + assignments + " WHERE _rowid_ = ?";
  });
  int parameter = 0;
  for (size_t i = 0; i < table.columns.size(); ++i)
    if (changed_[i]) BindStored(update.get(), ++parameter, buffer_[i]);
  sqlite3_bind_int64(update.get(), ++parameter, rows_[position_].rowid);
  connection_->Write(update, Operation::RowWrite);
  if (sqlite3_changes(connection_->db) == 0) Raise(err::kRecordIsDeleted);
  // A row already read shows the stored values; one not read yet is read
  // from the file when it is shown.
  Row& row = rows_[position_];
  if (row.loaded)
    for (size_t i = 0; i < table.columns.size(); ++i)
      if (changed_[i]) row.values[i] = std::move(buffer_[i]);
}

void RecordsetImpl::Close() {
  RequireOpen();
  closed_ = true;
  mode_ = Mode::None;   // an edit not yet stored is dropped
  buffer_.clear();
  rows_.clear();
}

}  // namespace pendra::dao::detail
