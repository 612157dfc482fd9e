#include "IndexedTexts.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <stdexcept>
#include <utility>

#include "mdb/AccessFile.h"
#include "mdb/TextDecoding.h"

namespace pendra::jet::test {
namespace {

// Jet 4 / ACE page layout (mdbtools' format notes; the Java library's
// JetFormat): little-endian header fields, big-endian index entries.
constexpr std::size_t kPageSize = 4096;
constexpr std::uint8_t kDataPage = 0x01;
constexpr std::uint8_t kTableDefinitionPage = 0x02;
constexpr std::uint8_t kIndexNodePage = 0x03;
constexpr std::uint8_t kIndexLeafPage = 0x04;
constexpr std::size_t kVersionOffset = 0x14;  // of page 0: 0 is Jet 3

// Table definition.
constexpr std::size_t kContinuationOffset = 4;  // next page of a long definition
constexpr std::size_t kColumnCountOffset = 45;
constexpr std::size_t kRealIndexCountOffset = 51;
constexpr std::size_t kIndexCountsOffset = 63;  // 12 bytes per real index
constexpr std::size_t kIndexCountsSize = 12;
constexpr std::size_t kColumnSize = 25;
constexpr std::size_t kIndexBlockSize = 52;
constexpr std::size_t kIndexColumnsOffset = 4;  // within the index block: 10 x (number, flags)
constexpr std::size_t kIndexRootOffset = 38;
constexpr std::uint16_t kNoColumn = 0xFFFF;
constexpr std::uint8_t kAscendingColumn = 0x01;

// Data page.
constexpr std::size_t kOwnerOffset = 4;  // the table definition's page (data and index pages)
constexpr std::size_t kRowCountOffset = 12;
constexpr std::size_t kRowSlotsOffset = 14;
constexpr std::uint16_t kDeletedRow = 0x8000;

// Index page.
constexpr std::size_t kNextLeafOffset = 12;
constexpr std::size_t kPrefixLengthOffset = 24;
constexpr std::size_t kEntryEndMaskOffset = 27;
constexpr std::size_t kEntryEndMaskSize = 453;
constexpr std::size_t kEntriesOffset = kEntryEndMaskOffset + kEntryEndMaskSize;
constexpr std::size_t kRowPointerSize = 4;   // 3-byte page, 1-byte row slot
constexpr std::size_t kChildPointerSize = 4;  // node entries only

constexpr int kTextType = 10;
constexpr int kMemoType = 12;

using Bytes = std::string;

std::uint32_t Little(const Bytes& bytes, std::size_t offset, std::size_t width) {
  if (offset + width > bytes.size()) throw std::runtime_error("a field lies past the end of its page");
  std::uint32_t value = 0;
  for (std::size_t i = width; i-- > 0;) value = value << 8 | static_cast<std::uint8_t>(bytes[offset + i]);
  return value;
}

std::uint32_t Big(const Bytes& bytes, std::size_t offset, std::size_t width) {
  if (offset + width > bytes.size()) throw std::runtime_error("a field lies past the end of its entry");
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < width; ++i) value = value << 8 | static_cast<std::uint8_t>(bytes[offset + i]);
  return value;
}

struct Column {
  int type = 0;
  int number = 0;
  int sortOrderId = 0;
  int sortOrderVersion = 0;
  std::string name;
};

struct IndexDefinition {
  std::vector<std::pair<int, bool>> columns;  // column number, ascending
  std::uint32_t rootPage = 0;
};

struct TableDefinition {
  std::uint32_t page = 0;
  std::vector<Column> columns;
  std::vector<IndexDefinition> indexes;
};

class File {
 public:
  explicit File(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (bytes_.size() < kPageSize || bytes_.size() % kPageSize != 0)
      throw std::runtime_error(path + ": not whole 4 KB pages");
    if (bytes_[kVersionOffset] == 0) throw std::runtime_error(path + ": Jet 3, not Jet 4 / ACE");
  }

