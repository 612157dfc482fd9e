// The engine's column types, read from the declared type of an SQLite
// column, and the conversions between values, columns and storage.
#pragma once

#include <sqlite3.h>

#include <string_view>

#include "core/Variant.h"

namespace pendra::dao::detail {

enum class FieldType {
  Variant,   // no engine type declared: values stored as given
  Text,      // TEXT(n), VARCHAR(n), CHAR(n); TEXT alone is TEXT(255)
  Memo,      // MEMO, LONGTEXT, LONGCHAR, NOTE
  Byte,      // BYTE, TINYINT: 0..255
  Short,     // SHORT, SMALLINT: 16-bit
  Long,      // LONG, INT, INTEGER: 32-bit
  Counter,   // COUNTER, AUTOINCREMENT: Long, numbered by the layer
  Single,    // SINGLE, REAL
  Double,    // DOUBLE, FLOAT, NUMBER
  Currency,  // CURRENCY, MONEY: four decimal places
  DateTime,  // DATETIME, DATE, TIME, TIMESTAMP
  YesNo,     // YESNO, BIT, LOGICAL, BOOLEAN: stored -1 / 0
};

struct FieldSpec {
  FieldType type = FieldType::Variant;
  int size = 0;                  // characters, for Text
  bool allowZeroLength = true;   // Text and Memo
};

FieldSpec ParseDeclaredType(std::string_view declared);

// The value a column holds after `field = value`, typed for the column
// (Long for LONG, Boolean for YESNO, Date for DATETIME ...). Raises 3421
// for a value the type can't take, 3163 for text longer than the size,
// 3315 for zero-length text where none is allowed. `field` names the
// column in the descriptions.
Variant ConvertForColumn(const Variant& value, const FieldSpec& spec, std::string_view field);

// target = ConvertForColumn(value, spec, field), with text going into a
// text column copied once (into the target's own storage where it fits).
// On refusal target keeps its value.
void AssignForColumn(Variant& target, const Variant& value, const FieldSpec& spec, std::string_view field);

// A stored value as the column's type.
Variant ReadStored(sqlite3_stmt* stmt, int column, FieldType type);

// A typed value in its stored form: Boolean -1/0, Date as stored text,
// Currency and Single as REAL, Empty as NULL.
void BindStored(sqlite3_stmt* stmt, int index, const Variant& value);

}  // namespace pendra::dao::detail
