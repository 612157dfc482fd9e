// A table's definition as the file keeps it: the table definition pages
// (type 0x02, chained through the "next page" field) with the row count,
// the next AutoNumber, the columns, the real indexes (the B-trees, each with
// its entry count) and the logical indexes (the names, primary key and
// foreign key flags, each pointing at a real index), and the two usage maps
// of the table: the pages it owns and those of them with free space.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "JetFile.h"

namespace pendra::jet {

struct Column {
  std::string name;
  int type = 0;          // AccessType (core/AccessType.h)
  int number = 0;        // position in the null mask; gaps where columns were deleted
  int varIndex = 0;      // position in the row's variable-column table
  int fixedOffset = 0;   // offset in the row's fixed data
  int length = 0;        // bytes (Text: two per character in Jet 4)
  uint8_t flags = 0;
  uint8_t extFlags = 0;
  int sortOrder = 0;     // text: the LCID of its sort order
  int sortVersion = 0;   // text, Jet 4 and later: 0 General Legacy, 1 General
  size_t descriptorAt = 0;  // where its descriptor is in the definition bytes

  bool IsFixed() const { return (flags & 0x01) != 0; }
  bool IsAutoNumber() const { return (flags & 0x04) != 0; }
  bool IsCompressedUnicode() const { return (extFlags & 0x01) != 0; }
};

struct IndexColumn {
  int columnNumber = 0;
  bool ascending = true;
};

// A B-tree of the table.
struct RealIndex {
  int number = 0;
  std::vector<IndexColumn> columns;
  uint32_t ownedMap = 0;  // usage map pointer (row in the low byte, page above)
  uint32_t rootPage = 0;
  uint8_t flags = 0;      // 0x01 unique, 0x02 ignore Nulls, 0x08 required
  uint32_t entryCount = 0;  // the count the definition records (distinct keys)
  size_t entryCountAt = 0;  // where that count is in the definition bytes
  size_t rootPageAt = 0;

  bool IsUnique() const { return (flags & 0x01) != 0; }
  bool IgnoresNulls() const { return (flags & 0x02) != 0; }
};

// A named index as Access shows it; several may share one real index.
struct LogicalIndex {
  std::string name;
  int number = 0;
  int realIndex = 0;
  int kind = 0;  // 1 primary key, 2 foreign key (a relationship's side)
  uint32_t relatedTablePage = 0;
  size_t kindAt = 0;  // where the kind is in the definition bytes

  bool IsPrimaryKey() const { return kind == 1; }
  bool IsForeignKey() const { return kind == 2; }
};

// ACE keeps, for each long-value column, the usage maps of its long-value
// pages after the index names.
struct LongValueMaps {
  int columnNumber = 0;
  uint32_t ownedMap = 0;
  uint32_t freeMap = 0;
};

struct TableDefinition {
  std::string name;  // from the catalogue; the definition does not hold it
  uint32_t page = 0;
  std::vector<uint32_t> pages;  // the definition's own pages, first one first
  std::string bytes;            // the definition's bytes, the pages' headers left out after the first
  uint32_t rowCount = 0;
  uint32_t nextAutoNumber = 0;
  uint8_t tableType = 0;
  int maxColumns = 0;
  int varColumns = 0;
  std::vector<Column> columns;  // in the order of their numbers (as readers show them)
  std::vector<RealIndex> realIndexes;
  std::vector<LogicalIndex> logicalIndexes;
  uint32_t ownedMap = 0;
  uint32_t freeMap = 0;
  std::vector<LongValueMaps> longValueMaps;

  const Column* ColumnNumbered(int number) const;
  // The logical indexes that use a real index, by name ("PrimaryKey", ...).
  std::string IndexNames(int realIndex) const;
};

// Reads the definition on that page. Raises 3049 when the page is not a
// table definition or the definition does not fit its bytes.
TableDefinition ReadTableDefinition(const JetFile& file, uint32_t page);

// Where a definition byte lies in the file: the page and the offset on it.
struct DefinitionPlace {
  uint32_t page;
  size_t offset;
};
DefinitionPlace PlaceOf(const JetFile& file, const TableDefinition& definition, size_t at);

}  // namespace pendra::jet
