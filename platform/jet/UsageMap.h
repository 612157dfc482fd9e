// Usage maps: bitmaps of page numbers, kept as a row on a data page. Type 0
// ("inline"): the first page number covered, then the bitmap in the row
// itself, so it covers only as many pages as the row has bits. Type 1
// ("reference"): a list of page numbers of map pages (type 0x05), each
// holding a bitmap over the next (page size - 4) * 8 pages. Each table has
// two (the pages it owns, those of them with free space); page 1 holds the
// file's own map of free pages.
#pragma once

#include <cstdint>
#include <vector>

#include "JetFile.h"

namespace pendra::jet {

struct UsageMap {
  uint32_t pointer = 0;  // where the map's row is
  int type = 0;
  std::vector<uint32_t> pages;     // the pages it marks, ascending
  std::vector<uint32_t> mapPages;  // a reference map's own pages
  // An inline map's range: the first page and how many pages it can mark.
  uint32_t firstPage = 0;
  uint32_t capacity = 0;
};

// Reads the map whose row the pointer names; raises 3049 on an unknown type
// or a map page that is not one.
UsageMap ReadUsageMap(const JetFile& file, uint32_t pointer);

inline constexpr uint32_t kGlobalUsageMap = 1u << 8;  // page 1, row 0

}  // namespace pendra::jet
