#include "PageWriter.h"

#include <algorithm>
#include <cstring>

#include "DataPage.h"

namespace pendra::jet {

namespace {

// The row's page and its place on it (a map is rewritten where it is).
size_t RowOffset(const JetFile& file, uint32_t pointer, size_t& length) {
  const std::string_view row = RowAt(file, pointer);
  length = row.size();
  return static_cast<size_t>(row.data() - file.Page(pointer >> 8).data());
}

}  // namespace

uint32_t PageAllocator::Take() {
  uint32_t page;
  if (!free_.empty()) {
    page = *free_.begin();
    free_.erase(free_.begin());
  } else {
    page = file_.PageCount();
    file_.AppendPage();
  }
  std::fill_n(file_.PageBytes(page), file_.PageSize(), '\0');
  return page;
}

void PageAllocator::GiveBack(uint32_t page) {
  std::fill_n(file_.PageBytes(page), file_.PageSize(), '\0');
  free_.insert(page);
}

DataPageWriter::DataPageWriter(JetFile& file, PageAllocator& pages, uint32_t owner, bool longValues)
    : file_(file), allocator_(pages), owner_(owner), longValues_(longValues) {}

// The format's own limits: 4060 bytes for a table row, 4076 for a row of a
// long value (a page less its header and one row offset, less a margin).
size_t DataPageWriter::MaxRow() const { return longValues_ ? 4076 : 4060; }

void DataPageWriter::NewPage() {
  const uint32_t page = allocator_.Take();
  char* b = file_.PageBytes(page);
  b[0] = static_cast<char>(kDataPage);
  b[1] = 0x01;
  PutLe16(b, 2, static_cast<uint32_t>(file_.PageSize() - file_.layout().dataRowTable));
  if (longValues_) {
    std::copy_n("LVAL", 4, b + 4);
  } else {
    PutLe32(b, 4, owner_);
  }
  pages_.push_back(page);
}

size_t DataPageWriter::FreeSpace(uint32_t page) const { return Le16(file_.Page(page), 2); }

uint32_t DataPageWriter::Add(std::string_view row) {
  const Layout& l = file_.layout();
  constexpr uint32_t kMaxRowsPerPage = 255;
  if (pages_.empty() || FreeSpace(pages_.back()) < row.size() + 2 ||
      Le16(file_.Page(pages_.back()), l.dataRowCount) >= kMaxRowsPerPage)
    NewPage();
  const uint32_t page = pages_.back();
  char* b = file_.PageBytes(page);
  const uint32_t count = Le16(b, l.dataRowCount);
  const size_t end = count == 0 ? file_.PageSize() : (Le16(b, l.dataRowTable + 2 * size_t{count - 1}) & kRowOffsetMask);
  const size_t start = end - row.size();
  std::memcpy(b + start, row.data(), row.size());
  PutLe16(b, l.dataRowTable + 2 * size_t{count}, static_cast<uint32_t>(start));
  PutLe16(b, l.dataRowCount, count + 1);
  PutLe16(b, 2, static_cast<uint32_t>(FreeSpace(page) - row.size() - 2));
  return page << 8 | count;
}

void WriteUsageMap(JetFile& file, uint32_t pointer, const std::set<uint32_t>& pages, const std::function<uint32_t()>& allocate) {
  size_t length = 0;
  const size_t at = RowOffset(file, pointer, length);
  char* b = file.PageBytes(pointer >> 8);
  if (length < 5) RaiseDamaged(file.path(), "使用状況マップの行が短すぎます");
  const auto type = static_cast<uint8_t>(b[at]);
  if (type == 0) {
    const uint32_t capacity = static_cast<uint32_t>((length - 5) * 8);
    uint32_t first = Le32(b, at + 1);
    const bool fits = pages.empty() || (*pages.rbegin() - *pages.begin() < capacity);
    if (fits) {
      if (!pages.empty() && (*pages.begin() < first || *pages.rbegin() >= first + capacity)) first = *pages.begin();
      PutLe32(b, at + 1, first);
      std::fill_n(b + at + 5, length - 5, '\0');
      for (uint32_t page : pages) b[at + 5 + (page - first) / 8] = static_cast<char>(b[at + 5 + (page - first) / 8] | (1 << ((page - first) % 8)));
      return;
    }
    // Too wide for the row: the same row becomes a reference map.
    b[at] = 1;
    std::fill_n(b + at + 1, length - 1, '\0');
  }
  const uint32_t perMapPage = static_cast<uint32_t>((file.PageSize() - 4) * 8);
  const size_t slots = (length - 1) / 4;
  const uint32_t needed = pages.empty() ? 0 : *pages.rbegin() / perMapPage + 1;
  if (needed > slots) RaiseDamaged(file.path(), "使用状況マップがファイルの大きさに足りません");
  for (size_t slot = 0; slot < slots; ++slot) {
    uint32_t mapPage = Le32(b, at + 1 + 4 * slot);
    const bool used = std::any_of(pages.begin(), pages.end(), [&](uint32_t p) { return p / perMapPage == slot; });
    if (mapPage == 0 && !used) continue;
    if (mapPage == 0) {
      mapPage = allocate();
      b = file.PageBytes(pointer >> 8);  // the file may have grown, and moved
      PutLe32(b, at + 1 + 4 * slot, mapPage);
    }
    char* map = file.PageBytes(mapPage);
    std::fill_n(map, file.PageSize(), '\0');
    map[0] = static_cast<char>(kUsageMapPage);
    map[1] = 0x01;
    for (uint32_t page : pages) {
      if (page / perMapPage != slot) continue;
      const uint32_t bit = page % perMapPage;
      map[4 + bit / 8] = static_cast<char>(map[4 + bit / 8] | (1 << (bit % 8)));
    }
  }
}

}  // namespace pendra::jet
