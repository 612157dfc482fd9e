// Filled in with the foundation work; kept compiling meanwhile.
#include "NumericTest.h"

#include <cstdlib>
#include <string>

namespace pendra {

std::optional<double> ParseNumericText(std::string_view text) {
  std::string copy(text);
  if (copy.empty()) return std::nullopt;
  char* end = nullptr;
  double value = std::strtod(copy.c_str(), &end);
  if (end == copy.c_str() || *end != '\0') return std::nullopt;
  return value;
}

bool IsNumeric(const Variant& value) {
  if (value.IsEmpty() || value.IsNumber()) return true;
  if (value.IsString()) return ParseNumericText(value.StringValue()).has_value();
  return false;
}

}  // namespace pendra
