// The per-character code tables of text index keys, one per sort order,
// read from the embedded data/text_key_codes.txt on first use (the text is
// compact on disk; the table is one fixed-size record per BMP character so
// that encoding a key costs one array look-up per character).
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "jet/TextKey.h"

namespace pendra::jet::detail {

enum class CodeKind : std::uint8_t {
  Ignored,        // leaves no trace in the key
  Simple,         // weight only
  Accented,       // weight, and an extra code after the weights
  Unprintable,    // no weight; an unprintable code at the end of the key
  Modifier,       // no weight; adds `value` to the last extra code so far
  Kana,           // weight, an optional extra code, and a kana mark (`value`)
  HighSurrogate,  // weight computed from the code unit, extra code 3F
  LowSurrogate,   // likewise
  Unknown,        // no key is known for it: a text holding it is refused
  Prolonged,      // the weight of the preceding kana's vowel (ー)
  Repeat,         // the preceding character's weight, then `extra` (々)
};

struct CharCode {
  CodeKind kind = CodeKind::Ignored;
  std::uint8_t weightLength = 0;
  std::uint8_t extraLength = 0;
  // Unprintable: its code; Modifier: the amount; Kana: the mark (2 small
  // kana, 3 other kana).
  std::uint8_t value = 0;
  std::array<std::uint8_t, 8> weight{};
  std::array<std::uint8_t, 4> extra{};
};

using CodeTable = std::array<CharCode, 0x10000>;

// The table of the order (built once, shared, never changed afterwards).
const CodeTable& CodesOf(SortOrder order);

// Parses one order's section of the code text into `table`. Raises
// std::runtime_error naming the line when the text is malformed or does not
// cover exactly the 65,536 code units.
void ParseCodes(std::string_view text, std::string_view orderName, CodeTable& table);

// The kana mark of a small kana (in the first part of the kana section; 3
// is any other kana) and of the prolonged sound mark (in the second; 1 is
// any other kana).
inline constexpr std::uint8_t kSmallKana = 2;
inline constexpr std::uint8_t kPlainKana = 3;
inline constexpr std::uint8_t kProlongedMark = 3;
inline constexpr std::uint8_t kUnprolongedMark = 1;

// The embedded code text, in pieces that each end at a line end (generated
// at build time from data/text_key_codes.txt).
std::vector<std::string_view> EmbeddedCodeText();

}  // namespace pendra::jet::detail
