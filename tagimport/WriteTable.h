// What the tag master update writes into M_TAG for positions 2 to 25 of a
// record: the column, and the value when the field is empty. A present
// field (any text but the empty one, blanks included) is written as its
// text and the database converts it to the column's type; "有効桁" goes
// through the display-digits rule instead.
#pragma once

#include <array>
#include <string_view>

#include "MasterCsvRecord.h"
#include "core/Variant.h"

namespace pendra::tagimport {

struct WriteColumn {
  int position;            // 2 to 25
  std::string_view column; // the name under which M_TAG is written
  enum class WhenEmpty { EmptyText, Zero, MaxDefault, One, True, DigitsDefault } whenEmpty;
};

// Positions 2 to 25 in the order of writing.
extern const std::array<WriteColumn, 24> kWriteTable;

// The column written from position 1 when a row is added.
inline constexpr std::string_view kTagColumn = "Tag";

// The value written for one column of the table, from the record.
Variant ColumnValue(const WriteColumn& column, const MasterCsvRecord& record);

// The display-digits rule: the file writes "X" where the stored format has
// its integer "0". Only the five formats written exactly that way (same
// letters, same case) pass; anything else, the empty text included, is "0".
std::string_view DisplayDigits(std::string_view fieldText);

}  // namespace pendra::tagimport
