#include "Variant.h"

#include <charconv>
#include <cmath>
#include <cstdio>

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

std::string ShortestText(double value) {
  if (value == 0) return "0";
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

// Automation date to y/m/d h:m:s. Day 0 is 1899-12-30, which is 25569 days
// before 1970-01-01; the civil date comes from Howard Hinnant's
// days-to-civil algorithm. The time is the fraction's absolute value, as
// the automation runtime reads negative dates.
std::string DateText(double date) {
  const double whole = std::trunc(date);
  const long seconds = std::lround(std::fabs(date - whole) * 86400.0);
  const long long z = static_cast<long long>(whole) - 25569 + 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  const long long d = doy - (153 * mp + 2) / 5 + 1;
  const long long m = mp < 10 ? mp + 3 : mp - 9;
  const long long y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  char buffer[160];
  if (seconds == 0) {
    std::snprintf(buffer, sizeof buffer, "%04lld/%02lld/%02lld", y, m, d);
  } else {
    std::snprintf(buffer, sizeof buffer, "%04lld/%02lld/%02lld %02ld:%02ld:%02ld", y, m, d,
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
      return ShortestText(static_cast<double>(std::get<int64_t>(data_)) / 10000.0);
    case VarType::Single:
      return ShortestText(static_cast<float>(std::get<double>(data_)));
    case VarType::Double:
      return ShortestText(std::get<double>(data_));
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
