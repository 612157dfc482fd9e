#include "WriteTable.h"

#include <cstdint>
#include <string>

namespace pendra::tagimport {

using W = WriteColumn::WhenEmpty;

const std::array<WriteColumn, 24> kWriteTable = {{
    {2, "tag名称", W::EmptyText},
    {3, "有効桁", W::DigitsDefault},
    {4, "最大値", W::MaxDefault},
    {5, "最小値", W::Zero},
    {6, "大項目NO", W::Zero},
    {7, "中項目NO", W::Zero},
    {8, "小項目NO", W::Zero},
    {9, "単位NO", W::Zero},
    {10, "収集種別", W::Zero},
    {11, "TOTAL_FLG", W::True},
    {12, "AVE_FLG", W::True},
    {13, "MAX_FLG", W::True},
    {14, "MIN_FLG", W::True},
    {15, "種別", W::Zero},
    {16, "P種別", W::Zero},
    {17, "パルスMAX", W::EmptyText},
    {18, "換算係数", W::One},
    {19, "A", W::EmptyText},
    {20, "B", W::EmptyText},
    {21, "C", W::EmptyText},
    {22, "D", W::EmptyText},
    {23, "E", W::EmptyText},
    {24, "F", W::EmptyText},
    {25, "CALC", W::EmptyText},
}};

std::string_view DisplayDigits(std::string_view fieldText) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 5> kFormats = {{
      {"X", "0"},
      {"X.0", "0.0"},
      {"X.00", "0.00"},
      {"X.000", "0.000"},
      {"X.0000", "0.0000"},
  }};
  for (const auto& [written, stored] : kFormats) {
    if (fieldText == written) return stored;
  }
  return "0";
}

Variant ColumnValue(const WriteColumn& column, const MasterCsvRecord& record) {
  const std::string& text = record.Field(column.position);
  if (column.whenEmpty == W::DigitsDefault) return std::string(DisplayDigits(text));
  if (!text.empty()) return text;
  // The constants are whole numbers of the 16-bit kind, as literals are.
  switch (column.whenEmpty) {
    case W::Zero: return int16_t{0};
    case W::One: return int16_t{1};
    case W::MaxDefault: return int16_t{999};
    case W::True: return "TRUE";
    case W::EmptyText:
    case W::DigitsDefault: break;
  }
  return std::string();
}

}  // namespace pendra::tagimport
