#include "Properties.h"

#include "Catalog.h"
#include "JetText.h"
#include "LongValue.h"
#include "RowLayout.h"

namespace pendra::jet {

namespace {

constexpr uint32_t kNameList = 0x80;
constexpr uint32_t kCatalogPage = 2;
constexpr int kTextProperty = 10;
constexpr int kMemoProperty = 12;

// Reads one length-prefixed name and moves past it; a name cut short moves
// to the end, so that every caller's loop ends.
std::string Name(const JetFile& file, const std::string& blob, size_t& at, size_t end) {
  const size_t size = file.layout().nameLengthSize;
  if (at + size > end) {
    at = end;
    return {};
  }
  const size_t length = size == 1 ? static_cast<uint8_t>(blob[at]) : Le16(blob, at);
  at += size;
  if (at + length > end) {
    at = end;
    return {};
  }
  std::string stored = blob.substr(at, length);
  at += length;
  return DecodeName(file, stored);
}

}  // namespace

std::vector<PropertyValue> ReadProperties(const JetFile& file, const std::string& blob) {
  std::vector<PropertyValue> values;
  if (blob.size() < 4 || (blob.compare(0, 4, std::string("MR2\0", 4)) != 0 && blob.compare(0, 4, std::string("KKD\0", 4)) != 0))
    return values;
  std::vector<std::string> names;
  for (size_t at = 4; at + 6 <= blob.size();) {
    const size_t length = Le32(blob, at);
    const uint32_t type = Le16(blob, at + 4);
    if (length < 6 || at + length > blob.size()) break;
    const size_t end = at + length;
    size_t p = at + 6;
    if (type == kNameList) {
      // Each name takes at least its length field, so the block bounds the list.
      while (p < end) {
        const size_t before = p;
        names.push_back(Name(file, blob, p, end));
        if (p <= before) break;
      }
    } else if (p + 4 <= end) {
      const size_t objectBlock = Le32(blob, p);
      const size_t objectEnd = p + objectBlock;
      std::string object;
      if (objectBlock > 6 && objectEnd <= end) {
        size_t q = p + 4;
        object = Name(file, blob, q, objectEnd);
      }
      for (p = objectEnd; p + 8 <= end;) {
        const size_t valueLength = Le16(blob, p);
        if (valueLength < 8 || p + valueLength > end) break;
        const int dataType = static_cast<uint8_t>(blob[p + 3]);
        const size_t nameIndex = Le16(blob, p + 4);
        const size_t dataSize = Le16(blob, p + 6);
        if (p + 8 + dataSize > end) break;
        std::string data = blob.substr(p + 8, dataSize);
        if (dataType == kTextProperty || dataType == kMemoProperty) data = DecodeName(file, data);
        values.push_back({object, nameIndex < names.size() ? names[nameIndex] : std::string(), data});
        p += valueLength;
      }
    }
    at = end;
  }
  return values;
}

std::string ValidationRuleOf(const std::vector<PropertyValue>& properties) {
  for (const PropertyValue& p : properties) {
    if (p.name != "ValidationRule" || p.text.empty()) continue;
    return (p.object.empty() ? std::string("テーブルの入力規則 '") : "列 '" + p.object + "' の入力規則 '") + p.text + "'";
  }
  return {};
}

std::vector<PropertyValue> TableProperties(const JetFile& file, const std::string& table) {
  const TableDefinition catalog = ReadTableDefinition(file, kCatalogPage);
  const Column* name = nullptr;
  const Column* properties = nullptr;
  const Column* type = nullptr;
  for (const Column& column : catalog.columns) {
    if (column.name == "Name") name = &column;
    if (column.name == "LvProp") properties = &column;
    if (column.name == "Type") type = &column;
  }
  if (!name || !properties || !type) return {};
  for (const LiveRow& row : LiveRows(file, DataPagesOf(file, kCatalogPage))) {
    const StoredRow stored(file, row.bytes, catalog);
    const StoredField kind = stored.Field(*type);
    if (kind.null || kind.bytes.size() < 2 || Le16(kind.bytes, 0) != 1) continue;
    if (DecodeName(file, std::string(stored.Field(*name).bytes)) != table) continue;
    const StoredField blob = stored.Field(*properties);
    if (blob.null) return {};
    return ReadProperties(file, ReadLongValue(file, blob.bytes));
  }
  return {};
}

}  // namespace pendra::jet
