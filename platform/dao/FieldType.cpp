#include "FieldType.h"

#include <cfloat>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <cmath>
#include <string>

#include "DateText.h"
#include "core/AsciiText.h"
#include "core/NumericTest.h"
#include "core/PlatformError.h"

namespace pendra::dao::detail {

namespace {

// Upper case, blanks left out: how type names and Yes/No words compare.
std::string Upper(std::string_view text) {
  std::string upper;
  for (char c : text)
    if (c != ' ' && c != '\t') upper += AsciiUpper(c);
  return upper;
}

[[noreturn]] void ConversionError() { Raise(err::kDataTypeConversion); }

// CURRENCY values are stored as REAL in units, so the range stops at the
// last whole unit whose ten-thousandths a Double still tells apart from the
// 64-bit limit: a value stored near that limit reads back as itself.
constexpr int64_t kCurrencyMaxScaled = 922337203685477LL * 10000;

// A number in ten-thousandths, rounded half to even; nothing beyond the range.
std::optional<int64_t> CurrencyScaled(double number) {
  const double scaled = std::nearbyint(number * 10000.0);
  if (!(std::fabs(scaled) <= static_cast<double>(kCurrencyMaxScaled))) return std::nullopt;
  return static_cast<int64_t>(scaled);
}

// Characters as the engine counts them: UTF-16 code units.
size_t Utf16Length(const std::string& text) {
  size_t units = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if ((c & 0xC0) != 0x80) units += c >= 0xF0 ? 2 : 1;
  }
  return units;
}

// Plain decimal text ("-12", "1.5"): at most 15 digits, so the digits are
// a Double exactly and one division by a power of ten rounds correctly -
// the value strtod gives. Anything else (blanks, grouping, signs after,
// exponents, full-width digits, longer numbers) takes the general parse.
bool PlainDecimal(std::string_view text, double& number) {
  size_t at = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) ++at;
  int64_t digits = 0;
  int count = 0, scale = 0;
  bool point = false;
  for (; at < text.size(); ++at) {
    const char c = text[at];
    if (c >= '0' && c <= '9') {
      if (++count > 15) return false;
      digits = digits * 10 + (c - '0');
      if (point) ++scale;
    } else if (c == '.' && !point && count > 0) {
      point = true;
    } else {
      return false;
    }
  }
  if (count == 0 || (point && scale == 0)) return false;
  static constexpr double kPowers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7,
                                       1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  number = static_cast<double>(digits) / kPowers[scale];
  if (negative) number = -number;
  return true;
}

// The number a value stands for, as the runtime converts it to a number.
double NumberOf(const Variant& value) {
  switch (value.Type()) {
    case VarType::String: {
      if (double plain; PlainDecimal(value.StringValue(), plain)) return plain;
      auto number = ParseNumericText(value.StringValue());
      if (!number) ConversionError();
      return *number;
    }
    case VarType::Error:
      ConversionError();
    default:
      return value.ToDouble();
  }
}

// Whole numbers round half to even, as the runtime's CInt / CLng do.
int64_t WholeNumber(double number, double low, double high) {
  const double rounded = std::nearbyint(number);
  if (!(rounded >= low && rounded <= high)) ConversionError();
  return static_cast<int64_t>(rounded);
}

bool YesNoOf(const Variant& value) {
  switch (value.Type()) {
    case VarType::Boolean:
      return value.BooleanValue();
    case VarType::String: {
      const std::string word = Upper(value.StringValue());
      if (word == "TRUE" || word == "YES" || word == "ON") return true;
      if (word == "FALSE" || word == "NO" || word == "OFF") return false;
      return NumberOf(value) != 0;
    }
    case VarType::Error:
      ConversionError();
    default:
      return value.ToDouble() != 0;
  }
}

double DateOf(const Variant& value) {
  double date = 0;
  switch (value.Type()) {
    case VarType::Date:
      date = value.DoubleValue();
      break;
    case VarType::String: {
      auto parsed = ParseDateText(value.StringValue());
      if (!parsed) ConversionError();
      date = *parsed;
      break;
    }
    case VarType::Error:
      ConversionError();
    default:
      date = value.ToDouble();
  }
  if (!DateInRange(date)) ConversionError();
  return date;
}

}  // namespace

