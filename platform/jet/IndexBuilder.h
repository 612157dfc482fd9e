// A real index built from scratch: its entries sorted by key and row, packed
// into leaf pages (each page's shared key prefix written once), then node
// levels over them until one page holds the root. A node page lists each
// child but the last by the child's last entry; the last child is its tail
// page. Pages of one level are chained through their previous and next
// fields.
#pragma once

#include <vector>

#include "IndexTree.h"
#include "PageWriter.h"
#include "TableDefinition.h"

namespace pendra::jet {

struct BuiltIndex {
  uint32_t root = 0;
  uint32_t distinctKeys = 0;
  std::vector<uint32_t> pages;
};

// Writes the pages of the index (entries sorted here) and returns its root.
BuiltIndex BuildIndex(JetFile& file, PageAllocator& pages, uint32_t tablePage, std::vector<IndexEntry> entries);

}  // namespace pendra::jet
