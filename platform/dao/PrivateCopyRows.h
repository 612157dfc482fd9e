// The rows of a table of the private copy as the Access writer takes them
// back: kept as they lie in the file, or as read, where no statement
// touched them; else as the layer reads them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "jet/TableRewrite.h"
#include "mdb/AccessFile.h"

struct sqlite3_stmt;

namespace pendra::dao::detail {

struct Connection;
struct TableInfo;

class PrivateCopyRows final : public jet::RowSource {
 public:
  PrivateCopyRows(Connection& connection, const std::string& table);

  // With values, the private copy is read on a thread of its own, at
  // most 1024 rows ahead of take, which encodes the rows before meanwhile:
  // the rows in flight are bounded, whatever the table's size.
  void ForEach(const std::function<void(const jet::GivenRow&)>& take, bool withValues) const override;

  // One row as read: kept where it lies, or its values.
  struct Row {
    bool kept = false;
    uint32_t place = 0;
    std::vector<Variant> values;
    jet::GivenRow Given() const { return kept ? jet::GivenRow{nullptr, place} : jet::GivenRow{&values, 0}; }
  };

 private:
  // The statement's next row into row; false after the last.
  bool Next(sqlite3_stmt* stmt, Row& row, bool withValues) const;

  Connection& connection_;
  const std::string table_;
  const std::shared_ptr<const TableInfo> info_;
  const std::vector<uint32_t>& places_;
  const mdb::EncodedRows& original_;
  const std::vector<bool>& touched_;
};

}  // namespace pendra::dao::detail