FieldSpec ParseDeclaredType(std::string_view declared) {
  std::string type = Upper(declared);
  int size = 0;
  if (auto open = type.find('('); open != std::string::npos) {
    size = std::atoi(type.c_str() + open + 1);
    type.resize(open);
  }
  FieldSpec spec;
  if (type == "TEXT" || type == "VARCHAR" || type == "CHAR" || type == "CHARACTER" ||
      type == "NVARCHAR" || type == "NCHAR" || type == "STRING") {
    spec.type = FieldType::Text;
    spec.size = size > 0 ? size : 255;
  } else if (type == "MEMO" || type == "LONGTEXT" || type == "LONGCHAR" || type == "NOTE" || type == "NTEXT") {
    spec.type = FieldType::Memo;
  } else if (type == "BYTE" || type == "TINYINT" || type == "INTEGER1") {
    spec.type = FieldType::Byte;
  } else if (type == "SHORT" || type == "SMALLINT" || type == "INTEGER2") {
    spec.type = FieldType::Short;
  } else if (type == "LONG" || type == "INT" || type == "INTEGER" || type == "INTEGER4") {
    spec.type = FieldType::Long;
  } else if (type == "COUNTER" || type == "AUTOINCREMENT") {
    spec.type = FieldType::Counter;
  } else if (type == "SINGLE" || type == "REAL" || type == "FLOAT4" || type == "IEEESINGLE") {
    spec.type = FieldType::Single;
  } else if (type == "DOUBLE" || type == "FLOAT" || type == "FLOAT8" || type == "NUMBER" || type == "IEEEDOUBLE") {
    spec.type = FieldType::Double;
  } else if (type == "CURRENCY" || type == "MONEY") {
    spec.type = FieldType::Currency;
  } else if (type == "DATETIME" || type == "DATE" || type == "TIME" || type == "TIMESTAMP") {
    spec.type = FieldType::DateTime;
  } else if (type == "YESNO" || type == "BIT" || type == "LOGICAL" || type == "LOGICAL1" || type == "BOOLEAN") {
    spec.type = FieldType::YesNo;
  }
  return spec;
}

namespace {

// The checks of a text going into a Text or Memo column.
void CheckText(const std::string& text, const FieldSpec& spec, std::string_view field) {
  if (text.empty() && !spec.allowZeroLength) {
    Raise(err::kZeroLengthNotAllowed,
          "フィールド '" + std::string(field) + "' には長さ 0 の文字列は入力できません。");
  }
  if (spec.type == FieldType::Text && Utf16Length(text) > static_cast<size_t>(spec.size)) {
    Raise(err::kFieldTooSmall);
  }
}

}  // namespace

void AssignForColumn(Variant& target, const Variant& value, const FieldSpec& spec, std::string_view field) {
  if (value.IsString() && (spec.type == FieldType::Text || spec.type == FieldType::Memo)) {
    CheckText(value.StringValue(), spec, field);
    target = value;
    return;
  }
  target = ConvertForColumn(value, spec, field);
}

Variant ConvertForColumn(const Variant& value, const FieldSpec& spec, std::string_view field) {
  // Empty is the runtime's "nothing assigned yet": the engine stores Null.
  // A yes/no column can't hold Null and stores No, as the engine does.
  if (value.IsEmpty() || value.IsNull()) {
    if (spec.type == FieldType::YesNo) return Variant(false);
    return Variant::Null();
  }
  switch (spec.type) {
    case FieldType::Variant:
      if (value.IsError()) ConversionError();
      return value;
    case FieldType::Text:
    case FieldType::Memo: {
      if (value.IsError()) ConversionError();
      std::string text = value.ToText();
      CheckText(text, spec, field);
      return Variant(std::move(text));
    }
    case FieldType::Byte:
      return Variant::Byte(static_cast<uint8_t>(WholeNumber(NumberOf(value), 0, 255)));
    case FieldType::Short:
      return Variant(static_cast<int16_t>(WholeNumber(NumberOf(value), INT16_MIN, INT16_MAX)));
    case FieldType::Long:
    case FieldType::Counter:
      return Variant(static_cast<int32_t>(WholeNumber(NumberOf(value), INT32_MIN, INT32_MAX)));
    case FieldType::Single: {
      const double number = NumberOf(value);
      if (std::fabs(number) > FLT_MAX) ConversionError();
      return Variant::Single(static_cast<float>(number));
    }
    case FieldType::Double:
      return Variant(NumberOf(value));
    case FieldType::Currency: {
      if (value.Type() == VarType::Currency) {
        const int64_t scaled = value.CurrencyScaled();
        if (scaled > kCurrencyMaxScaled || scaled < -kCurrencyMaxScaled) Raise(err::kOverflow);
        return value;
      }
      const auto scaled = CurrencyScaled(NumberOf(value));
      if (!scaled) Raise(err::kOverflow);
      return Variant::Currency(*scaled);
    }
    case FieldType::DateTime:
      return Variant::Date(DateOf(value));
    case FieldType::YesNo:
      return Variant(YesNoOf(value));
  }
  return value;
}

