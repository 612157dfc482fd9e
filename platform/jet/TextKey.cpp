#include "jet/TextKey.h"

#include <algorithm>
#include <cstdint>

#include "jet/TextKeyCodes.h"

namespace pendra::jet {
namespace {

using detail::CharCode;
using detail::CodeKind;

constexpr char kEndOfWeights = 0x01;
constexpr char kEndOfKey = 0x00;
// Stands in the extra codes for a weighted character without one of its own.
constexpr std::uint8_t kNoExtra = 0x02;
// The extra code of either half of a surrogate pair.
constexpr std::uint8_t kSurrogateExtra = 0x3F;
// The kana mark that is left out at the end of the marks.
constexpr std::uint8_t kPlainKana = 3;
// Follows the kana marks, even when all of them were left out.
constexpr char kKanaMarksEnd[] = {'\xFF', '\x02', '\x80', '\xFF', '\x80'};

// The codes that follow the weights, gathered while the weights are written.
struct TrailingCodes {
  std::string extra;
  // Weighted characters the extra codes account for (one code each, or a
  // kNoExtra stand-in).
  std::size_t extraChars = 0;
  // Whether any extra code or modifier was met: from then on, unprintable
  // characters count their slot in extra-code bytes.
  bool extraStarted = false;
  // 1 when a modifier met before any extra code opened the extra codes with
  // a byte of its own; that byte takes no slot.
  std::size_t leadingModifiers = 0;
  std::string kanaMarks;
  std::string unprintable;
};

// Records extra code bytes (or, with none, a modifier) for the weighted
// character at `position`, padding the characters before it that had none.
void AddExtra(TrailingCodes& codes, std::size_t position, const std::uint8_t* bytes,
              std::size_t length, std::uint8_t modifier) {
  codes.extraStarted = true;
  if (codes.extraChars < position) {
    codes.extra.append(position - codes.extraChars, static_cast<char>(kNoExtra));
    codes.extraChars = position;
  }
  if (length > 0) {
    codes.extra.append(reinterpret_cast<const char*>(bytes), length);
    ++codes.extraChars;
  } else if (!codes.extra.empty()) {
    codes.extra.back() = static_cast<char>(static_cast<std::uint8_t>(codes.extra.back()) + modifier);
  } else {
    codes.extra.push_back(static_cast<char>(modifier));
    codes.leadingModifiers = 1;
  }
}

// An unprintable character after `position` weighted characters: 7 + 4 x
// its slot as a 2-byte big-endian number with the top bit set, then 06 and
// its code. The slot is where it falls among the extra codes: the bytes of
// extra codes so far plus the weighted characters since the last of them
// (the weighted characters alone while there are none).
void AddUnprintable(TrailingCodes& codes, std::size_t position, std::uint8_t code) {
  std::size_t slot = position;
  if (codes.extraStarted) slot = codes.extra.size() + (position - codes.extraChars) - codes.leadingModifiers;
  const unsigned value = (7 + 4 * static_cast<unsigned>(slot)) | 0x8000u;
  codes.unprintable.push_back(static_cast<char>((value >> 8) & 0xFF));
  codes.unprintable.push_back(static_cast<char>(value & 0xFF));
  codes.unprintable.push_back('\x06');
  codes.unprintable.push_back(static_cast<char>(code));
}

// The weight of half of a surrogate pair (these are not in the tables): a
// high half lies a fixed distance below its code unit. The low halves count
// up from B4F8 but step over every value whose low byte is 00 or 01 (the
// bytes that end a key's parts): two values more after the first 8 units,
// and again after every 254 more.
unsigned SurrogateWeight(char16_t unit) {
  const unsigned c = unit;
  if (c < 0xDC00) return c - 10238;
  const unsigned offset = (c - 0xDC00) % 1024;
  const unsigned band = offset < 8 ? 0 : std::min(4u, 1 + (offset - 8) / 254);
  return c - 9992 + 2 * band;
}

// Packs the kana marks three to a byte (10aabbcc) after dropping the plain
// marks at their end.
void AppendKanaMarks(std::string marks, std::string& key) {
  while (!marks.empty() && static_cast<std::uint8_t>(marks.back()) == kPlainKana) marks.pop_back();
  for (std::size_t i = 0; i < marks.size(); i += 3) {
    unsigned byte = 0x80;
    for (std::size_t j = 0; j < 3 && i + j < marks.size(); ++j)
      byte |= static_cast<unsigned>(static_cast<std::uint8_t>(marks[i + j])) << (4 - 2 * j);
    key.push_back(static_cast<char>(byte));
  }
  key.append(kKanaMarksEnd, sizeof kKanaMarksEnd);
}

std::u16string_view KeyedPart(std::u16string_view text) {
  text = text.substr(0, kMaxKeyedTextLength);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  return text;
}

}  // namespace

bool SortOrderOf(int localeId, int version, SortOrder& order) {
  if (localeId != 1033) return false;
  if (version == 0) {
    order = SortOrder::GeneralLegacy;
    return true;
  }
  if (version == 1) {
    order = SortOrder::General;
    return true;
  }
  return false;
}

void AppendTextKey(std::u16string_view text, SortOrder order, std::string& key) {
  const detail::CodeTable& table = detail::CodesOf(order);
  text = KeyedPart(text);

  TrailingCodes codes;
  std::size_t weighted = 0;  // characters that wrote a weight so far
  for (const char16_t unit : text) {
    const CharCode& code = table[unit];
    const std::size_t position = weighted;
    switch (code.kind) {
      case CodeKind::Simple:
        key.append(reinterpret_cast<const char*>(code.weight.data()), code.weightLength);
        ++weighted;
        break;
      case CodeKind::Accented:
      case CodeKind::Kana:
        key.append(reinterpret_cast<const char*>(code.weight.data()), code.weightLength);
        ++weighted;
        if (code.extraLength > 0) AddExtra(codes, position, code.extra.data(), code.extraLength, 0);
        if (code.kind == CodeKind::Kana) codes.kanaMarks.push_back(static_cast<char>(code.value));
        break;
      case CodeKind::HighSurrogate:
      case CodeKind::LowSurrogate: {
        const unsigned weight = SurrogateWeight(unit);
        key.push_back(static_cast<char>((weight >> 8) & 0xFF));
        key.push_back(static_cast<char>(weight & 0xFF));
        ++weighted;
        AddExtra(codes, position, &kSurrogateExtra, 1, 0);
        break;
      }
      case CodeKind::Modifier:
        AddExtra(codes, position, nullptr, 0, code.value);
        break;
      case CodeKind::Unprintable:
        AddUnprintable(codes, position, code.value);
        break;
      case CodeKind::Ignored:
        break;
    }
  }
  key.push_back(kEndOfWeights);

  // Stand-ins and the smallest extra codes at the end say nothing.
  while (!codes.extra.empty() && static_cast<std::uint8_t>(codes.extra.back()) <= kNoExtra)
    codes.extra.pop_back();
  key += codes.extra;

  const bool hasKana = !codes.kanaMarks.empty();
  const bool hasUnprintable = !codes.unprintable.empty();
  if (hasKana || hasUnprintable) {
    key.push_back(kEndOfWeights);
    key.push_back(kEndOfWeights);
    if (hasKana) {
      AppendKanaMarks(std::move(codes.kanaMarks), key);
      if (hasUnprintable) key.push_back('\xFF');
    }
    if (hasUnprintable) {
      key.push_back(kEndOfWeights);
      key += codes.unprintable;
    }
  }
  key.push_back(kEndOfKey);
}

void AppendDescendingTextKey(std::u16string_view text, SortOrder order, std::string& key) {
  const std::size_t start = key.size();
  AppendTextKey(text, order, key);
  for (std::size_t i = start; i < key.size(); ++i) key[i] = static_cast<char>(~static_cast<unsigned char>(key[i]));
  key.push_back(kEndOfKey);
}

}  // namespace pendra::jet
