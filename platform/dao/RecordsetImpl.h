// The recordset of an open database: its rows are read when it opens (a
// dynaset with each row's rowid), the current row is an index into them,
// and AddNew/Edit work on a copy of a row until Update stores it.
#pragma once

#include <memory>
#include <vector>

#include "Connection.h"
#include "dao/Dao.h"

namespace pendra::dao::detail {

struct Row {
  sqlite3_int64 rowid = 0;
  std::vector<Variant> values;
};

class RecordsetImpl final : public Recordset {
 public:
  RecordsetImpl(std::shared_ptr<Connection> connection, QueryShape& shape, int type,
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
  void Insert();
  void Store();

  std::shared_ptr<Connection> connection_;
  QueryShape* shape_;
  bool updatable_;
  bool closed_ = false;
  std::vector<Row> rows_;
  size_t position_ = 0;
  Mode mode_ = Mode::None;
  std::vector<Variant> buffer_;
  std::vector<bool> changed_;
};

}  // namespace pendra::dao::detail
