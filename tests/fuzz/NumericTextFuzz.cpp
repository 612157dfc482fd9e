// Fuzz target: the numeric test on any text.
//
// ParseNumericText and IsNumeric agree; a number found is finite; text that
// is not well-formed UTF-8 is never numeric; and the result does not change
// when the text gets blanks around it, when its ASCII characters are written
// in their full-width forms (the Japanese system folds them), or - for a
// number written with digits first - when it gets a leading minus sign or
// parentheses (both negate).
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "core/NumericTest.h"
#include "core/Variant.h"

namespace {

using pendra::ParseNumericText;

bool Same(const std::optional<double>& a, const std::optional<double>& b) {
  return a.has_value() == b.has_value() && (!a || *a == *b);
}

// Printable ASCII in its full-width form (U+FF01 to U+FF5E, U+3000 for the
// blank); false when the text holds anything else.
bool FullWidth(std::string_view text, std::string& out) {
  out.clear();
  for (const char c : text) {
    if (c == ' ') {
      out += "\xE3\x80\x80";
      continue;
    }
    if (c < 0x21 || c > 0x7E) return false;
    const char32_t cp = static_cast<char32_t>(c) + 0xFEE0;
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<double> value = ParseNumericText(text);

  FUZZ_CHECK(pendra::IsNumeric(pendra::Variant(std::string(text))) == value.has_value(),
             "IsNumeric agrees with ParseNumericText");
  if (value) FUZZ_CHECK(std::isfinite(*value), "a number is finite");
  if (!pendra::fuzz::IsValidUtf8(text)) FUZZ_CHECK(!value, "invalid UTF-8 is not numeric");

  const std::string padded = " " + std::string(text) + "\t ";
  FUZZ_CHECK(Same(ParseNumericText(padded), value), "blanks around the text change nothing");
  const std::string ideographic = "\xE3\x80\x80" + std::string(text) + "\xE3\x80\x80";
  FUZZ_CHECK(Same(ParseNumericText(ideographic), value), "ideographic blanks change nothing");

  std::string wide;
  if (FullWidth(text, wide)) {
    FUZZ_CHECK(Same(ParseNumericText(wide), value), "full-width forms read as ASCII");
  }

  if (value && !text.empty() && text[0] >= '0' && text[0] <= '9') {
    const auto minus = ParseNumericText("-" + std::string(text));
    if (minus) FUZZ_CHECK(*minus == -*value, "a leading minus negates");
    const auto parenthesised = ParseNumericText("(" + std::string(text) + ")");
    if (parenthesised) FUZZ_CHECK(*parenthesised == -*value, "parentheses negate");
  }
  return 0;
}
