#include "jet/TextKey.h"

#include <algorithm>
#include <array>
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
// The kana section's closing parts: 02, 80s, FF, as many 80s again; one 80
// up to 7 kana, two from the 8th (measured up to 14 kana; more are refused).
constexpr std::size_t kKanaPerClosingByte = 8;
constexpr std::size_t kMostKanaKnown = 14;
// The prolonged sound marks (full and half width) and the iteration mark.
constexpr char16_t kProlongedSoundMark = u'\u30FC';
constexpr char16_t kHalfWidthProlongedSoundMark = u'\uFF70';
constexpr char16_t kIterationMark = u'\u3005';

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
  std::string kanaMarks;       // per kana: small or not
  std::string prolongedMarks;  // per kana: the prolonged sound mark or not
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

// Packs kana marks three to a byte (10aabbcc) after dropping the marks
// equal to `dropped` at their end.
void AppendPacked(std::string marks, std::uint8_t dropped, std::string& key) {
  while (!marks.empty() && static_cast<std::uint8_t>(marks.back()) == dropped) marks.pop_back();
  for (std::size_t i = 0; i < marks.size(); i += 3) {
    unsigned byte = 0x80;
    for (std::size_t j = 0; j < 3 && i + j < marks.size(); ++j)
      byte |= static_cast<unsigned>(static_cast<std::uint8_t>(marks[i + j])) << (4 - 2 * j);
    key.push_back(static_cast<char>(byte));
  }
}

// The kana section after the 01 01: small marks, FF, prolonged sound marks,
// then the closing parts, which grow with the number of kana.
void AppendKanaSection(TrailingCodes& codes, std::string& key) {
  const std::size_t closing = (codes.kanaMarks.size() + kKanaPerClosingByte) / kKanaPerClosingByte;
  AppendPacked(std::move(codes.kanaMarks), detail::kPlainKana, key);
  key.push_back('\xFF');
  AppendPacked(std::move(codes.prolongedMarks), detail::kUnprolongedMark, key);
  key.push_back('\x02');
  key.append(closing, '\x80');
  key.push_back('\xFF');
  key.append(closing, '\x80');
}

// The vowel weight (7F02 a ... 7F06 o) of a kana weight 7Fxx: the kana are
// weighed in rows of eight, five vowels and three unused; ん and the kana
// after わ have no vowel we know.
bool VowelOf(const std::uint8_t* weight, std::size_t length, std::uint8_t& vowel) {
  if (length != 2 || weight[0] != 0x7F || weight[1] < 0x02 || weight[1] > 0x4A) return false;
  const unsigned place = (weight[1] - 2u) % 8u;
  if (place > 4) return false;
  vowel = static_cast<std::uint8_t>(0x02 + place);
  return true;
}

std::u16string_view KeyedPart(std::u16string_view text) {
  text = text.substr(0, kMaxKeyedTextLength);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  return text;
}

}  // namespace

