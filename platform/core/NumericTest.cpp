// The numeric test of the automation runtime on a Japanese system.
//
// The runtime folds full-width forms to their half-width equivalents before
// it parses (on a Japanese system "１２３" is numeric, a well known
// property of the function), then accepts, in this order:
//   blanks, one sign ("+"/"-"), one opening parenthesis, one currency sign
//   ("\" - the yen sign of code page 932 -, "¥", "￥", "$") in any order;
//   digits with "," grouping anywhere after the first digit; one "." and
//   fraction digits; an exponent "E"/"D" (either case) with an optional
//   sign and at least one digit;
//   blanks, one trailing sign, the closing parenthesis, one currency sign.
// At least one digit is needed; a parenthesised number is negative and
// takes no sign. "&H" (hexadecimal, up to 8 digits) and "&O" (octal, up to
// 32 bits) literals stand alone between blanks, and like the runtime's
// literals are 16-bit when they fit 4 hex / 6 octal digits ("&HFFFF" = -1).
// Percent signs, dates, "True"/"False", "Inf"/"NaN", C hex floats and any
// number beyond the range of a Double are not numeric.
#include "NumericTest.h"

#include <locale.h>
#include <stdlib.h>

#include <cmath>
#include <cstdint>
#include <string>

namespace pendra {

namespace {

// One character after folding: ASCII as is, a currency sign as '\\', a
// blank as ' ', anything else as 0 (never numeric).
constexpr char kCurrency = '\\';

// Decodes UTF-8 and folds full-width forms. Returns false for invalid
// UTF-8 or an embedded NUL.
bool Fold(std::string_view text, std::string& out) {
  out.clear();
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    char32_t cp = 0;
    int length = 0;
    if (c < 0x80) { cp = c; length = 1; }
    else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; length = 2; }
    else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; length = 3; }
    else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; length = 4; }
    else return false;
    if (i + length > text.size()) return false;
    for (int k = 1; k < length; ++k) {
      const auto cc = static_cast<unsigned char>(text[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    i += length;
    // Only the shortest form of a code point is UTF-8: "\xC0\xB1" is not
    // a hidden "1". Surrogates and values beyond U+10FFFF are not text.
    static constexpr char32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kShortest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    if (cp == 0) return false;
    if (cp >= 0xFF01 && cp <= 0xFF5E) cp -= 0xFEE0;   // full-width ASCII
    if (cp == 0x3000) cp = ' ';                        // ideographic space
    if (cp == '$' || cp == '\\' || cp == 0xA5 || cp == 0xFFE5) {
      out.push_back(kCurrency);
    } else if (cp == '\t' || cp == '\n' || cp == '\r' || cp == '\v' || cp == '\f') {
      out.push_back(' ');
    } else if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else {
      out.push_back('\0');
    }
  }
  return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "&H..." / "&O..." between blanks.
std::optional<double> ParseRadixLiteral(const std::string& s, size_t i) {
  // s[i] == '&'
  if (i + 1 >= s.size()) return std::nullopt;
  const char kind = s[i + 1];
  const bool hex = kind == 'H' || kind == 'h';
  const bool octal = kind == 'O' || kind == 'o';
  if (!hex && !octal) return std::nullopt;
  uint64_t value = 0;
  int digits = 0;
  size_t k = i + 2;
  for (; k < s.size(); ++k) {
    const int d = hex ? HexValue(s[k]) : (s[k] >= '0' && s[k] <= '7' ? s[k] - '0' : -1);
    if (d < 0) break;
    value = value * (hex ? 16 : 8) + static_cast<uint64_t>(d);
    ++digits;
    if (value > 0xFFFFFFFFull) return std::nullopt;  // beyond a Long: overflow
  }
  if (digits == 0) return std::nullopt;
  for (; k < s.size(); ++k)
    if (s[k] != ' ') return std::nullopt;
  const bool shortLiteral = hex ? digits <= 4 : (digits <= 6 && value <= 0xFFFF);
  if (shortLiteral) return static_cast<double>(static_cast<int16_t>(static_cast<uint16_t>(value)));
  return static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(value)));
}

}  // namespace

std::optional<double> ParseNumericText(std::string_view text) {
  std::string s;
  if (!Fold(text, s)) return std::nullopt;

  size_t i = 0;
  const size_t n = s.size();
  bool negative = false, sign = false, paren = false, currency = false;

  // Leading blanks, sign, parenthesis and currency sign, in any order.
  for (; i < n; ++i) {
    const char c = s[i];
    if (c == ' ') continue;
    if (c == '+' || c == '-') {
      if (sign) return std::nullopt;
      sign = true;
      negative = c == '-';
    } else if (c == '(') {
      if (paren) return std::nullopt;
      paren = true;
    } else if (c == kCurrency) {
      if (currency) return std::nullopt;
      currency = true;
    } else {
      break;
    }
  }
  if (i < n && s[i] == '&') {
    if (sign || paren || currency) return std::nullopt;
    return ParseRadixLiteral(s, i);
  }

  // Mantissa: digits with grouping, one decimal point, fraction digits.
  std::string clean;
  clean.reserve(n + 2);
  if (negative) clean.push_back('-');
  int digits = 0;
  for (; i < n; ++i) {
    if (IsDigit(s[i])) { clean.push_back(s[i]); ++digits; }
    else if (s[i] == ',' && digits > 0) continue;
    else break;
  }
  if (i < n && s[i] == '.') {
    clean.push_back('.');
    for (++i; i < n && IsDigit(s[i]); ++i) { clean.push_back(s[i]); ++digits; }
  }
  if (digits == 0) return std::nullopt;

  // Exponent: E or D, optional sign, at least one digit.
  if (i < n && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
    clean.push_back('e');
    ++i;
    if (i < n && (s[i] == '+' || s[i] == '-')) clean.push_back(s[i++]);
    int exponentDigits = 0;
    for (; i < n && IsDigit(s[i]); ++i) { clean.push_back(s[i]); ++exponentDigits; }
    if (exponentDigits == 0) return std::nullopt;
  }

  // Trailing blanks, sign, closing parenthesis and currency sign.
  bool closed = false;
  for (; i < n; ++i) {
    const char c = s[i];
    if (c == ' ') continue;
    if ((c == '+' || c == '-') && !sign && !closed) {
      sign = true;
      negative = c == '-';
      if (negative) clean.insert(clean.begin(), '-');
    } else if (c == ')' && paren && !closed) {
      closed = true;
    } else if (c == kCurrency && !currency) {
      currency = true;
    } else {
      return std::nullopt;
    }
  }
  if (paren != closed) return std::nullopt;
  if (paren) {
    if (sign) return std::nullopt;
    clean.insert(clean.begin(), '-');
  }

  // strtod in the "C" locale: the result must not depend on the process
  // locale. HUGE_VAL means beyond the range of a Double, which the runtime
  // calls an overflow; an underflow reads as zero.
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t{});
  const double value = strtod_l(clean.c_str(), nullptr, cLocale);
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

bool IsNumeric(const Variant& value) {
  switch (value.Type()) {
    case VarType::Empty:
      return true;
    case VarType::String:
      return ParseNumericText(value.StringValue()).has_value();
    default:
      return value.IsNumber();   // Boolean and every number; not Date, Error, Null
  }
}

}  // namespace pendra
