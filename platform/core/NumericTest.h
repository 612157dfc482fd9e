// IsNumeric with the Japanese locale's rules, as the expansion uses it to
// decide whether a cell value goes to its column or is replaced by the
// column's fallback.
#pragma once

#include <optional>
#include <string_view>

#include "Variant.h"

namespace pendra {

// True for numbers, Booleans and Empty; for text that converts as a whole
// to a number: blanks around it, a leading or trailing sign, digit grouping
// with ",", a decimal ".", a currency sign ("¥", "￥", "$"), an exponent,
// also "&H"/"&O" literals. False for dates, error values, Null, zero-length
// text and any other text.
bool IsNumeric(const Variant& value);

// The number a numeric text stands for, or nothing when it is not numeric.
std::optional<double> ParseNumericText(std::string_view text);

}  // namespace pendra