bool SortOrderOf(int localeId, int version, SortOrder& order) {
  if (localeId == 1041 && version == 0) {
    order = SortOrder::Japanese;
    return true;
  }
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

namespace {

// The code of a character in an order. The General tables were made
// without the kana section's rules: in General Legacy the prolonged sound
// mark weighs as the vowel before it, as in Japanese (measured); in General
// neither it nor the iteration mark is known, and in General Legacy the
// iteration mark is not either (Japanese repeats the weight before it; the
// table gives it one of its own).
CharCode CodeOf(const detail::CodeTable& table, SortOrder order, char16_t unit) {
  CharCode code = table[unit];
  if (order == SortOrder::Japanese) return code;
  if (unit == kProlongedSoundMark || unit == kHalfWidthProlongedSoundMark)
    code.kind = order == SortOrder::GeneralLegacy ? CodeKind::Prolonged : CodeKind::Unknown;
  else if (unit == kIterationMark)
    code.kind = CodeKind::Unknown;
  return code;
}

// What the loop knows of the last character that wrote a weight.
struct LastWeighted {
  std::array<std::uint8_t, 8> weight{};
  std::uint8_t length = 0;
  bool kana = false;       // a kana (not ー), whose vowel a ー after it takes
  bool ideograph = false;  // a two-byte weight an iteration mark repeats
  std::uint8_t kanaMark = detail::kPlainKana;
};

}  // namespace

bool AppendTextKey(std::u16string_view text, SortOrder order, std::string& key, TextKeyRefusal* refusal) {
  const detail::CodeTable& table = detail::CodesOf(order);
  text = KeyedPart(text);
  const std::size_t start = key.size();
  const auto refuse = [&](std::size_t at) {
    key.resize(start);
    if (refusal != nullptr) {
      refusal->position = at;
      refusal->unit = text[at];
    }
    return false;
  };
  // The most kana whose closing parts are known: 14 (the 80s grow at 8); in
  // General, whose kana section nobody measured, those of up to 7 kana only.
  const std::size_t mostKana = order == SortOrder::General ? kKanaPerClosingByte - 1 : kMostKanaKnown;
  const bool japanese = order == SortOrder::Japanese;

  TrailingCodes codes;
  LastWeighted last;
  std::size_t weighted = 0;  // characters that wrote a weight so far
  // Where the rules we know end: an unprintable code together with kana
  // the old closing parts do not describe (or, in Japanese, with anything
  // beyond ASCII) has a layout nobody measured.
  std::size_t firstUnprintable = std::string_view::npos;
  std::size_t firstBeyondKnownMix = std::string_view::npos;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    const CharCode code = CodeOf(table, order, unit);
    const std::size_t position = weighted;
    const auto weigh = [&](const std::uint8_t* bytes, std::uint8_t length) {
      key.append(reinterpret_cast<const char*>(bytes), length);
      ++weighted;
      std::copy(bytes, bytes + length, last.weight.begin());
      last.length = length;
      last.kana = false;
      last.ideograph = length == 2 && bytes[0] >= 0x81;
    };
    if (japanese && unit > 0x7F && firstBeyondKnownMix == std::string_view::npos) firstBeyondKnownMix = i;
    switch (code.kind) {
      case CodeKind::Simple:
        weigh(code.weight.data(), code.weightLength);
        break;
      case CodeKind::Accented:
      case CodeKind::Kana:
        weigh(code.weight.data(), code.weightLength);
        if (code.extraLength > 0) AddExtra(codes, position, code.extra.data(), code.extraLength, 0);
        if (code.kind == CodeKind::Kana) {
          codes.kanaMarks.push_back(static_cast<char>(code.value));
          codes.prolongedMarks.push_back(static_cast<char>(detail::kUnprolongedMark));
          last.kana = true;
          last.kanaMark = code.value;
        }
        break;
      case CodeKind::Prolonged: {
        // It lengthens the kana before it: its vowel, its small mark.
        std::uint8_t vowel = 0;
        if (!last.kana || !VowelOf(last.weight.data(), last.length, vowel)) return refuse(i);
        const std::uint8_t weight[2] = {0x7F, vowel};
        const std::uint8_t mark = last.kanaMark;
        weigh(weight, 2);
        codes.kanaMarks.push_back(static_cast<char>(mark));
        codes.prolongedMarks.push_back(static_cast<char>(detail::kProlongedMark));
        if (firstBeyondKnownMix == std::string_view::npos) firstBeyondKnownMix = i;
        break;
      }
      case CodeKind::Repeat: {
        if (!last.ideograph) return refuse(i);
        const LastWeighted repeated = last;
        weigh(repeated.weight.data(), repeated.length);
        AddExtra(codes, position, code.extra.data(), code.extraLength, 0);
        break;
      }
      case CodeKind::HighSurrogate:
      case CodeKind::LowSurrogate: {
        const unsigned weight = SurrogateWeight(unit);
        const std::uint8_t bytes[2] = {static_cast<std::uint8_t>((weight >> 8) & 0xFF),
                                       static_cast<std::uint8_t>(weight & 0xFF)};
        weigh(bytes, 2);
        last.ideograph = false;
        AddExtra(codes, position, &kSurrogateExtra, 1, 0);
        break;
      }
      case CodeKind::Modifier:
        // In Japanese a voicing mark is known only after a kana.
        if (japanese && !last.kana) return refuse(i);
        AddExtra(codes, position, nullptr, 0, code.value);
        break;
      case CodeKind::Unprintable:
        AddUnprintable(codes, position, code.value);
        last.kana = false;
        if (firstUnprintable == std::string_view::npos) firstUnprintable = i;
        break;
      case CodeKind::Ignored:
        break;
      case CodeKind::Unknown:
        return refuse(i);
    }
    if (codes.kanaMarks.size() > mostKana) return refuse(i);
    if (codes.kanaMarks.size() == kKanaPerClosingByte && firstBeyondKnownMix == std::string_view::npos)
      firstBeyondKnownMix = i;
  }
  if (firstUnprintable != std::string_view::npos && firstBeyondKnownMix != std::string_view::npos)
    return refuse(std::max(firstUnprintable, firstBeyondKnownMix));
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
      AppendKanaSection(codes, key);
      if (hasUnprintable) key.push_back('\xFF');
    }
    if (hasUnprintable) {
      key.push_back(kEndOfWeights);
      key += codes.unprintable;
    }
  }
  key.push_back(kEndOfKey);
  return true;
}

bool AppendDescendingTextKey(std::u16string_view text, SortOrder order, std::string& key, TextKeyRefusal* refusal) {
  const std::size_t start = key.size();
  if (!AppendTextKey(text, order, key, refusal)) return false;
  for (std::size_t i = start; i < key.size(); ++i) key[i] = static_cast<char>(~static_cast<unsigned char>(key[i]));
  key.push_back(kEndOfKey);
  return true;
}

}  // namespace pendra::jet
