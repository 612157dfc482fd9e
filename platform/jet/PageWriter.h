// Changing a file's pages in memory: taking pages for new content (free
// pages first, lowest number first, then new pages at the end of the file),
// writing data pages and rows, and rewriting usage maps in place.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "JetFile.h"
#include "UsageMap.h"

namespace pendra::jet {

class PageAllocator {
 public:
  PageAllocator(JetFile& file, std::set<uint32_t> free) : file_(file), free_(std::move(free)) {}
  // A page for new content, zeroed.
  uint32_t Take();
  // Pages still free (for the file's free-page map).
  const std::set<uint32_t>& Free() const { return free_; }
  void GiveBack(uint32_t page);

 private:
  JetFile& file_;
  std::set<uint32_t> free_;
};

// Rows laid out on data pages, each page filled before the next is taken.
// `owner` goes in each page's owner field (a table definition page), or the
// pages are long-value pages ("LVAL").
class DataPageWriter {
 public:
  DataPageWriter(JetFile& file, PageAllocator& pages, uint32_t owner, bool longValues);
  // Adds a row; returns its pointer (page << 8 | row number).
  uint32_t Add(std::string_view row);
  const std::vector<uint32_t>& Pages() const { return pages_; }
  // The free bytes left on a page this writer filled.
  size_t FreeSpace(uint32_t page) const;
  // The largest row a page can take.
  size_t MaxRow() const;

 private:
  void NewPage();

  JetFile& file_;
  PageAllocator& allocator_;
  uint32_t owner_;
  bool longValues_;
  std::vector<uint32_t> pages_;
};

// Rewrites the map whose row the pointer names so that it marks exactly
// `pages`: an inline map keeps its row when the pages fit its range, and
// otherwise becomes a reference map in the same row (its map pages taken
// from `allocate`). Raises 3049 when the row is too short for any map.
void WriteUsageMap(JetFile& file, uint32_t pointer, const std::set<uint32_t>& pages,
                   const std::function<uint32_t()>& allocate);

}  // namespace pendra::jet
