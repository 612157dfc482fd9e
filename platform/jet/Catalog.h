// The file's catalogue: the system table MSysObjects (its definition is on
// page 2) lists every object; tables have type 1 and their definition page
// in the low three bytes of their Id.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "JetFile.h"
#include "TableDefinition.h"

namespace pendra::jet {

struct CatalogEntry {
  std::string name;
  uint32_t definitionPage = 0;
  bool system = false;  // MSys tables and other hidden system tables
};

struct LiveRow {
  uint32_t page = 0;
  uint32_t row = 0;
  std::string_view bytes;  // where an overflow pointer leads, the row it points at
};

// The tables of the file, in catalogue order; raises 3049 when the
// catalogue cannot be read.
std::vector<CatalogEntry> ReadCatalog(const JetFile& file);
CatalogEntry FindTable(const JetFile& file, const std::string& name);  // raises 3078 when absent

// The live rows on the given data pages of the table (deleted rows and the
// targets of overflow pointers left out), in page and row order.
std::vector<LiveRow> LiveRows(const JetFile& file, const std::vector<uint32_t>& dataPages);

// The data pages of the table (owner field = its definition page, not long
// values), found by looking at every page of the file.
std::vector<uint32_t> DataPagesOf(const JetFile& file, uint32_t definitionPage);

}  // namespace pendra::jet
