// Reading an index's B-tree. Index pages: 0x04 leaf, 0x03 node; a header
// (the table's definition page, the previous and next page of the same
// level, the "tail" page, the length of a prefix all entries on the page
// share), a bitmask marking where each entry ends, then the entries: the
// first in full, the others without the shared prefix. An entry is the key,
// the row's page (3 bytes, big-endian) and row number (1 byte); a node
// entry adds its child page (4 bytes, big-endian) and is the last entry of
// that child. A node's last child may be given only as its tail page.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "TableDefinition.h"

namespace pendra::jet {

struct IndexEntry {
  std::string key;
  uint32_t page = 0;
  uint32_t row = 0;
  uint32_t child = 0;  // node entries only

  bool operator<(const IndexEntry& other) const;
  bool SameAs(const IndexEntry& other) const { return key == other.key && page == other.page && row == other.row; }
};

struct IndexPage {
  uint32_t number = 0;
  bool leaf = false;
  uint32_t owner = 0;
  uint32_t previous = 0, next = 0, tail = 0;
  std::vector<IndexEntry> entries;
};

// Parses one index page; raises 3049 when it is not one or its entries do
// not fit it.
IndexPage ReadIndexPage(const JetFile& file, uint32_t page);

struct IndexWalk {
  std::vector<IndexEntry> entries;  // the leaf entries, in the tree's order
  std::vector<uint32_t> pages;      // every page of the tree
  std::vector<std::string> problems;
};

// Walks the whole tree from its root, checking the order of the entries,
// each node entry against its child and the chain of pages on each level.
IndexWalk WalkIndex(const JetFile& file, const TableDefinition& table, const RealIndex& index);
// The same walk, each leaf entry given to `leafEntry` in the tree's order
// instead of kept in `entries`: a large index's entries are not all held.
IndexWalk WalkIndex(const JetFile& file, const TableDefinition& table, const RealIndex& index,
                    const std::function<void(IndexEntry&&)>& leafEntry);

}  // namespace pendra::jet
