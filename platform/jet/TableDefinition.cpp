#include "TableDefinition.h"

#include <algorithm>

#include "JetText.h"

namespace pendra::jet {

namespace {

// The definition bytes, read with bounds checks: a damaged definition
// raises 3049 instead of reading beyond its bytes.
class Cursor {
 public:
  Cursor(const JetFile& file, const std::string& bytes, size_t at) : file_(file), bytes_(bytes), at_(at) {}
  size_t at() const { return at_; }
  void Need(size_t n) const {
    if (at_ + n > bytes_.size()) RaiseDamaged(file_.path(), "テーブル定義が途中で終わっています");
  }
  void Skip(size_t n) { Need(n), at_ += n; }
  uint32_t U8() { Need(1); return static_cast<uint8_t>(bytes_[at_++]); }
  uint32_t U16() { Need(2); const uint32_t v = Le16(bytes_, at_); at_ += 2; return v; }
  uint32_t U32() { Need(4); const uint32_t v = Le32(bytes_, at_); at_ += 4; return v; }
  std::string Name() {
    const size_t length = file_.layout().nameLengthSize == 1 ? U8() : U16();
    Need(length);
    const std::string stored = bytes_.substr(at_, length);
    at_ += length;
    return DecodeName(file_, stored);
  }

 private:
  const JetFile& file_;
  const std::string& bytes_;
  size_t at_;
};

constexpr uint8_t kTableDefinitionPage = 0x02;
constexpr int kMaxIndexColumns = 10;
constexpr uint32_t kUnusedColumn = 0xFFFF;

}  // namespace

const Column* TableDefinition::ColumnNumbered(int number) const {
  for (const Column& column : columns)
    if (column.number == number) return &column;
  return nullptr;
}

std::string TableDefinition::IndexNames(int realIndex) const {
  std::string names;
  for (const LogicalIndex& index : logicalIndexes) {
    if (index.realIndex != realIndex) continue;
    if (!names.empty()) names += ", ";
    names += index.name;
  }
  return names.empty() ? "#" + std::to_string(realIndex) : names;
}

DefinitionPlace PlaceOf(const JetFile& file, const TableDefinition& definition, size_t at) {
  const size_t pageSize = file.PageSize();
  if (at < pageSize) return {definition.pages.front(), at};
  const size_t rest = at - pageSize;
  const size_t perPage = pageSize - 8;
  return {definition.pages.at(1 + rest / perPage), 8 + rest % perPage};
}

TableDefinition ReadTableDefinition(const JetFile& file, uint32_t page) {
  const Layout& l = file.layout();
  TableDefinition d;
  d.page = page;
  // The definition's pages: the first whole, the others without their
  // 8-byte header. The chain is bounded by the file's pages.
  for (uint32_t next = page; next != 0;) {
    const std::string_view bytes = file.Page(next);
    if (static_cast<uint8_t>(bytes[0]) != kTableDefinitionPage)
      RaiseDamaged(file.path(), "ページ " + std::to_string(next) + " はテーブル定義ではありません");
    for (uint32_t seen : d.pages)
      if (seen == next) RaiseDamaged(file.path(), "テーブル定義のページが輪になっています");
    d.pages.push_back(next);
    d.bytes.append(d.pages.size() == 1 ? bytes : bytes.substr(8));
    next = Le32(bytes, 4);
  }
  const std::string& b = d.bytes;
  d.rowCount = Le32(b, l.tdefRows);
  d.nextAutoNumber = Le32(b, l.tdefAutoNumber);
  d.tableType = static_cast<uint8_t>(b[l.tdefAutoNumber + (file.IsJet3() ? 0 : 20)]);
  d.maxColumns = static_cast<int>(Le16(b, l.tdefMaxCols));
  d.varColumns = static_cast<int>(Le16(b, l.tdefVarCols));
  const uint32_t columnCount = Le16(b, l.tdefCols);
  const uint32_t logicalCount = Le32(b, l.tdefIndexes);
  const uint32_t realCount = Le32(b, l.tdefRealIndexes);
  d.ownedMap = Le32(b, l.tdefOwnedMap);
  d.freeMap = Le32(b, l.tdefFreeMap);
  if (realCount > 1000 || logicalCount > 1000 || realCount > logicalCount + 0 + 1000)
    RaiseDamaged(file.path(), "テーブル定義の索引の数が正しくありません");

  Cursor c(file, b, l.tdefHeaderSize);
  for (uint32_t i = 0; i < realCount; ++i) {
    RealIndex index;
    index.number = static_cast<int>(i);
    index.entryCountAt = c.at() + 4;
    c.Skip(4);
    index.entryCount = c.U32();
    c.Skip(l.realIndexCountSize - 8);
    d.realIndexes.push_back(index);
  }
  for (uint32_t i = 0; i < columnCount; ++i) {
    c.Need(l.columnSize);
    Column column;
    const size_t at = c.at();
    column.descriptorAt = at;
    column.type = static_cast<uint8_t>(b[at]);
    column.number = static_cast<int>(Le16(b, at + l.columnNumber));
    column.varIndex = static_cast<int>(Le16(b, at + l.columnVarIndex));
    column.flags = static_cast<uint8_t>(b[at + l.columnFlags]);
    column.extFlags = file.IsJet3() ? 0 : static_cast<uint8_t>(b[at + l.columnFlags + 1]);
    column.fixedOffset = static_cast<int>(Le16(b, at + l.columnFixedOffset));
    column.length = static_cast<int>(Le16(b, at + l.columnLength));
    column.sortOrder = static_cast<int>(Le16(b, at + l.columnSortOrder));
    column.sortVersion = file.IsJet3() ? -1 : static_cast<uint8_t>(b[at + l.columnSortOrder + 3]);
    c.Skip(l.columnSize);
    d.columns.push_back(column);
  }
  for (Column& column : d.columns) column.name = c.Name();
  // Readers show the columns in the order of their numbers, which the
  // descriptors need not follow.
  std::stable_sort(d.columns.begin(), d.columns.end(), [](const Column& a, const Column& b) { return a.number < b.number; });
  for (RealIndex& index : d.realIndexes) {
    if (!file.IsJet3()) c.Skip(4);
    for (int i = 0; i < kMaxIndexColumns; ++i) {
      const uint32_t number = c.U16();
      const uint32_t order = c.U8();
      if (number != kUnusedColumn) index.columns.push_back({static_cast<int>(number), (order & 0x01) != 0});
    }
    index.ownedMap = c.U32();
    index.rootPageAt = c.at();
    index.rootPage = c.U32();
    if (!file.IsJet3()) c.Skip(4);
    index.flags = static_cast<uint8_t>(c.U8());
    if (!file.IsJet3()) c.Skip(5);
    for (const IndexColumn& column : index.columns)
      if (!d.ColumnNumbered(column.columnNumber)) RaiseDamaged(file.path(), "索引の列がテーブルにありません");
  }
  for (uint32_t i = 0; i < logicalCount; ++i) {
    LogicalIndex index;
    if (!file.IsJet3()) c.Skip(4);
    index.number = static_cast<int>(c.U32());
    index.realIndex = static_cast<int>(c.U32());
    c.Skip(1 + 4);
    index.relatedTablePage = c.U32();
    c.Skip(2);
    index.kind = static_cast<int>(c.U8());
    if (!file.IsJet3()) c.Skip(4);
    if (index.realIndex < 0 || static_cast<uint32_t>(index.realIndex) >= realCount)
      RaiseDamaged(file.path(), "索引が存在しない B 木を指しています");
    d.logicalIndexes.push_back(index);
  }
  for (LogicalIndex& index : d.logicalIndexes) index.name = c.Name();
  // Then, in ACE, the long-value columns' maps, ended by FFFF.
  if (!file.IsJet3()) {
    const size_t declared = Le32(b, 8);
    const size_t end = std::min(b.size(), declared);
    while (c.at() + 2 <= end) {
      const uint32_t number = c.U16();
      if (number == kUnusedColumn || c.at() + 8 > end) break;
      LongValueMaps maps;
      maps.columnNumber = static_cast<int>(number);
      maps.ownedMap = c.U32();
      maps.freeMap = c.U32();
      d.longValueMaps.push_back(maps);
    }
  }
  return d;
}

}  // namespace pendra::jet
