// One table row as stored: the column count, the fixed-length data, the
// variable-length data with its offset table, and the null mask at the end
// (a set bit: not Null; for Yes/No columns the bit is the value). Jet 3 uses
// one-byte counts and offsets (with a table of 256-byte jumps), Jet 4 and
// ACE two-byte ones. A table without variable-length columns (the count
// of them in its definition is 0) keeps rows without that section: no
// offsets and no count, the null mask right after the fixed data.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "TableDefinition.h"

namespace pendra::jet {

struct StoredField {
  bool null = true;
  bool yes = false;          // Yes/No: the value
  std::string_view bytes;    // fixed: the column's bytes; variable: its data
};

class StoredRow {
 public:
  // Raises 3049 when the row's own tables do not fit its bytes. Without the
  // table, the row is taken to have a variable-length section.
  StoredRow(const JetFile& file, std::string_view row);
  StoredRow(const JetFile& file, std::string_view row, const TableDefinition& table);
  StoredField Field(const Column& column) const;

 private:
  StoredRow(const JetFile& file, std::string_view row, bool variableSection);

  const JetFile& file_;
  std::string_view row_;
  size_t columnCount_ = 0;
  std::string_view nullMask_;
  std::vector<size_t> varOffsets_;  // variable-column starts, then the end
};

}  // namespace pendra::jet
