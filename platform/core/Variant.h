// The value that passes between cells, fields and code: the automation
// world's variant. Text is UTF-8 in memory; dates are automation dates
// (days since 1899-12-30, time as the fraction); currency is a 64-bit
// integer scaled by 10,000.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace pendra {

// Numbers follow the automation VarType codes, so a value's kind can be
// named the way the engines name it.
enum class VarType : int {
  Empty = 0,
  Null = 1,
  Integer = 2,   // 16-bit signed
  Long = 3,      // 32-bit signed
  Single = 4,
  Double = 5,
  Currency = 6,
  Date = 7,
  String = 8,
  Error = 10,
  Boolean = 11,
  Byte = 17,
};

class Variant {
 public:
  Variant() = default;  // Empty
  Variant(bool value) : kind_(VarType::Boolean), data_(value) {}
  Variant(int16_t value) : kind_(VarType::Integer), data_(int64_t{value}) {}
  Variant(int32_t value) : kind_(VarType::Long), data_(int64_t{value}) {}
  Variant(double value) : kind_(VarType::Double), data_(value) {}
  Variant(std::string value) : kind_(VarType::String), data_(std::move(value)) {}
  Variant(const char* value) : Variant(std::string(value)) {}

  static Variant Null();
  static Variant Byte(uint8_t value);
  static Variant Single(float value);
  static Variant Currency(int64_t scaledBy10000);
  static Variant Date(double automationDate);
  // An error value such as a cell's #DIV/0!; code is the automation error
  // code (2007 #DIV/0!, 2015 #VALUE!, 2042 #N/A, ...).
  static Variant Error(int32_t code);

  VarType Type() const { return kind_; }
  bool IsEmpty() const { return kind_ == VarType::Empty; }
  bool IsNull() const { return kind_ == VarType::Null; }
  bool IsString() const { return kind_ == VarType::String; }
  bool IsError() const { return kind_ == VarType::Error; }
  // Boolean, Byte, Integer, Long, Single, Double, Currency (not Date).
  bool IsNumber() const;

  // Raw access; each raises type mismatch (13) on the wrong kind.
  bool BooleanValue() const;
  int64_t IntegerValue() const;       // Byte, Integer, Long
  int64_t CurrencyScaled() const;     // Currency
  double DoubleValue() const;         // Single, Double, Date
  const std::string& StringValue() const;
  int32_t ErrorCode() const;

  // Conversions with the automation rules. ToDouble: numbers, Booleans
  // (True = -1), dates, and text that is numeric (IsNumeric); anything
  // else raises 13. ToText: numbers as the runtime writes them (15
  // significant digits for a Double, 7 for a Single, "1E+15" beyond),
  // Booleans "True"/"False", Empty "", dates as yyyy/mm/dd [hh:mm:ss];
  // Null and errors raise 13 (94 for Null, as the runtime does).
  double ToDouble() const;
  std::string ToText() const;

  // A readable form for messages and test output, never raises.
  std::string Describe() const;

  // Same kind and same value (Empty == Empty, Null == Null).
  bool operator==(const Variant& other) const;

 private:
  Variant(VarType kind, std::variant<std::monostate, bool, int64_t, double, std::string> data)
      : kind_(kind), data_(std::move(data)) {}

  VarType kind_ = VarType::Empty;
  std::variant<std::monostate, bool, int64_t, double, std::string> data_;
};

// `Value = ""` as the jobs compare a cell with the empty text: true for an
// Empty cell and for text of length zero, false for numbers, Booleans,
// dates and any other text; an error value cannot be compared and raises
// type mismatch (13), as the automation runtime does.
bool EqualsEmptyText(const Variant& value);

}  // namespace pendra
