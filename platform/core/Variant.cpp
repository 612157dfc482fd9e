#include "Variant.h"

#include <cmath>
#include <cstdio>

#include "CivilDate.h"
#include "NumericTest.h"
#include "PlatformError.h"

namespace pendra {

Variant Variant::Null() { return Variant(VarType::Null, std::monostate{}); }
Variant Variant::Byte(uint8_t value) { return Variant(VarType::Byte, int64_t{value}); }
Variant Variant::Single(float value) { return Variant(VarType::Single, double{value}); }
Variant Variant::Currency(int64_t scaled) { return Variant(VarType::Currency, scaled); }
Variant Variant::Date(double automationDate) { return Variant(VarType::Date, automationDate); }
Variant Variant::Error(int32_t code) { return Variant(VarType::Error, int64_t{code}); }

bool Variant::IsNumber() const {
  switch (kind_) {
    case VarType::Boolean:
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
    case VarType::Single:
    case VarType::Double:
    case VarType::Currency:
      return true;
    default:
      return false;
  }
}

bool Variant::BooleanValue() const {
  if (kind_ != VarType::Boolean) Raise(err::kTypeMismatch);
  return std::get<bool>(data_);
}

int64_t Variant::IntegerValue() const {
  if (kind_ != VarType::Byte && kind_ != VarType::Integer && kind_ != VarType::Long)
    Raise(err::kTypeMismatch);
  return std::get<int64_t>(data_);
}

int64_t Variant::CurrencyScaled() const {
  if (kind_ != VarType::Currency) Raise(err::kTypeMismatch);
  return std::get<int64_t>(data_);
}

double Variant::DoubleValue() const {
  if (kind_ != VarType::Single && kind_ != VarType::Double && kind_ != VarType::Date)
    Raise(err::kTypeMismatch);
  return std::get<double>(data_);
}

const std::string& Variant::StringValue() const {
  if (kind_ != VarType::String) Raise(err::kTypeMismatch);
  return std::get<std::string>(data_);
}

int32_t Variant::ErrorCode() const {
  if (kind_ != VarType::Error) Raise(err::kTypeMismatch);
  return static_cast<int32_t>(std::get<int64_t>(data_));
}

double Variant::ToDouble() const {
  switch (kind_) {
    case VarType::Empty:
      return 0;
    case VarType::Boolean:
      return std::get<bool>(data_) ? -1 : 0;
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
      return static_cast<double>(std::get<int64_t>(data_));
    case VarType::Currency:
      return static_cast<double>(std::get<int64_t>(data_)) / 10000.0;
    case VarType::Single:
    case VarType::Double:
    case VarType::Date:
      return std::get<double>(data_);
    case VarType::String:
      if (auto number = ParseNumericText(std::get<std::string>(data_))) return *number;
      Raise(err::kTypeMismatch);
    case VarType::Null:
      Raise(err::kInvalidUseOfNull);
    case VarType::Error:
      break;
  }
  Raise(err::kTypeMismatch);
}

namespace {

// A number as the runtime writes it: 15 significant digits for a Double, 7
// for a Single, no trailing zeros, the exponent form ("1E+15", "1E-05")
// outside the range the digits can show. So 0.1 + 0.2 is "0.3", as the
// runtime and the engine store it in a text column.
std::string NumberText(double value, int digits) {
  if (value == 0) return "0";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*G", digits, value);
  return buffer;
}

// Currency: four decimal places at most, never an exponent.
std::string CurrencyText(int64_t scaled) {
  const bool negative = scaled < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  std::string text = std::to_string(magnitude / 10000);
  uint64_t fraction = magnitude % 10000;
  if (fraction != 0) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, ".%04u", static_cast<unsigned>(fraction));
    std::string part = buffer;
    while (part.back() == '0') part.pop_back();
    text += part;
  }
  return negative ? "-" + text : text;
}

// Automation date to y/m/d, and h:m:s unless the time is midnight.
std::string DateText(double date) {
  const DateTimeParts parts = SplitAutomationDate(date);
  const CivilDate& d = parts.date;
  const long seconds = parts.secondOfDay;
  char buffer[160];
  if (seconds == 0) {
    std::snprintf(buffer, sizeof buffer, "%04lld/%02u/%02u", d.year, d.month, d.day);
  } else {
    std::snprintf(buffer, sizeof buffer, "%04lld/%02u/%02u %02ld:%02ld:%02ld", d.year, d.month, d.day,
                  seconds / 3600, seconds / 60 % 60, seconds % 60);
  }
  return buffer;
}

}  // namespace

std::string Variant::ToText() const {
  switch (kind_) {
    case VarType::Empty:
      return "";
    case VarType::Boolean:
      return std::get<bool>(data_) ? "True" : "False";
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
      return std::to_string(std::get<int64_t>(data_));
    case VarType::Currency:
      return CurrencyText(std::get<int64_t>(data_));
    case VarType::Single:
      return NumberText(std::get<double>(data_), 7);
    case VarType::Double:
      return NumberText(std::get<double>(data_), 15);
    case VarType::Date:
      return DateText(std::get<double>(data_));
    case VarType::String:
      return std::get<std::string>(data_);
    case VarType::Null:
      Raise(err::kInvalidUseOfNull);
    case VarType::Error:
      break;
  }
  Raise(err::kTypeMismatch);
}

std::string Variant::Describe() const {
  switch (kind_) {
    case VarType::Empty: return "Empty";
    case VarType::Null: return "Null";
    case VarType::Error: return "Error " + std::to_string(std::get<int64_t>(data_));
    case VarType::String: return "\"" + std::get<std::string>(data_) + "\"";
    case VarType::Date: return "#" + ToText() + "#";
    case VarType::Boolean: return ToText();
    case VarType::Byte: return "Byte " + ToText();
    case VarType::Integer: return "Integer " + ToText();
    case VarType::Long: return "Long " + ToText();
    case VarType::Single: return "Single " + ToText();
    case VarType::Double: return "Double " + ToText();
    case VarType::Currency: return "Currency " + ToText();
  }
  return "?";
}

bool Variant::operator==(const Variant& other) const {
  return kind_ == other.kind_ && data_ == other.data_;
}

bool EqualsEmptyText(const Variant& value) {
  switch (value.Type()) {
    case VarType::Empty:
      return true;
    case VarType::String:
      return value.StringValue().empty();
    case VarType::Error:
      Raise(err::kTypeMismatch);
    default:
      return false;
  }
}

}  // namespace pendra
