// The key bytes of an index entry, as the format compares them (unsigned,
// byte by byte): per index column a flag byte (7F a value ascending, 80 a
// value descending, 00 / FF Null ascending / descending), then the value:
// integers big-endian with the sign bit flipped (Byte as it is), Single,
// Double and Date/Time big-endian with the sign bit flipped when not
// negative and all bits inverted when negative, Currency as its scaled
// 64-bit integer, Yes/No one byte (00 Yes, FF No), text through the column's
// sort order (TextKey.h); a descending column inverts its value bytes.
#pragma once

#include <optional>
#include <string>

#include "RowLayout.h"
#include "TableDefinition.h"
#include "TextKey.h"

namespace pendra::jet {

// The sort order of a text column, or nothing when we cannot build its keys
// (the reason then goes in `why`).
std::optional<SortOrder> TextSortOrder(const JetFile& file, const Column& column, std::string& why);

// Appends one column's part of a key. False (and nothing appended) when the
// column's type or sort order has no key we can build, or when its text
// value has none (TextKey.h); in that case only, `refusal` (when given) is
// filled in and `refused` set.
struct ColumnKeyRefusal {
  bool refused = false;
  TextKeyRefusal text;
};
bool AppendColumnKey(const JetFile& file, const Column& column, bool ascending, const StoredField& field, std::string& key,
                     ColumnKeyRefusal* refusal = nullptr);

// The longest entry key (all columns, without the row pointer) that is
// built. An ACE file cuts an index entry at 510 bytes and ends it with a
// checksum of what it cut, which we do not reproduce: there keys longer than
// 502 bytes (with the row pointer and a node's child pointer, 510) are not
// built. Jet 4 (Access 2000-2003) was seen writing a key of 685 bytes whole;
// longer ones are not built. A key not built is refused by the writer unless
// the index already holds Access's key for the value (KnownKeys.h), and left
// uncompared by the check.
size_t LongestBuiltKey(const JetFile& file);

// A stored row's entry key in an index, column by column, as the writer
// builds it; the check and the keys Access wrote (KnownKeys.h) ask the same.
struct RowKey {
  std::string key;                    // the parts that could be built
  bool allNull = true;                // no column of the index holds a value
  const Column* refused = nullptr;    // the first column whose value has no key we know
  ColumnKeyRefusal refusal;           // why, for that column
  bool unkeyable = false;             // a column whose type or sort order has no key we build
  const Column* unkeyableColumn = nullptr;  // the first such (none: the index names no column of the table)
};
RowKey BuildRowKey(const JetFile& file, const TableDefinition& table, const RealIndex& index, const StoredRow& row);

// The key of a value given as its stored bytes (the writer's path): the same
// rules, for a value not read from a row.
void AppendNumberKey(int type, std::string_view stored, bool ascending, std::string& key);

}  // namespace pendra::jet
