// Data pages (type 0x01): a header, a table of row offsets from the top,
// and the rows themselves packed from the end of the page downwards. A row
// offset carries two flags: 0x8000 the row is deleted, 0x4000 the row is
// only a pointer to where it continues ("overflow"). Rows of tables, usage
// maps and long values all live on such pages.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "JetFile.h"

namespace pendra::jet {

inline constexpr uint8_t kDataPage = 0x01;
inline constexpr uint8_t kUsageMapPage = 0x05;
inline constexpr uint8_t kIndexNodePage = 0x03;
inline constexpr uint8_t kIndexLeafPage = 0x04;
inline constexpr uint16_t kDeletedRow = 0x8000;
inline constexpr uint16_t kOverflowRow = 0x4000;
inline constexpr uint16_t kRowOffsetMask = 0x1FFF;

struct RowSlot {
  bool deleted = false;
  bool overflow = false;
  size_t start = 0;
  size_t end = 0;  // one past the row's last byte
};

// The rows of a data page; raises 3049 when an offset lies outside the page
// or the rows overlap.
std::vector<RowSlot> RowSlots(const JetFile& file, uint32_t page);
// The bytes of one row, given as a pointer (row number in the low byte,
// page above it, as usage maps and long values are addressed).
std::string_view RowAt(const JetFile& file, uint32_t pointer);
// The same for rows asked for page after page (an index built over the
// rows just written): a page's offsets are read once for all its rows,
// where RowAt reads them again for every row. The pages must not change
// while it is used.
class RowsByPage {
 public:
  explicit RowsByPage(const JetFile& file) : file_(file) {}
  std::string_view At(uint32_t pointer);

 private:
  const JetFile& file_;
  uint32_t page_ = ~0U;  // whose offsets slots_ holds (no page has this number)
  std::vector<RowSlot> slots_;
};
// The table definition page a data page belongs to (0 for long-value pages,
// which carry "LVAL" there).
uint32_t OwnerOf(const JetFile& file, uint32_t page);
bool IsLongValuePage(const JetFile& file, uint32_t page);

}  // namespace pendra::jet
