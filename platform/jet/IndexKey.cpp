#include "IndexKey.h"

#include "Jet3TextKey.h"
#include "JetText.h"
#include "core/AccessType.h"

namespace pendra::jet {

namespace {


constexpr char kAscendingValue = 0x7F;
constexpr char kDescendingValue = static_cast<char>(0x80);
constexpr char kAscendingNull = 0x00;
constexpr char kDescendingNull = static_cast<char>(0xFF);

void Invert(std::string& key, size_t from) {
  for (size_t i = from; i < key.size(); ++i) key[i] = static_cast<char>(~static_cast<uint8_t>(key[i]));
}

}  // namespace

RowKey BuildRowKey(const JetFile& file, const TableDefinition& table, const RealIndex& index, const StoredRow& row) {
  RowKey built;
  for (const IndexColumn& ic : index.columns) {
    const Column* column = table.ColumnNumbered(ic.columnNumber);
    if (column == nullptr) {
      built.unkeyable = true;
      continue;
    }
    const StoredField field = row.Field(*column);
    built.allNull = built.allNull && field.null;
    ColumnKeyRefusal refusal;
    if (AppendColumnKey(file, *column, ic.ascending, field, built.key, &refusal)) continue;
    if (refusal.refused && built.refused == nullptr) {
      built.refused = column;
      built.refusal = refusal;
    } else if (!refusal.refused && !built.unkeyable) {
      built.unkeyable = true;
      built.unkeyableColumn = column;
    }
  }
  return built;
}

size_t LongestBuiltKey(const JetFile& file) { return file.format() == Format::Jet4 ? 685 : 502; }

std::optional<SortOrder> TextSortOrder(const JetFile& file, const Column& column, std::string& why) {
  int id = column.sortOrder;
  int version = column.sortVersion;
  // A column that names no order has the format's default one.
  if (id == 0) {
    id = 1033;
    version = (file.format() == Format::Jet4 || file.format() == Format::Ace12) ? 0 : 1;
  }
  SortOrder order{};
  if (SortOrderOf(id, version, order)) return order;
  why = "並べ替え順 " + std::to_string(id) + (version != 0 ? " (版 " + std::to_string(version) + ")" : "");
  return std::nullopt;
}

void AppendNumberKey(int type, std::string_view stored, bool ascending, std::string& key) {
  const size_t from = key.size();
  // The stored value is little-endian; keys are big-endian.
  for (size_t i = stored.size(); i-- > 0;) key += stored[i];
  const auto kind = static_cast<AccessType>(type);
  if (kind == AccessType::Byte) {
    if (!ascending) Invert(key, from);
    return;
  }
  const bool floating = kind == AccessType::Single || kind == AccessType::Double || kind == AccessType::DateTime;
  if (!floating) {
    key[from] = static_cast<char>(static_cast<uint8_t>(key[from]) ^ 0x80);
    if (!ascending) Invert(key, from);
    return;
  }
  const bool negative = (static_cast<uint8_t>(key[from]) & 0x80) != 0;
  if (!negative) key[from] = static_cast<char>(static_cast<uint8_t>(key[from]) ^ 0x80);
  if (negative == ascending) Invert(key, from);
}

bool AppendColumnKey(const JetFile& file, const Column& column, bool ascending, const StoredField& field, std::string& key,
                     ColumnKeyRefusal* refusal) {
  const auto kind = static_cast<AccessType>(column.type);
  if (kind == AccessType::YesNo) {
    key += ascending ? kAscendingValue : kDescendingValue;
    key += (field.yes == ascending) ? '\0' : static_cast<char>(0xFF);
    return true;
  }
  // Memo keys would need the long value read first; such indexes are left unchecked.
  const bool text = kind == AccessType::Text;
  std::optional<SortOrder> order;
  // Jet 3 files are only checked, in their General order (1033 or unset).
  const bool general97 = text && file.IsJet3() && (column.sortOrder == 0 || column.sortOrder == 1033);
  if (text && file.IsJet3() && !general97) return false;
  if (text && !general97) {
    std::string why;
    order = TextSortOrder(file, column, why);
    if (!order) return false;
  } else if (!text && !IsNumberType(column.type)) {
    return false;
  }
  if (field.null) {
    key += ascending ? kAscendingNull : kDescendingNull;
    return true;
  }
  if (text) {
    std::u16string value;
    if (!StoredToUtf16(file, std::string(field.bytes), value)) return false;
    if (general97) {
      key += ascending ? kAscendingValue : kDescendingValue;
      const size_t from = key.size();
      AppendGeneral97TextKey(value, key);
      if (!ascending) Invert(key, from);
      return true;
    }
    const size_t flagAt = key.size();
    key += ascending ? kAscendingValue : kDescendingValue;
    TextKeyRefusal why;
    const bool built = ascending ? AppendTextKey(value, *order, key, &why) : AppendDescendingTextKey(value, *order, key, &why);
    if (!built) {
      key.resize(flagAt);
      if (refusal != nullptr) {
        refusal->refused = true;
        refusal->text = why;
      }
    }
    return built;
  }
  key += ascending ? kAscendingValue : kDescendingValue;
  AppendNumberKey(column.type, field.bytes, ascending, key);
  return true;
}

}  // namespace pendra::jet
