#include "Catalog.h"

#include <algorithm>
#include <set>

#include "DataPage.h"
#include "JetText.h"
#include "RowLayout.h"
#include "core/PlatformError.h"

namespace pendra::jet {

namespace {

constexpr uint32_t kCatalogPage = 2;
constexpr int kTableObject = 1;
constexpr uint32_t kSystemFlags = 0x80000002;

const Column& Named(const JetFile& file, const TableDefinition& table, const std::string& name) {
  for (const Column& column : table.columns)
    if (column.name == name) return column;
  RaiseDamaged(file.path(), "MSysObjects に列 " + name + " がありません");
}

int64_t Integer(const StoredField& field) {
  if (field.null) return 0;
  int64_t v = 0;
  for (size_t i = field.bytes.size(); i-- > 0;) v = v << 8 | static_cast<uint8_t>(field.bytes[i]);
  if (field.bytes.size() == 2) v = static_cast<int16_t>(v);
  return v;
}

}  // namespace

std::vector<uint32_t> DataPagesOf(const JetFile& file, uint32_t definitionPage) {
  std::vector<uint32_t> pages;
  for (uint32_t page = 1; page < file.PageCount(); ++page) {
    const std::string_view b = file.Page(page);
    if (static_cast<uint8_t>(b[0]) == kDataPage && Le32(b, 4) == definitionPage && b.substr(4, 4) != "LVAL") pages.push_back(page);
  }
  return pages;
}

std::vector<LiveRow> LiveRows(const JetFile& file, const std::vector<uint32_t>& dataPages) {
  std::vector<LiveRow> rows;
  std::set<uint32_t> targets;
  for (uint32_t page : dataPages) {
    const std::vector<RowSlot> slots = RowSlots(file, page);
    for (uint32_t i = 0; i < slots.size(); ++i) {
      const RowSlot& slot = slots[i];
      if (slot.deleted) continue;
      std::string_view bytes = file.Page(page).substr(slot.start, slot.end - slot.start);
      if (slot.overflow) {
        if (bytes.size() < 4) RaiseDamaged(file.path(), "行の続きを指す値が短すぎます");
        const uint32_t pointer = Le32(bytes, 0);
        targets.insert(pointer);
        bytes = RowAt(file, pointer);
      }
      rows.push_back({page, i, bytes});
    }
  }
  if (!targets.empty())
    rows.erase(std::remove_if(rows.begin(), rows.end(), [&](const LiveRow& r) { return targets.count(r.page << 8 | r.row) != 0; }),
               rows.end());
  return rows;
}

std::vector<CatalogEntry> ReadCatalog(const JetFile& file) {
  const TableDefinition catalog = ReadTableDefinition(file, kCatalogPage);
  const Column& id = Named(file, catalog, "Id");
  const Column& name = Named(file, catalog, "Name");
  const Column& type = Named(file, catalog, "Type");
  const Column& flags = Named(file, catalog, "Flags");
  std::vector<CatalogEntry> tables;
  for (const LiveRow& row : LiveRows(file, DataPagesOf(file, kCatalogPage))) {
    const StoredRow stored(file, row.bytes, catalog);
    if (Integer(stored.Field(type)) != kTableObject) continue;
    CatalogEntry entry;
    const StoredField nameField = stored.Field(name);
    entry.name = DecodeName(file, std::string(nameField.bytes));
    entry.definitionPage = static_cast<uint32_t>(Integer(stored.Field(id))) & 0x00FFFFFF;
    entry.system = (static_cast<uint32_t>(Integer(stored.Field(flags))) & kSystemFlags) != 0 || entry.name.rfind("MSys", 0) == 0;
    tables.push_back(entry);
  }
  return tables;
}

CatalogEntry FindTable(const JetFile& file, const std::string& name) {
  for (const CatalogEntry& entry : ReadCatalog(file))
    if (entry.name == name) return entry;
  Raise(err::kTableNotFound, "テーブル '" + name + "' が見つかりません。");
}

}  // namespace pendra::jet
