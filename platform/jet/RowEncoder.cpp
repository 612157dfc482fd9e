#include "RowEncoder.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "JetText.h"
#include "core/PlatformError.h"
#include "core/AccessType.h"

namespace pendra::jet {

namespace {


constexpr size_t kMaxInlineLongValue = 64;
constexpr uint32_t kLongValueInline = 0x80u << 24;
constexpr uint32_t kLongValueOnePage = 0x40u << 24;
constexpr size_t kLongValueHeader = 12;

std::string Le(uint64_t v, size_t n) {
  std::string out(n, '\0');
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return out;
}

[[noreturn]] void RaiseAt(long number, const Column& column, long row, const std::string& what) {
  Raise(number, "行 " + std::to_string(row + 1) + " の列 '" + column.name + "': " + what);
}

int64_t WholeNumber(const Column& column, const Variant& value, long row) {
  switch (value.Type()) {
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long: return value.IntegerValue();
    case VarType::Boolean: return value.BooleanValue() ? -1 : 0;
    case VarType::Single:
    case VarType::Double: {
      const double d = value.DoubleValue();
      if (!std::isfinite(d) || d != std::floor(d) || std::fabs(d) > 9.2e18) RaiseAt(err::kTypeMismatch, column, row, "整数ではありません");
      return static_cast<int64_t>(d);
    }
    default: RaiseAt(err::kTypeMismatch, column, row, "数値ではありません (" + value.Describe() + ")");
  }
}

double RealNumber(const Column& column, const Variant& value, long row) {
  switch (value.Type()) {
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long: return static_cast<double>(value.IntegerValue());
    case VarType::Single:
    case VarType::Double:
    case VarType::Date: return value.DoubleValue();
    case VarType::Currency: return static_cast<double>(value.CurrencyScaled()) / 10000.0;
    default: RaiseAt(err::kTypeMismatch, column, row, "数値ではありません (" + value.Describe() + ")");
  }
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" as stored: the first three
// groups little-endian, the rest as written.
std::string GuidBytes(const Column& column, const Variant& value) {
  std::string hex;
  if (value.IsString())
    for (char c : value.StringValue())
      if (std::isxdigit(static_cast<unsigned char>(c))) hex += c;
  if (hex.size() != 32) Raise(err::kTypeMismatch, "列 '" + column.name + "' の値は GUID ではありません");
  std::string bytes;
  for (size_t i = 0; i < 32; i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  std::reverse(bytes.begin(), bytes.begin() + 4);
  std::reverse(bytes.begin() + 4, bytes.begin() + 6);
  std::reverse(bytes.begin() + 6, bytes.begin() + 8);
  return bytes;
}

// A decimal text ("-12.34") at the column's scale: a sign byte, then the
// 128-bit magnitude as four 32-bit words, most significant first, each
// little-endian.
std::string DecimalBytes(const Column& column, const Variant& value) {
  const int scale = column.sortOrder >> 8;
  const int precision = column.sortOrder & 0xFF;
  const std::string text = value.IsString() ? value.StringValue() : value.ToText();
  const auto bad = [&] { Raise(err::kTypeMismatch, "列 '" + column.name + "' の値 '" + text + "' は十進数ではありません"); };
  size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (negative || (!text.empty() && text[0] == '+')) ++i;
  std::string whole, fraction;
  bool point = false;
  for (; i < text.size(); ++i) {
    if (text[i] == '.' && !point) {
      point = true;
    } else if (std::isdigit(static_cast<unsigned char>(text[i]))) {
      (point ? fraction : whole) += text[i];
    } else {
      bad();
    }
  }
  if (whole.empty() && fraction.empty()) bad();
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  if (static_cast<int>(fraction.size()) > scale) Raise(err::kOverflow, "列 '" + column.name + "' の値 '" + text + "' は小数点以下の桁数が多すぎます");
  fraction.append(static_cast<size_t>(scale) - fraction.size(), '0');
  std::string digits = whole + fraction;
  digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
  if (static_cast<int>(digits.size()) > precision) Raise(err::kOverflow, "列 '" + column.name + "' の値 '" + text + "' は桁数が多すぎます");
  __extension__ typedef unsigned __int128 Uint128;
  Uint128 magnitude = 0;
  for (char d : digits) magnitude = magnitude * 10 + static_cast<unsigned>(d - '0');
  std::string bytes(1, negative && magnitude != 0 ? static_cast<char>(0x80) : '\0');
  for (int word = 3; word >= 0; --word) bytes += Le(static_cast<uint64_t>(magnitude >> (32 * word)) & 0xFFFFFFFFu, 4);
  return bytes;
}

}  // namespace

bool IsWritableType(int type) {
  switch (static_cast<AccessType>(type)) {
    case AccessType::YesNo:
    case AccessType::Byte:
    case AccessType::Integer:
    case AccessType::Long:
    case AccessType::Currency:
    case AccessType::Single:
    case AccessType::Double:
    case AccessType::DateTime:
    case AccessType::Text:
    case AccessType::Memo:
    case AccessType::Ole:
    case AccessType::Guid:
    case AccessType::Decimal:
    case AccessType::Binary: return true;
    default: return false;
  }
}

RowEncoder::RowEncoder(const JetFile& file, const TableDefinition& table, LongValueWriters longValues)
    : file_(file), table_(table), longValues_(std::move(longValues)) {
  for (const Column& column : table.columns) {
    if (column.type == static_cast<int>(AccessType::YesNo)) continue;
    if (column.IsFixed()) {
      fixedSize_ = std::max(fixedSize_, static_cast<size_t>(column.fixedOffset + column.length));
    } else {
      varCount_ = std::max(varCount_, column.varIndex + 1);
    }
  }
}

std::string RowEncoder::Fixed(const Column& column, const Variant& value) const {
  const long row = 0;
  switch (static_cast<AccessType>(column.type)) {
    case AccessType::Byte: {
      const int64_t v = WholeNumber(column, value, row);
      if (v < 0 || v > 255) Raise(err::kOverflow, "列 '" + column.name + "' の値 " + std::to_string(v) + " はバイト型の範囲外です");
      return Le(static_cast<uint64_t>(v), 1);
    }
    case AccessType::Integer: {
      const int64_t v = WholeNumber(column, value, row);
      if (v < -32768 || v > 32767) Raise(err::kOverflow, "列 '" + column.name + "' の値 " + std::to_string(v) + " は整数型の範囲外です");
      return Le(static_cast<uint64_t>(v), 2);
    }
    case AccessType::Long: {
      const int64_t v = WholeNumber(column, value, row);
      if (v < INT32_MIN || v > INT32_MAX) Raise(err::kOverflow, "列 '" + column.name + "' の値 " + std::to_string(v) + " は長整数型の範囲外です");
      return Le(static_cast<uint64_t>(v), 4);
    }
    case AccessType::Currency: {
      int64_t scaled = 0;
      if (value.Type() == VarType::Currency) {
        scaled = value.CurrencyScaled();
      } else {
        const double d = RealNumber(column, value, row) * 10000.0;
        if (!std::isfinite(d) || std::fabs(d) > 9.2e18) Raise(err::kOverflow, "列 '" + column.name + "' の値は通貨型の範囲外です");
        scaled = static_cast<int64_t>(std::llround(d));
      }
      return Le(static_cast<uint64_t>(scaled), 8);
    }
    case AccessType::Single: {
      const auto f = static_cast<float>(RealNumber(column, value, row));
      uint32_t bits = 0;
      std::memcpy(&bits, &f, sizeof bits);
      return Le(bits, 4);
    }
    case AccessType::Double:
    case AccessType::DateTime: {
      const double d = RealNumber(column, value, row);
      uint64_t bits = 0;
      std::memcpy(&bits, &d, sizeof bits);
      return Le(bits, 8);
    }
    case AccessType::Guid: return GuidBytes(column, value);
    case AccessType::Decimal: return DecimalBytes(column, value);
    default: Raise(err::kDataTypeConversion, "列 '" + column.name + "' の型 " + TypeName(column.type) + " は書き込めません");
  }
}

std::string RowEncoder::LongValue(const Column& column, const std::string& data) {
  DataPageWriter& writer = longValues_(column.number);
  std::string header;
  if (data.size() <= kMaxInlineLongValue) {
    header = Le(kLongValueInline | data.size(), 4) + Le(0, 8);
    return header + data;
  }
  const size_t maxRow = writer.MaxRow();
  if (data.size() <= maxRow) {
    const uint32_t pointer = writer.Add(data);
    return Le(kLongValueOnePage | data.size(), 4) + Le(pointer, 4) + Le(0, 4);
  }
  // A chain: each row starts with the pointer to the next one, so the rows
  // are written last to first.
  const size_t chunk = maxRow - 4;
  std::vector<std::string> pieces;
  for (size_t at = 0; at < data.size(); at += chunk) pieces.push_back(data.substr(at, chunk));
  std::vector<uint32_t> pointers(pieces.size());
  uint32_t next = 0;
  for (size_t i = pieces.size(); i-- > 0;) {
    pointers[i] = writer.Add(Le(next, 4) + pieces[i]);
    next = pointers[i];
  }
  return Le(data.size(), 4) + Le(pointers[0], 4) + Le(0, 4);
}

std::string RowEncoder::Variable(const Column& column, const Variant& value) {
  const auto kind = static_cast<AccessType>(column.type);
  if (kind == AccessType::Guid) return GuidBytes(column, value);
  if (kind == AccessType::Binary) {
    if (!value.IsString()) Raise(err::kTypeMismatch, "列 '" + column.name + "' の値はバイト列ではありません");
    if (value.StringValue().size() > static_cast<size_t>(column.length))
      Raise(err::kFieldTooSmall, "列 '" + column.name + "' の値が長すぎます (" + std::to_string(value.StringValue().size()) + " バイト)");
    return value.StringValue();
  }
  if (kind == AccessType::Decimal) return DecimalBytes(column, value);
  if (kind == AccessType::Ole) {
    if (!value.IsString()) Raise(err::kTypeMismatch, "列 '" + column.name + "' の値はバイト列ではありません");
    return LongValue(column, value.StringValue());
  }
  if (kind != AccessType::Text && kind != AccessType::Memo)
    Raise(err::kDataTypeConversion, "列 '" + column.name + "' の型 " + TypeName(column.type) + " は書き込めません");
  const std::u16string text = Utf8ToUtf16(value.IsString() ? value.StringValue() : value.ToText());
  // Stored text that begins with the bytes FF FE is read as compressed: a
  // value beginning with U+FEFF would come back as another value.
  if (!text.empty() && text[0] == u'\uFEFF')
    Raise(err::kInvalidOperation, "列 '" + column.name + "' の値が U+FEFF で始まっています。この値は正しく読み戻せないため書き込みません");
  if (kind == AccessType::Text) {
    if (text.size() * 2 > static_cast<size_t>(column.length))
      Raise(err::kFieldTooSmall, "列 '" + column.name + "' の値が長すぎます (" + std::to_string(text.size()) + " 文字、最大 " +
                                     std::to_string(column.length / 2) + " 文字)");
    return EncodeStoredText(text, column.IsCompressedUnicode());
  }
  return LongValue(column, EncodeStoredText(text, column.IsCompressedUnicode()));
}

std::string RowEncoder::Encode(const std::vector<Variant>& values, long row) {
  if (values.size() != table_.columns.size())
    Raise(err::kInvalidArgument, "行 " + std::to_string(row + 1) + " の値の数 " + std::to_string(values.size()) + " が列の数 " +
                                     std::to_string(table_.columns.size()) + " と違います");
  const auto columnCount = static_cast<size_t>(table_.maxColumns);
  std::string nullMask((columnCount + 7) / 8, '\0');
  std::string fixed(fixedSize_, '\0');
  std::vector<std::string> variable(static_cast<size_t>(varCount_));
  for (size_t i = 0; i < values.size(); ++i) {
    const Column& column = table_.columns[i];
    const Variant& value = values[i];
    const auto bit = static_cast<size_t>(column.number);
    if (bit >= columnCount) Raise(err::kInvalidOperation, "列 '" + column.name + "' の番号が列の最大数を超えています");
    if (column.type == static_cast<int>(AccessType::YesNo)) {
      const bool yes = !value.IsNull() && !value.IsEmpty() && (value.Type() == VarType::Boolean ? value.BooleanValue() : WholeNumber(column, value, row) != 0);
      if (yes) nullMask[bit / 8] = static_cast<char>(nullMask[bit / 8] | (1 << (bit % 8)));
      continue;
    }
    if (value.IsNull() || value.IsEmpty()) continue;
    try {
      // The type decides the bytes, the column's flag where they go (a few
      // system tables keep numbers among the variable-length values).
      std::string bytes = IsNumberType(column.type) ? Fixed(column, value) : Variable(column, value);
      if (column.IsFixed()) {
        bytes.resize(static_cast<size_t>(column.length), '\0');
        fixed.replace(static_cast<size_t>(column.fixedOffset), static_cast<size_t>(column.length), bytes);
      } else {
        variable[static_cast<size_t>(column.varIndex)] = std::move(bytes);
      }
    } catch (const PlatformError& e) {
      Raise(e.Number(), "行 " + std::to_string(row + 1) + ": " + e.Description());
    }
    nullMask[bit / 8] = static_cast<char>(nullMask[bit / 8] | (1 << (bit % 8)));
  }
  // Count, fixed data, variable data, offsets last to first, count, mask.
  // A table without variable-length columns keeps no such section at all.
  if (table_.varColumns == 0 && varCount_ > 0)
    RaiseDamaged(file_.path(), "テーブル '" + table_.name + "' の定義に可変長の列の数がありません");
  size_t size = 2 + fixed.size() + 2 * (variable.size() + 2) + nullMask.size();  // at most
  for (const std::string& v : variable) size += v.size();
  std::string out;
  out.reserve(size);
  out += Le(columnCount, 2);
  out += fixed;
  if (table_.varColumns == 0) {
    out += nullMask;
    return out;
  }
  std::vector<size_t> offsets;
  offsets.reserve(variable.size() + 1);
  for (const std::string& v : variable) {
    offsets.push_back(out.size());
    out += v;
  }
  offsets.push_back(out.size());
  for (size_t i = offsets.size(); i-- > 0;) out += Le(offsets[i], 2);
  out += Le(static_cast<uint64_t>(varCount_), 2);
  out += nullMask;
  return out;
}

}  // namespace pendra::jet
