#include "DataPage.h"

#include <string>

namespace pendra::jet {

std::vector<RowSlot> RowSlots(const JetFile& file, uint32_t page) {
  const std::string_view bytes = file.Page(page);
  const Layout& l = file.layout();
  if (static_cast<uint8_t>(bytes[0]) != kDataPage)
    RaiseDamaged(file.path(), "ページ " + std::to_string(page) + " はデータページではありません");
  const size_t count = Le16(bytes, l.dataRowCount);
  if (l.dataRowTable + 2 * count > bytes.size())
    RaiseDamaged(file.path(), "ページ " + std::to_string(page) + " の行の数が正しくありません");
  std::vector<RowSlot> slots;
  slots.reserve(count);
  size_t end = bytes.size();
  for (size_t i = 0; i < count; ++i) {
    const uint32_t raw = Le16(bytes, l.dataRowTable + 2 * i);
    RowSlot slot;
    slot.deleted = (raw & kDeletedRow) != 0;
    slot.overflow = (raw & kOverflowRow) != 0;
    slot.start = raw & kRowOffsetMask;
    slot.end = end;
    // A deleted row may have given its bytes up; only live rows must fit.
    if (!slot.deleted && (slot.start < l.dataRowTable + 2 * count || slot.start > end))
      RaiseDamaged(file.path(), "ページ " + std::to_string(page) + " の行 " + std::to_string(i) + " の位置が正しくありません");
    if (slot.start <= end) end = slot.start;
    slots.push_back(slot);
  }
  return slots;
}

namespace {

std::string_view RowIn(const JetFile& file, uint32_t page, const std::vector<RowSlot>& slots, uint32_t row) {
  // Usage maps and the targets of overflow pointers are kept in rows marked
  // deleted, so that scans of the page's table pass them by.
  const size_t first = file.layout().dataRowTable + 2 * slots.size();
  if (row >= slots.size() || slots[row].start < first || slots[row].start > slots[row].end)
    RaiseDamaged(file.path(), "ページ " + std::to_string(page) + " に行 " + std::to_string(row) + " がありません");
  return file.Page(page).substr(slots[row].start, slots[row].end - slots[row].start);
}

}  // namespace

std::string_view RowAt(const JetFile& file, uint32_t pointer) {
  return RowIn(file, pointer >> 8, RowSlots(file, pointer >> 8), pointer & 0xFF);
}

std::string_view RowsByPage::At(uint32_t pointer) {
  const uint32_t page = pointer >> 8;
  if (page != page_) {
    slots_ = RowSlots(file_, page);
    page_ = page;
  }
  return RowIn(file_, page, slots_, pointer & 0xFF);
}

uint32_t OwnerOf(const JetFile& file, uint32_t page) { return Le32(file.Page(page), 4); }

bool IsLongValuePage(const JetFile& file, uint32_t page) { return file.Page(page).substr(4, 4) == "LVAL"; }

}  // namespace pendra::jet
