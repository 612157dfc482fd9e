#include "RowLayout.h"

#include "core/AccessType.h"

namespace pendra::jet {

StoredRow::StoredRow(const JetFile& file, std::string_view row) : StoredRow(file, row, true) {}

StoredRow::StoredRow(const JetFile& file, std::string_view row, const TableDefinition& table) : StoredRow(file, row, table.varColumns > 0) {}

StoredRow::StoredRow(const JetFile& file, std::string_view row, bool variableSection) : file_(file), row_(row) {
  file.Touch(row);
  const bool jet3 = file.IsJet3();
  const auto bad = [&] { RaiseDamaged(file.path(), "行の形が正しくありません"); };
  const size_t countSize = jet3 ? 1 : 2;
  if (row.size() < countSize) bad();
  columnCount_ = jet3 ? static_cast<uint8_t>(row[0]) : Le16(row, 0);
  const size_t maskSize = (columnCount_ + 7) / 8;
  if (maskSize + countSize + (variableSection ? countSize : 0) > row.size()) bad();
  nullMask_ = row.substr(row.size() - maskSize);
  const size_t beforeMask = row.size() - maskSize;
  if (!variableSection) {
    // Only fixed data: every column's value lies before the mask.
    row_ = row.substr(0, beforeMask);
  } else if (jet3) {
    const size_t varCount = static_cast<uint8_t>(row[beforeMask - 1]);
    size_t jumps = (row.size() - 1) / 256;
    const size_t lastEnd = row.size() - 1;  // the row's last byte, as the jump table counts
    if (lastEnd < maskSize + jumps + 1) bad();
    const size_t tableEnd = lastEnd - maskSize - jumps - 1;  // the first variable offset's byte
    if (tableEnd < varCount) bad();
    // A last jump that lies beyond the offsets is only a placeholder.
    if ((tableEnd - varCount) / 256 < jumps) --jumps;
    size_t used = 0;
    for (size_t i = 0; i <= varCount; ++i) {
      while (used < jumps && i == static_cast<uint8_t>(row[lastEnd - maskSize - used - 1])) ++used;
      varOffsets_.push_back(static_cast<uint8_t>(row[tableEnd - i]) + used * 256);
    }
  } else {
    const size_t varCount = Le16(row, beforeMask - 2);
    if (beforeMask < 2 + 2 * (varCount + 1) + 2) bad();
    for (size_t i = 0; i <= varCount; ++i) varOffsets_.push_back(Le16(row, beforeMask - 2 - 2 * (i + 1)));
  }
  for (size_t i = 0; i < varOffsets_.size(); ++i)
    if (varOffsets_[i] > row.size() || (i > 0 && varOffsets_[i] < varOffsets_[i - 1])) bad();
}

StoredField StoredRow::Field(const Column& column) const {
  StoredField field;
  const auto n = static_cast<size_t>(column.number);
  const bool bit = n < columnCount_ && (static_cast<uint8_t>(nullMask_[n / 8]) & (1u << (n % 8))) != 0;
  if (column.type == static_cast<int>(AccessType::YesNo)) {
    field.null = false;
    field.yes = bit;
    return field;
  }
  if (!bit) return field;
  if (column.IsFixed()) {
    const size_t at = file_.layout().rowCountSize + static_cast<size_t>(column.fixedOffset);
    const auto size = static_cast<size_t>(column.length);
    if (at + size > row_.size()) RaiseDamaged(file_.path(), "行の固定長の値が行の外です");
    field.bytes = row_.substr(at, size);
  } else {
    const auto index = static_cast<size_t>(column.varIndex);
    if (index + 1 >= varOffsets_.size()) return field;  // a column added after the row was written
    field.bytes = row_.substr(varOffsets_[index], varOffsets_[index + 1] - varOffsets_[index]);
  }
  field.null = false;
  return field;
}

}  // namespace pendra::jet
