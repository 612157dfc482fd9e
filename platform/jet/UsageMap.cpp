#include "UsageMap.h"

#include <string>

#include "DataPage.h"

namespace pendra::jet {

namespace {

void AddBits(std::string_view bitmap, uint32_t first, uint32_t pageCount, std::vector<uint32_t>& pages) {
  for (size_t i = 0; i < bitmap.size(); ++i) {
    const auto byte = static_cast<uint8_t>(bitmap[i]);
    if (byte == 0) continue;
    for (int bit = 0; bit < 8; ++bit) {
      if ((byte & (1u << bit)) == 0) continue;
      const uint64_t page = first + i * 8 + static_cast<uint64_t>(bit);
      // Bits past the file's end mark pages that do not exist (yet).
      if (page < pageCount) pages.push_back(static_cast<uint32_t>(page));
    }
  }
}

}  // namespace

UsageMap ReadUsageMap(const JetFile& file, uint32_t pointer) {
  UsageMap map;
  map.pointer = pointer;
  const std::string_view row = RowAt(file, pointer);
  if (row.empty()) RaiseDamaged(file.path(), "使用状況マップが空です");
  map.type = static_cast<uint8_t>(row[0]);
  if (map.type == 0) {
    if (row.size() < 5) RaiseDamaged(file.path(), "使用状況マップが短すぎます");
    map.firstPage = Le32(row, 1);
    map.capacity = static_cast<uint32_t>((row.size() - 5) * 8);
    AddBits(row.substr(5), map.firstPage, file.PageCount(), map.pages);
  } else if (map.type == 1) {
    const uint32_t perMapPage = static_cast<uint32_t>((file.PageSize() - 4) * 8);
    for (size_t at = 1, index = 0; at + 4 <= row.size(); at += 4, ++index) {
      const uint32_t mapPage = Le32(row, at);
      if (mapPage == 0) continue;
      const std::string_view bytes = file.Page(mapPage);
      if (static_cast<uint8_t>(bytes[0]) != kUsageMapPage)
        RaiseDamaged(file.path(), "ページ " + std::to_string(mapPage) + " は使用状況マップのページではありません");
      map.mapPages.push_back(mapPage);
      AddBits(bytes.substr(4), static_cast<uint32_t>(index * perMapPage), file.PageCount(), map.pages);
    }
  } else {
    RaiseDamaged(file.path(), "使用状況マップの種類 " + std::to_string(map.type) + " は未知です");
  }
  return map;
}

}  // namespace pendra::jet
