// The type codes Access stores for a column, the names Access gives them,
// and the one list of which types are numbers and which an index we write
// may hold: shared by the reader (platform/mdb), the writer (platform/jet)
// and the database layer, so none of them needs another for these.
#pragma once

#include <string>

namespace pendra {

// The type codes Access stores for a column.
enum class AccessType : int {
  YesNo = 1,
  Byte = 2,
  Integer = 3,
  Long = 4,
  Currency = 5,
  Single = 6,
  Double = 7,
  DateTime = 8,
  Binary = 9,
  Text = 10,
  Ole = 11,
  Memo = 12,
  Guid = 15,
  Decimal = 16,
  Complex = 18,  // attachments, multi-valued fields
  DateTimeExtended = 20,
};

// The name Access gives a type ("テキスト型", ...), for reports.
std::string TypeName(int type);

// Byte to Double and Date/Time: stored as fixed-size numbers, keyed as
// numbers.
bool IsNumberType(int type);
// What an index we write may hold: the numbers, Text and Yes/No.
bool IsKeyType(int type);

}  // namespace pendra
