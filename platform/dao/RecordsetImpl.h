// The recordset of an open database. A snapshot reads its rows when it
// opens. A dynaset reads the rowids of its rows when it opens and a row's
// values when one of them is first read (a dynaset opened to write a row
// never reads it); the current row is an index into them, and AddNew/Edit
// collect the assigned values until Update stores them.
#pragma once

#include <memory>
#include <vector>

#include "Connection.h"
#include "dao/Dao.h"

namespace pendra::dao::detail {

struct Row {
  sqlite3_int64 rowid = 0;
  bool loaded = false;          // values read (always, for a snapshot)
  std::vector<Variant> values;
};

class RecordsetImpl final : public Recordset {
 public:
  RecordsetImpl(std::shared_ptr<Connection> connection, std::shared_ptr<QueryShape> shape, int type,
                const std::vector<Variant>& parameters);

  bool Eof() override;
  void MoveNext() override;
  void AddNew() override;
  void Edit() override;
  void Update(int updateType, bool force) override;
  void Close() override;
  Field Fields(std::string_view name) override;
  long RecordCount() override;

 protected:
  Variant GetValue(int index) override;
  void SetValue(int index, const Variant& value) override;
  std::string ColumnName(int index) override;

 private:
  enum class Mode { None, Edit, Add };
  void RequireOpen() const;
  void RequireUpdatable() const;
  // The values of the current row, read from the file on first use; 3167
  // when the row has been deleted since the dynaset opened.
  const std::vector<Variant>& Current();
  void Load(Row& row);
  void Insert();
  void Store();
  // A default that changes (the clock), evaluated as it is shown.
  Variant EvaluateDefault(Statement& select, const ColumnInfo& column);
  // The number AddNew gives a COUNTER column.
  Variant NextCounter(Statement& next);

  std::shared_ptr<Connection> connection_;
  std::shared_ptr<QueryShape> shape_;
  bool updatable_;
  bool closed_ = false;
  std::vector<Row> rows_;
  size_t position_ = 0;
  Mode mode_ = Mode::None;
  // Add: the new row (defaults, then the assigned values). Edit: the
  // assigned values; the others are the row's own.
  std::vector<Variant> buffer_;
  std::vector<char> changed_;   // per column: assigned since AddNew/Edit
  // Add: columns whose default is evaluated when it is first shown (or by
  // SQLite when the row is stored without it).
  std::vector<char> deferred_;
};

}  // namespace pendra::dao::detail
