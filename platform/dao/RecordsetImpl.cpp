#include "RecordsetImpl.h"

#include <algorithm>

#include "core/PlatformError.h"

namespace pendra::dao::detail {

RecordsetImpl::RecordsetImpl(std::shared_ptr<Connection> connection, QueryShape& shape, int type,
                             const std::vector<Variant>& parameters)
    : connection_(std::move(connection)),
      shape_(&shape),
      updatable_(type == dbOpenDynaset && shape.table != nullptr) {
  Statement& select = *shape.select;
  sqlite3_stmt* stmt = select.get();
  if (sqlite3_bind_parameter_count(stmt) != static_cast<int>(parameters.size())) {
    Raise(err::kTooFewParameters, "パラメーターが少なすぎます。" +
                                      std::to_string(sqlite3_bind_parameter_count(stmt)) + " を指定してください。");
  }
  try {
    for (size_t i = 0; i < parameters.size(); ++i) BindStored(stmt, static_cast<int>(i) + 1, parameters[i]);
    const int columns = static_cast<int>(shape.types.size());
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      Row row;
      if (shape.firstColumn == 1) row.rowid = sqlite3_column_int64(stmt, 0);
      row.values.reserve(static_cast<size_t>(columns));
      for (int i = 0; i < columns; ++i) row.values.push_back(ReadStored(stmt, i + shape.firstColumn, shape.types[i]));
      rows_.push_back(std::move(row));
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

Variant RecordsetImpl::GetValue(int index) {
  RequireOpen();
  if (mode_ != Mode::None) return buffer_[static_cast<size_t>(index)];
  if (position_ >= rows_.size()) Raise(err::kNoCurrentRecord);
  return rows_[position_].values[static_cast<size_t>(index)];
}

void RecordsetImpl::SetValue(int index, const Variant& value) {
  RequireOpen();
  if (!updatable_) Raise(err::kRecordsetNotUpdatable);
  if (mode_ == Mode::None) Raise(err::kUpdateWithoutAddNew);
  const auto i = static_cast<size_t>(index);
  const ColumnInfo& column = shape_->table->columns[i];
  // Converted first: a refused value leaves the buffer as it was.
  buffer_[i] = ConvertForColumn(value, column.spec, column.qualified);
  changed_[i] = true;
}

void RecordsetImpl::AddNew() {
  RequireUpdatable();
  const TableInfo& table = *shape_->table;
  const size_t count = table.columns.size();
  buffer_.assign(count, Variant::Null());
  changed_.assign(count, false);

  // The new row starts from the table's defaults, evaluated now, as the
  // engine shows them right after AddNew.
  if (!shape_->defaults) {
    std::string defaults;
    for (const auto& column : table.columns)
      defaults += (defaults.empty() ? "SELECT (" : ", (") + (column.defaultSql.empty() ? "NULL" : column.defaultSql) + ")";
    shape_->defaults = &connection_->Cached(defaults);
  }
  Statement& select = *shape_->defaults;
  if (sqlite3_step(select.get()) == SQLITE_ROW) {
    for (size_t i = 0; i < count; ++i) {
      const ColumnInfo& column = table.columns[i];
      if (column.defaultSql.empty()) continue;
      Variant value = ReadStored(select.get(), static_cast<int>(i), FieldType::Variant);
      try {
        buffer_[i] = ConvertForColumn(value, column.spec, column.qualified);
      } catch (const PlatformError&) {
        buffer_[i] = std::move(value);
      }
    }
  }
  select.Reset();

  // COUNTER columns are numbered here, one past the highest so far.
  for (size_t i = 0; i < count; ++i) {
    const ColumnInfo& column = table.columns[i];
    if (column.spec.type != FieldType::Counter) continue;
    Statement& next = connection_->Cached("SELECT coalesce(max(" + Quote(column.name) + "), 0) + 1 FROM " +
                                          Quote(table.name));
    if (sqlite3_step(next.get()) == SQLITE_ROW) {
      buffer_[i] = Variant(static_cast<int32_t>(sqlite3_column_int64(next.get(), 0)));
      changed_[i] = true;
    }
    next.Reset();
  }
  mode_ = Mode::Add;
}

void RecordsetImpl::Edit() {
  RequireUpdatable();
  if (position_ >= rows_.size()) Raise(err::kNoCurrentRecord);
  buffer_ = rows_[position_].values;
  changed_.assign(buffer_.size(), false);
  mode_ = Mode::Edit;
}

void RecordsetImpl::Update(int /*updateType*/, bool /*force*/) {
  RequireOpen();
  if (mode_ == Mode::None) Raise(err::kUpdateWithoutAddNew);
  const TableInfo& table = *shape_->table;
  for (size_t i = 0; i < table.columns.size(); ++i) {
    const ColumnInfo& column = table.columns[i];
    if (column.notNull && buffer_[i].IsNull() && !(mode_ == Mode::Add && column.rowidAlias)) {
      Raise(err::kFieldRequired,
            "フィールド '" + column.qualified + "' には値が必要です。このフィールドに値を入力してください。");
    }
  }
  if (mode_ == Mode::Add) Insert(); else Store();
  mode_ = Mode::None;
}

void RecordsetImpl::Insert() {
  const TableInfo& table = *shape_->table;
  // Only the assigned columns are written; SQLite fills the others with
  // their defaults itself.
  Statement*& cached = shape_->inserts[changed_];
  if (!cached) {
    std::string names, values;
    int bound = 0;
    for (size_t i = 0; i < table.columns.size(); ++i) {
      if (!changed_[i]) continue;
      names += (bound ? ", " : "") + Quote(table.columns[i].name);
      values += bound ? ", ?" : "?";
      ++bound;
    }
    cached = &connection_->Cached(bound ? "INSERT INTO " + Quote(table.name) + " (" + names + ") VALUES (" + values + ")"
                                        : "INSERT INTO " + Quote(table.name) + " DEFAULT VALUES");
  }
  Statement& insert = *cached;
  int parameter = 0;
  for (size_t i = 0; i < table.columns.size(); ++i)
    if (changed_[i]) BindStored(insert.get(), ++parameter, buffer_[i]);
  insert.Run(Operation::RowWrite);

  Row row;
  row.rowid = sqlite3_last_insert_rowid(connection_->db);
  for (size_t i = 0; i < table.columns.size(); ++i)
    if (table.columns[i].rowidAlias && buffer_[i].IsNull()) buffer_[i] = Variant(static_cast<int32_t>(row.rowid));
  row.values = std::move(buffer_);
  // The added row joins the end of the dynaset; the current row stays.
  const bool atEnd = position_ >= rows_.size();
  rows_.push_back(std::move(row));
  if (atEnd) position_ = rows_.size();
}

void RecordsetImpl::Store() {
  const TableInfo& table = *shape_->table;
  if (std::find(changed_.begin(), changed_.end(), true) != changed_.end()) {
    Statement*& cached = shape_->updates[changed_];
    if (!cached) {
      std::string assignments;
      for (size_t i = 0; i < table.columns.size(); ++i) {
        if (!changed_[i]) continue;
        assignments += (assignments.empty() ? "" : ", ") + Quote(table.columns[i].name) + " = ?";
      }
      cached = &connection_->Cached("UPDATE " + Quote(table.name) + " SET " + assignments + " WHERE _rowid_ = ?");
    }
    Statement& update = *cached;
    int parameter = 0;
    for (size_t i = 0; i < table.columns.size(); ++i)
      if (changed_[i]) BindStored(update.get(), ++parameter, buffer_[i]);
    sqlite3_bind_int64(update.get(), ++parameter, rows_[position_].rowid);
    update.Run(Operation::RowWrite);
    if (sqlite3_changes(connection_->db) == 0) Raise(err::kRecordIsDeleted);
  }
  rows_[position_].values = std::move(buffer_);
}

void RecordsetImpl::Close() {
  RequireOpen();
  closed_ = true;
  mode_ = Mode::None;   // an edit not yet stored is dropped
  buffer_.clear();
  rows_.clear();
}

}  // namespace pendra::dao::detail
