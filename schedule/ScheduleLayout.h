// Where the schedule database lies and where each of its two tables stands
// in the schedule workbook. Both directions of the exchange take every sheet
// name, row, column, fallback and statement from here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/BasePath.h"
#include "core/Variant.h"

namespace pendra::schedule {

// One exchanged column: its name in the table, its column in the sheet
// (1 = A), and for tested columns the value stored in place of a cell value
// that is not numeric.
struct ColumnLayout {
  std::string name;
  int16_t workbookColumn;
  std::optional<Variant> fallback;
};

struct TableLayout {
  std::string table;   // also the sheet's name
  std::vector<ColumnLayout> columns;
  std::string emptyStatement;
  std::string selectStatement;

  const std::string& sheet() const { return table; }
};

// The template's window, as the workbook output shows it before the macros.
inline constexpr const char* kTemplateWindow = "Pendra_原紙.xls";

// Data starts below the header row.
inline constexpr int16_t kFirstDataRow = 2;
// A sheet's table ends at the first row whose cell in this column is empty.
inline constexpr int16_t kEndOfTableColumn = 1;

const TableLayout& GroupMasterLayout();
const TableLayout& KikiMasterLayout();

// Both tables in the order the jobs transfer them.
const std::vector<const TableLayout*>& ScheduleTables();

}  // namespace pendra::schedule