Variant ReadStored(sqlite3_stmt* stmt, int column, FieldType type) {
  const int storage = sqlite3_column_type(stmt, column);
  if (storage == SQLITE_NULL) return Variant::Null();
  if (storage == SQLITE_TEXT || storage == SQLITE_BLOB) {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt, column));
    std::string text(bytes ? bytes : "", static_cast<size_t>(sqlite3_column_bytes(stmt, column)));
    switch (type) {
      case FieldType::Text:
      case FieldType::Memo:
      case FieldType::Variant:
        return Variant(std::move(text));
      case FieldType::DateTime:
        if (auto date = ParseDateText(text)) return Variant::Date(*date);
        return Variant(std::move(text));
      default:
        // Text in a typed column (written by another program): as the
        // column's type when it converts, else the text itself.
        try {
          return ConvertForColumn(Variant(text), FieldSpec{type, 0, true}, "");
        } catch (const PlatformError&) {
          return Variant(std::move(text));
        }
    }
  }
  const bool integer = storage == SQLITE_INTEGER;
  const sqlite3_int64 whole = integer ? sqlite3_column_int64(stmt, column) : 0;
  const double real = integer ? static_cast<double>(whole) : sqlite3_column_double(stmt, column);
  switch (type) {
    case FieldType::Text:
    case FieldType::Memo:
      return Variant(integer ? std::to_string(whole) : Variant(real).ToText());
    case FieldType::Byte:
      if (integer && whole >= 0 && whole <= 255) return Variant::Byte(static_cast<uint8_t>(whole));
      break;
    case FieldType::Short:
      if (integer && whole >= INT16_MIN && whole <= INT16_MAX) return Variant(static_cast<int16_t>(whole));
      break;
    case FieldType::Long:
    case FieldType::Counter:
      if (integer && whole >= INT32_MIN && whole <= INT32_MAX) return Variant(static_cast<int32_t>(whole));
      break;
    case FieldType::Single:
      return Variant::Single(static_cast<float>(real));
    case FieldType::Double:
      return Variant(real);
    case FieldType::Currency:
      // A value beyond the range (written by another program) reads as
      // the number it is.
      if (integer) {
        if (whole <= kCurrencyMaxScaled / 10000 && whole >= -kCurrencyMaxScaled / 10000)
          return Variant::Currency(whole * 10000);
      } else if (const auto scaled = CurrencyScaled(real)) {
        return Variant::Currency(*scaled);
      }
      break;
    case FieldType::DateTime:
      return Variant::Date(real);
    case FieldType::YesNo:
      return Variant(real != 0);
    case FieldType::Variant:
      break;
  }
  if (integer && whole >= INT32_MIN && whole <= INT32_MAX) return Variant(static_cast<int32_t>(whole));
  return Variant(real);
}

void BindStored(sqlite3_stmt* stmt, int index, const Variant& value) {
  switch (value.Type()) {
    case VarType::Empty:
    case VarType::Null:
      sqlite3_bind_null(stmt, index);
      return;
    case VarType::Boolean:
      sqlite3_bind_int(stmt, index, value.BooleanValue() ? -1 : 0);
      return;
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
      sqlite3_bind_int64(stmt, index, value.IntegerValue());
      return;
    case VarType::Single:
    case VarType::Double:
      sqlite3_bind_double(stmt, index, value.DoubleValue());
      return;
    case VarType::Currency:
      sqlite3_bind_double(stmt, index, static_cast<double>(value.CurrencyScaled()) / 10000.0);
      return;
    case VarType::Date: {
      const std::string text = StoredDateText(value.DoubleValue());
      sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
      return;
    }
    case VarType::String: {
      const std::string& text = value.StringValue();
      sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
      return;
    }
    case VarType::Error:
      break;
  }
  Raise(err::kTypeMismatch);
}

}  // namespace pendra::dao::detail
