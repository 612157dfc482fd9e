// Worksheet.Cells(row, column).Value: buffered writes, block reads.
#include "ExcelInternal.h"

namespace pendra::excel {

namespace {
// LibreOffice Calc's sheet size; rows above 32767 cannot be named anyway.
constexpr int16_t kLastColumn = 1024;
}  // namespace

Worksheet::Worksheet(std::shared_ptr<SheetState> sheet) : sheet_(std::move(sheet)) {}

Range Worksheet::Cells(int16_t row, int16_t column) {
  if (row < 1 || column < 1 || column > kLastColumn) {
    Raise(err::kApplicationDefined, StandardDescription(err::kApplicationDefined) + " (セル (" +
                                        std::to_string(row) + ", " + std::to_string(column) +
                                        ") はシートの外です)");
  }
  return Range(sheet_, row, column);
}

Range::Range(std::shared_ptr<SheetState> sheet, int16_t row, int16_t column)
    : sheet_(std::move(sheet)), row_(row), column_(column) {}

void Range::SetValue(const Variant& value) {
  // Checked per call, as a call per cell would fail at this very cell.
  sheet_->document->EnsureAlive();
  sheet_->data->cells.Write(row_, column_, CellValueFor(value));
}

Variant Range::Value() const {
  DocumentState& document = *sheet_->document;
  document.EnsureAlive();
  document.FlushAll();
  return sheet_->data->cells.Read(row_, column_);
}

}  // namespace pendra::excel
