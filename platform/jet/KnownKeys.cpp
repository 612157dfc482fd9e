#include "KnownKeys.h"

#include <algorithm>
#include <set>

#include "IndexKey.h"
#include "IndexTree.h"
#include "JetText.h"
#include "core/PlatformError.h"
#include "mdb/AccessFile.h"

namespace pendra::jet {

namespace {

void AppendLength(std::string& out, size_t length) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((length >> (8 * i)) & 0xFF);
}

// The row's values of the index's columns, as one string: per column a Null
// mark, or its length and bytes. Text compares as UTF-16 (a value may be
// stored compressed in one row and not in another); other types as stored.
bool ValuesOf(const JetFile& file, const TableDefinition& table, const RealIndex& index, const StoredRow& row,
              std::string& values) {
  for (const IndexColumn& ic : index.columns) {
    const Column* column = table.ColumnNumbered(ic.columnNumber);
    if (column == nullptr) return false;
    const StoredField field = row.Field(*column);
    if (column->type == static_cast<int>(mdb::AccessType::YesNo)) {
      values += field.yes ? 'Y' : 'N';
      continue;
    }
    if (field.null) {
      values += '0';
      continue;
    }
    values += '1';
    if (column->type == static_cast<int>(mdb::AccessType::Text)) {
      std::u16string text;
      if (!StoredToUtf16(file, std::string(field.bytes), text)) return false;
      AppendLength(values, text.size());
      for (const char16_t unit : text) {
        values += static_cast<char>(unit & 0xFF);
        values += static_cast<char>(unit >> 8);
      }
    } else {
      AppendLength(values, field.bytes.size());
      values += field.bytes;
    }
  }
  return true;
}

// Whether the writer builds the key of the row's values in this index
// itself, and so never asks for Access's: every column keyed (or one the
// writer refuses outright, whatever Access holds) and the whole key within
// what the writer builds.
bool KeyedByTheWriter(const JetFile& file, const TableDefinition& table, const RealIndex& index, const StoredRow& row) {
  const RowKey built = BuildRowKey(file, table, index, row);
  return built.unkeyable || (built.refused == nullptr && built.key.size() <= LongestBuiltKey(file));
}

}  // namespace

KnownKeys::KnownKeys(const JetFile& file, const TableDefinition& table, const std::vector<LiveRow>& rows) {
  // Rows by their place, packed as page << 8 | row: sorted, searched.
  std::vector<std::pair<uint32_t, const LiveRow*>> byPointer;
  byPointer.reserve(rows.size());
  for (const LiveRow& row : rows) byPointer.emplace_back(row.page << 8 | row.row, &row);
  std::sort(byPointer.begin(), byPointer.end());
  for (const RealIndex& index : table.realIndexes) {
    std::map<std::string, std::string> keys;
    std::set<std::string> ambiguous;
    try {
      WalkIndex(file, table, index, [&](IndexEntry&& entry) {
        const uint32_t place = entry.page << 8 | entry.row;
        const auto row = std::lower_bound(byPointer.begin(), byPointer.end(), std::make_pair(place, static_cast<const LiveRow*>(nullptr)));
        if (row == byPointer.end() || row->first != place) return;
        // Only the keys the writer may ask for are kept: in a table of a
        // million rows whose keys it builds itself, holding every key would
        // cost more memory than the rows.
        std::string values;
        try {
          const StoredRow stored(file, row->second->bytes, table);
          if (KeyedByTheWriter(file, table, index, stored)) return;
          if (!ValuesOf(file, table, index, stored, values)) return;
        } catch (const PlatformError&) {
          return;
        }
        const auto [it, fresh] = keys.emplace(values, entry.key);
        if (!fresh && it->second != entry.key) ambiguous.insert(values);
      });
    } catch (const PlatformError&) {
      continue;  // an index that cannot be walked gives none
    }
    for (const std::string& values : ambiguous) keys.erase(values);
    keys_[index.number] = std::move(keys);
  }
}

const std::string* KnownKeys::Find(const JetFile& file, const TableDefinition& table, const RealIndex& index,
                                   const StoredRow& row) const {
  const auto keys = keys_.find(index.number);
  if (keys == keys_.end()) return nullptr;
  std::string values;
  if (!ValuesOf(file, table, index, row, values)) return nullptr;
  const auto it = keys->second.find(values);
  return it == keys->second.end() ? nullptr : &it->second;
}

size_t KnownKeys::size() const {
  size_t count = 0;
  for (const auto& [number, keys] : keys_) count += keys.size();
  return count;
}

}  // namespace pendra::jet
