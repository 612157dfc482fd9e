#include "CellKinds.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

#include <com/sun/star/util/NumberFormat.hpp>

#include "UnoSupport.h"

namespace pendra::excel {

namespace NumberFormat = css::util::NumberFormat;

namespace {

// The functions whose result is always a Boolean.
constexpr std::array<std::string_view, 19> kLogicalFunctions = {
    "AND",     "OR",      "XOR",    "NOT",     "TRUE",      "FALSE",   "EXACT",
    "ISBLANK", "ISERR",   "ISERROR", "ISEVEN", "ISODD",     "ISFORMULA", "ISLOGICAL",
    "ISNA",    "ISNONTEXT", "ISNUMBER", "ISREF", "ISTEXT",
};

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// Calls `visit(index, depth)` for every character outside string literals
// and quoted sheet names; stops when it returns false. Returns false when
// the text is unbalanced.
template <typename Visit>
bool ScanOutsideQuotes(std::string_view s, Visit&& visit) {
  int depth = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '"' || c == '\'') {
      const size_t end = s.find(c, i + 1);  // a doubled quote reopens at once
      if (end == std::string_view::npos) return false;
      i = end;
      continue;
    }
    if (c == '(' || c == '{' || c == '[') ++depth;
    if (c == ')' || c == '}' || c == ']') --depth;
    if (depth < 0) return false;
    if (!visit(i, depth)) break;
  }
  return depth == 0;
}

// The index of the parenthesis that closes the one at `open`, or npos.
size_t ClosingParenthesis(std::string_view s, size_t open) {
  size_t closing = std::string_view::npos;
  ScanOutsideQuotes(s.substr(open), [&](size_t i, int depth) {
    if (depth == 0 && s[open + i] == ')') {
      closing = open + i;
      return false;
    }
    return true;
  });
  return closing;
}

}  // namespace

bool FormulaYieldsBoolean(std::string_view formula) {
  std::string_view s = Trimmed(formula);
  if (!s.empty() && s.front() == '=') s = Trimmed(s.substr(1));
  // Parentheses around the whole formula change nothing.
  while (s.size() >= 2 && s.front() == '(' && ClosingParenthesis(s, 0) == s.size() - 1)
    s = Trimmed(s.substr(1, s.size() - 2));
  if (s.empty()) return false;
  // A comparison binds loosest: one outside parentheses makes the result.
  bool comparison = false;
  const bool balanced = ScanOutsideQuotes(s, [&](size_t i, int depth) {
    comparison = depth == 0 && (s[i] == '=' || s[i] == '<' || s[i] == '>');
    return !comparison;
  });
  if (!balanced) return false;
  if (comparison) return true;
  // A call that spans the whole formula.
  const size_t open = s.find('(');
  if (open == std::string_view::npos || ClosingParenthesis(s, open) != s.size() - 1) return false;
  std::string name(Trimmed(s.substr(0, open)));
  for (auto& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (name.rfind("_XLFN.", 0) == 0) name.erase(0, 6);
  return std::find(kLogicalFunctions.begin(), kLogicalFunctions.end(), name) != kLogicalFunctions.end();
}

bool IsExcelFilter(const rtl::OUString& filter) {
  return filter.indexOf("Excel") >= 0 || filter.indexOf("Office Open XML") >= 0;
}

std::optional<Variant> ValueOf(const StoredCell& cell, const DocumentKinds& document) {
  double number = 0;
  rtl::OUString text;
  const bool logical = (cell.formatType & NumberFormat::LOGICAL) != 0;
  const bool dated = (cell.formatType & (NumberFormat::DATE | NumberFormat::TIME)) != 0;
  switch (cell.kind) {
    case StoredKind::Empty:
      return Variant();
    case StoredKind::Text:
      cell.content >>= text;
      return Variant(FromOU(text));  // also of length zero: the file stored a text
    case StoredKind::Value:
      if (!(cell.content >>= number)) return Variant();
      // A stored Boolean is 0 or 1; a number with a logical format in an
      // Excel format is just a number (the import made its Booleans formulas).
      if (logical && (number == 0 || number == 1) && (!document.excelImport || cell.writtenAsBoolean))
        return Variant(number != 0);
      if (dated) return Variant::Date(number + document.dateOffset);
      return Variant(number);
    case StoredKind::Formula:
      if (cell.content >>= text) return Variant(FromOU(text));
      if (!(cell.content >>= number)) return std::nullopt;  // an error
      if ((logical && (number == 0 || number == 1)) || FormulaYieldsBoolean(FromOU(*cell.formula)))
        return Variant(number != 0);
      if (dated) return Variant::Date(number + document.dateOffset);
      return Variant(number);
  }
  return Variant();
}

}  // namespace pendra::excel