  std::size_t PageCount() const { return bytes_.size() / kPageSize; }

  Bytes Page(std::uint32_t number) const {
    if (number == 0 || number >= PageCount()) throw std::runtime_error("page number out of the file");
    return bytes_.substr(number * kPageSize, kPageSize);
  }

  std::uint8_t PageType(std::uint32_t number) const {
    return static_cast<std::uint8_t>(bytes_[number * kPageSize]);
  }

 private:
  Bytes bytes_;
};

// Column names are stored as UTF-16LE.
std::string Utf8FromUtf16Le(const Bytes& bytes, std::size_t offset, std::size_t length) {
  if (offset + length > bytes.size()) throw std::runtime_error("a field lies past the end of its page");
  std::string out;
  if (!mdb::Utf16ToUtf8(bytes.substr(offset, length & ~std::size_t{1}), out)) throw std::runtime_error("a name that is not UTF-16");
  return out;
}

// The whole definition: the first page, then each continuation page without
// its 8-byte header.
TableDefinition ReadTableDefinition(const File& file, std::uint32_t page) {
  Bytes buffer = file.Page(page);
  std::set<std::uint32_t> seen{page};
  for (std::uint32_t next = Little(buffer, kContinuationOffset, 4); next != 0;) {
    if (!seen.insert(next).second) throw std::runtime_error("table definition pages loop");
    const Bytes more = file.Page(next);
    buffer += more.substr(8);
    next = Little(more, kContinuationOffset, 4);
  }

  TableDefinition table;
  table.page = page;
  const std::size_t columnCount = Little(buffer, kColumnCountOffset, 2);
  const std::size_t realIndexCount = Little(buffer, kRealIndexCountOffset, 4);
  std::size_t offset = kIndexCountsOffset + realIndexCount * kIndexCountsSize;
  for (std::size_t i = 0; i < columnCount; ++i, offset += kColumnSize) {
    Column column;
    column.type = static_cast<int>(Little(buffer, offset, 1));
    column.number = static_cast<int>(Little(buffer, offset + 5, 2));
    column.sortOrderId = static_cast<int>(Little(buffer, offset + 11, 2));
    column.sortOrderVersion = static_cast<int>(Little(buffer, offset + 14, 1));
    table.columns.push_back(column);
  }
  for (Column& column : table.columns) {
    const std::size_t length = Little(buffer, offset, 2);
    column.name = Utf8FromUtf16Le(buffer, offset + 2, length);
    offset += 2 + length;
  }
  for (std::size_t i = 0; i < realIndexCount; ++i, offset += kIndexBlockSize) {
    IndexDefinition index;
    for (std::size_t c = 0; c < 10; ++c) {
      const std::size_t at = offset + kIndexColumnsOffset + 3 * c;
      const std::uint32_t number = Little(buffer, at, 2);
      if (number == kNoColumn) continue;
      index.columns.emplace_back(static_cast<int>(number), (Little(buffer, at + 2, 1) & kAscendingColumn) != 0);
    }
    index.rootPage = Little(buffer, offset + kIndexRootOffset, 4);
    table.indexes.push_back(index);
  }
  return table;
}

// Definitions start on definition pages that are no other's continuation.
// Files keep stale definition pages of earlier designs too (continuation
// pages above all, which do not read as a definition): a page that does not
// read as one is left out.
std::vector<TableDefinition> ReadTableDefinitions(const File& file) {
  std::vector<std::uint32_t> pages;
  std::set<std::uint32_t> continuations;
  for (std::uint32_t page = 1; page < file.PageCount(); ++page) {
    if (file.PageType(page) != kTableDefinitionPage) continue;
    pages.push_back(page);
    continuations.insert(Little(file.Page(page), kContinuationOffset, 4));
  }
  std::vector<TableDefinition> tables;
  for (const std::uint32_t page : pages) {
    if (continuations.contains(page)) continue;
    try {
      tables.push_back(ReadTableDefinition(file, page));
    } catch (const std::runtime_error&) {
      // not a definition's first page
    }
  }
  return tables;
}

using RowPointer = std::pair<std::uint32_t, std::uint32_t>;  // page, slot

// The live rows of a table, in data page and slot order. A row that moved
// to another page stays at its slot here (the index points there; the
// reader reads it from where it lies now, in this same place of its order);
// its new slot is flagged deleted, so that scans pass it over.
std::vector<RowPointer> LiveRows(const File& file, std::uint32_t definitionPage) {
  std::vector<RowPointer> rows;
  for (std::uint32_t page = 1; page < file.PageCount(); ++page) {
    if (file.PageType(page) != kDataPage) continue;
    const Bytes data = file.Page(page);
    if (Little(data, kOwnerOffset, 4) != definitionPage) continue;
    const std::uint32_t count = Little(data, kRowCountOffset, 2);
    for (std::uint32_t slot = 0; slot < count; ++slot) {
      const std::uint32_t start = Little(data, kRowSlotsOffset + 2 * slot, 2);
      if (start & kDeletedRow) continue;
      rows.emplace_back(page, slot);
    }
  }
  return rows;
}

// The entries of an index page, whole again: the page stores the prefix its
// entries share only with the first one. A set bit n of the mask ends an
// entry at byte n of the entry area.
std::vector<Bytes> PageEntries(const Bytes& page) {
  const std::size_t prefixLength = Little(page, kPrefixLengthOffset, 2);
  std::vector<Bytes> entries;
  Bytes prefix;
  std::size_t start = 0;
  for (std::size_t bit = 0; bit < kEntryEndMaskSize * 8; ++bit) {
    if ((Little(page, kEntryEndMaskOffset + bit / 8, 1) >> (bit % 8) & 1) == 0) continue;
    if (kEntriesOffset + bit > page.size()) throw std::runtime_error("an index entry past its page");
    const Bytes stored = page.substr(kEntriesOffset + start, bit - start);
    if (entries.empty()) {
      prefix = stored.substr(0, prefixLength);
      entries.push_back(stored);
    } else {
      entries.push_back(prefix + stored);
    }
    start = bit;
  }
  return entries;
}

// Every leaf entry of the index: down the first children to the first leaf,
// then along the leaves.
std::vector<Bytes> LeafEntries(const File& file, std::uint32_t root) {
  std::uint32_t page = root;
  for (std::size_t depth = 0; file.Page(page)[0] == static_cast<char>(kIndexNodePage); ++depth) {
    const std::vector<Bytes> entries = PageEntries(file.Page(page));
    if (entries.empty() || depth > 8) throw std::runtime_error("an index node without a way down");
    const Bytes& first = entries.front();
    page = Big(first, first.size() - kChildPointerSize, kChildPointerSize);
  }
  std::vector<Bytes> all;
  std::set<std::uint32_t> seen;
  while (page != 0) {
    if (!seen.insert(page).second) throw std::runtime_error("index leaves loop");
    const Bytes leaf = file.Page(page);
    if (static_cast<std::uint8_t>(leaf[0]) != kIndexLeafPage) throw std::runtime_error("not an index leaf");
    for (Bytes& entry : PageEntries(leaf)) all.push_back(std::move(entry));
    page = Little(leaf, kNextLeafOffset, 4);
  }
  return all;
}

std::u16string Utf16FromUtf8(const std::string& text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<std::uint8_t>(text[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (i + length > text.size()) throw std::runtime_error("truncated UTF-8");
    std::uint32_t code = length == 1 ? lead : lead & (0xFF >> (length + 1));
    for (std::size_t k = 1; k < length; ++k) code = code << 6 | (static_cast<std::uint8_t>(text[i + k]) & 0x3F);
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
    i += length;
  }
  return out;
}

std::set<std::string> ColumnNames(const std::vector<Column>& columns) {
  std::set<std::string> names;
  for (const Column& column : columns) names.insert(column.name);
  return names;
}

std::set<std::string> ColumnNames(const mdb::AccessTable& table) {
  std::set<std::string> names;
  for (const mdb::AccessColumn& column : table.columns) names.insert(column.name);
  return names;
}

}  // namespace

std::vector<IndexedText> ReadIndexedTexts(const std::string& path) {
  const File file(path);
  const std::vector<TableDefinition> definitions = ReadTableDefinitions(file);
  const mdb::AccessDatabase database = mdb::ReadAccessFile(path);

  std::vector<IndexedText> found;
  for (const mdb::AccessTable& table : database.tables) {
    // The catalogue is not read here: a user table's definition is the one
    // with its column names.
    const TableDefinition* definition = nullptr;
    for (const TableDefinition& candidate : definitions) {
      if (ColumnNames(candidate.columns) != ColumnNames(table)) continue;
      if (definition != nullptr) throw std::runtime_error(table.name + ": two definitions fit");
      definition = &candidate;
    }
    if (definition == nullptr) throw std::runtime_error(table.name + ": no definition fits");

    const std::vector<RowPointer> pointers = LiveRows(file, definition->page);
    if (pointers.size() != table.rows.size())
      throw std::runtime_error(table.name + ": " + std::to_string(pointers.size()) + " live rows on its pages, " +
                               std::to_string(table.rows.size()) + " read");
    std::map<RowPointer, std::size_t> rowAt;
    for (std::size_t i = 0; i < pointers.size(); ++i) rowAt[pointers[i]] = i;

    for (const IndexDefinition& index : definition->indexes) {
      if (index.columns.size() != 1) continue;
      const int number = index.columns.front().first;
      const bool ascending = index.columns.front().second;
      const auto column = std::find_if(definition->columns.begin(), definition->columns.end(),
                                       [number](const Column& c) { return c.number == number; });
      if (column == definition->columns.end()) throw std::runtime_error(table.name + ": index of no column");
      if (column->type != kTextType && column->type != kMemoType) continue;
      const auto valueColumn = std::find_if(table.columns.begin(), table.columns.end(),
                                            [&](const mdb::AccessColumn& c) { return c.name == column->name; });
      if (valueColumn == table.columns.end()) throw std::runtime_error(table.name + ": an indexed column not read");
      const auto valueIndex = static_cast<std::size_t>(valueColumn - table.columns.begin());

      for (const Bytes& entry : LeafEntries(file, index.rootPage)) {
        if (entry.size() < 1 + kRowPointerSize) throw std::runtime_error(table.name + ": a short index entry");
        const RowPointer pointer{Big(entry, entry.size() - kRowPointerSize, 3),
                                 Big(entry, entry.size() - 1, 1)};
        const auto row = rowAt.find(pointer);
        if (row == rowAt.end()) throw std::runtime_error(table.name + ": an index entry for no live row");
        const Variant& value = table.rows[row->second].at(valueIndex);
        if (value.IsNull()) continue;
        IndexedText text;
        text.table = table.name;
        text.column = column->name;
        text.sortOrderId = column->sortOrderId;
        text.sortOrderVersion = column->sortOrderVersion;
        text.descending = !ascending;
        text.utf8 = value.StringValue();
        text.text = Utf16FromUtf8(text.utf8);
        // The flag byte: 7F a value in an ascending column, 80 in a
        // descending one.
        const auto flag = static_cast<std::uint8_t>(entry[0]);
        if (flag != (ascending ? 0x7F : 0x80)) throw std::runtime_error(table.name + ": a value entry flagged Null");
        text.key = entry.substr(1, entry.size() - 1 - kRowPointerSize);
        found.push_back(std::move(text));
      }
    }
  }
  return found;
}

}  // namespace pendra::jet::test
