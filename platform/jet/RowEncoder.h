// One row of values in the stored layout of a Jet 4 / ACE table (see
// RowLayout.h): the column count, the fixed-length values at their offsets,
// the variable-length values with their offset table, the null mask. Memo
// and OLE values are long values: up to 64 bytes inside the row, up to one
// page's row on a long-value page, longer ones as a chain of such rows.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "PageWriter.h"
#include "TableDefinition.h"
#include "core/Variant.h"

namespace pendra::jet {

class RowEncoder {
 public:
  // longValues gives the writer of a long-value column's pages, by column number.
  using LongValueWriters = std::function<DataPageWriter&(int columnNumber)>;
  RowEncoder(const JetFile& file, const TableDefinition& table, LongValueWriters longValues);
  // The row's bytes. Raises 3163 for a text longer than its column, 6 for a
  // number out of its column's range, 13 for a value of the wrong kind,
  // 3421 for a column type we do not write; `row` names the row for them.
  std::string Encode(const std::vector<Variant>& values, long row);

 private:
  std::string Fixed(const Column& column, const Variant& value) const;
  std::string Variable(const Column& column, const Variant& value);
  std::string LongValue(const Column& column, const std::string& data);

  const JetFile& file_;
  const TableDefinition& table_;
  LongValueWriters longValues_;
  size_t fixedSize_ = 0;
  int varCount_ = 0;
};

// Whether a column's values can be written by RowEncoder.
bool IsWritableType(int type);

}  // namespace pendra::jet
