// The keys Access wrote, kept for the values it wrote them for. Before a
// table is rewritten, each leaf entry of its indexes is paired (by row
// pointer) with the row it points at, and the entry's key remembered under
// that row's values of the index's columns. A rewritten row holding the same
// values gets the same key, even where our encoder has none (a kanji never
// seen): the same values in the same index and sort order make the same key,
// so rows nobody changed never block a rewrite. Only keys the writer cannot
// build itself are kept: it never asks for the others.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "Catalog.h"
#include "RowLayout.h"
#include "TableDefinition.h"

namespace pendra::jet {

class KnownKeys {
 public:
  KnownKeys() = default;
  // Reads the table's index trees and pairs their entries with `rows` (the
  // table's live rows). An index that cannot be walked, and values two
  // entries give different keys, are left out.
  KnownKeys(const JetFile& file, const TableDefinition& table, const std::vector<LiveRow>& rows);

  // The whole entry key (every column, flag bytes included, no row pointer)
  // that the index held for the row's values, or null.
  const std::string* Find(const JetFile& file, const TableDefinition& table, const RealIndex& index,
                          const StoredRow& row) const;

  size_t size() const;

 private:
  // Index number, then the values as ValuesOf writes them, then the key.
  std::map<int, std::map<std::string, std::string>> keys_;
};

}  // namespace pendra::jet
