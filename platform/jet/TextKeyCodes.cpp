#include "jet/TextKeyCodes.h"

#include <charconv>
#include <memory>
#include <stdexcept>
#include <string>

namespace pendra::jet::detail {
namespace {

// Splits off the next blank-separated field of a line.
std::string_view NextField(std::string_view& line) {
  const std::size_t start = line.find_first_not_of(' ');
  if (start == std::string_view::npos) {
    line = {};
    return {};
  }
  line.remove_prefix(start);
  const std::size_t end = line.find(' ');
  const std::string_view field = line.substr(0, end);
  line.remove_prefix(end == std::string_view::npos ? line.size() : end);
  return field;
}

[[noreturn]] void Malformed(std::string_view orderName, int lineNumber, const std::string& why) {
  throw std::runtime_error("text key codes of " + std::string(orderName) + ", line " +
                           std::to_string(lineNumber) + ": " + why);
}

// Reads hex bytes ("E002") into `out`; returns their count, or -1 when the
// field is not whole hex bytes or longer than `out`.
template <std::size_t N>
int HexBytes(std::string_view field, std::array<std::uint8_t, N>& out) {
  if (field.empty() || field.size() % 2 != 0 || field.size() / 2 > N) return -1;
  for (std::size_t i = 0; i < field.size() / 2; ++i) {
    unsigned value = 0;
    const char* first = field.data() + 2 * i;
    const auto [ptr, ec] = std::from_chars(first, first + 2, value, 16);
    if (ec != std::errc() || ptr != first + 2) return -1;
    out[i] = static_cast<std::uint8_t>(value);
  }
  return static_cast<int>(field.size() / 2);
}

// The weight of the next character of a run: one more than `weight`, as a
// big-endian number of `length` bytes. False when it would overflow.
bool Increment(std::array<std::uint8_t, 8>& weight, int length) {
  for (int i = length - 1; i >= 0; --i) {
    if (++weight[static_cast<std::size_t>(i)] != 0) return true;
  }
  return false;
}

CodeKind KindOf(std::string_view field, bool& known) {
  known = field.size() == 1;
  switch (known ? field[0] : '\0') {
    case 's': return CodeKind::Simple;
    case 'e': return CodeKind::Accented;
    case 'u': return CodeKind::Unprintable;
    case 'm': return CodeKind::Modifier;
    case 'k': return CodeKind::Kana;
    case 'i': return CodeKind::Ignored;
    case 'h': return CodeKind::HighSurrogate;
    case 'l': return CodeKind::LowSurrogate;
    case 'x': return CodeKind::Unknown;
    case 'p': return CodeKind::Prolonged;
    case 'r': return CodeKind::Repeat;
    default: known = false; return CodeKind::Ignored;
  }
}

// One record line ("[N] KIND [CODE [EXTRA [FLAG]]]") as the code of its
// first character and the number of characters it covers.
CharCode ParseRecord(std::string_view line, std::string_view orderName, int lineNumber,
                     long& count) {
  std::string_view field = NextField(line);
  count = 1;
  if (!field.empty() && field[0] >= '0' && field[0] <= '9') {
    const auto [ptr, ec] = std::from_chars(field.data(), field.data() + field.size(), count);
    if (ec != std::errc() || ptr != field.data() + field.size() || count < 1)
      Malformed(orderName, lineNumber, "bad run length");
    field = NextField(line);
  }
  bool known = false;
  CharCode code;
  code.kind = KindOf(field, known);
  if (!known) Malformed(orderName, lineNumber, "unknown kind '" + std::string(field) + "'");

  switch (code.kind) {
    case CodeKind::Simple:
    case CodeKind::Accented:
    case CodeKind::Kana: {
      const int length = HexBytes(NextField(line), code.weight);
      if (length < 0) Malformed(orderName, lineNumber, "bad weight");
      code.weightLength = static_cast<std::uint8_t>(length);
      break;
    }
    case CodeKind::Unprintable:
    case CodeKind::Modifier: {
      std::array<std::uint8_t, 1> value{};
      if (HexBytes(NextField(line), value) != 1) Malformed(orderName, lineNumber, "bad code");
      code.value = value[0];
      break;
    }
    default:
      break;
  }
  if (code.kind == CodeKind::Accented || code.kind == CodeKind::Kana || code.kind == CodeKind::Repeat) {
    const std::string_view extra = NextField(line);
    if (!(code.kind == CodeKind::Kana && extra == "-")) {
      const int length = HexBytes(extra, code.extra);
      if (length < 0) Malformed(orderName, lineNumber, "bad extra code");
      code.extraLength = static_cast<std::uint8_t>(length);
    }
  }
  if (code.kind == CodeKind::Kana) {
    const std::string_view mark = NextField(line);
    if (mark != "2" && mark != "3") Malformed(orderName, lineNumber, "bad kana mark");
    code.value = static_cast<std::uint8_t>(mark[0] - '0');
  }
  if (!NextField(line).empty()) Malformed(orderName, lineNumber, "trailing fields");
  return code;
}

const char* SectionOf(SortOrder order) {
  switch (order) {
    case SortOrder::General: return "General";
    case SortOrder::Japanese: return "Japanese";
    case SortOrder::GeneralLegacy: break;
  }
  return "GeneralLegacy";
}

std::unique_ptr<CodeTable> BuildTable(SortOrder order) {
  std::string text;
  for (const std::string_view piece : EmbeddedCodeText()) text += piece;
  auto table = std::make_unique<CodeTable>();
  ParseCodes(text, SectionOf(order), *table);
  return table;
}

}  // namespace

void ParseCodes(std::string_view text, std::string_view orderName, CodeTable& table) {
  bool inSection = false;
  bool sectionSeen = false;
  std::size_t next = 0;  // the first code unit not yet covered
  int lineNumber = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++lineNumber;
    if (line.empty() || line[0] == '#') continue;
    if (line.substr(0, 6) == "order ") {
      if (inSection) break;
      inSection = line.substr(6) == orderName;
      sectionSeen = sectionSeen || inSection;
      continue;
    }
    if (!inSection) continue;

    long count = 0;
    CharCode code = ParseRecord(line, orderName, lineNumber, count);
    if (static_cast<std::size_t>(count) > table.size() - next)
      Malformed(orderName, lineNumber, "runs past U+FFFF");
    const bool incrementing = code.weightLength > 0;
    for (long i = 0; i < count; ++i) {
      if (i > 0 && incrementing && !Increment(code.weight, code.weightLength))
        Malformed(orderName, lineNumber, "run overflows its weight");
      table[next++] = code;
    }
  }
  if (!sectionSeen) Malformed(orderName, lineNumber, "no such order");
  if (next != table.size())
    Malformed(orderName, lineNumber, "covers " + std::to_string(next) + " code units, not 65536");
}

const CodeTable& CodesOf(SortOrder order) {
  // Built on first use only: most runs of the tool never key a text.
  if (order == SortOrder::General) {
    static const std::unique_ptr<CodeTable> general = BuildTable(SortOrder::General);
    return *general;
  }
  if (order == SortOrder::Japanese) {
    static const std::unique_ptr<CodeTable> japanese = BuildTable(SortOrder::Japanese);
    return *japanese;
  }
  static const std::unique_ptr<CodeTable> legacy = BuildTable(SortOrder::GeneralLegacy);
  return *legacy;
}

}  // namespace pendra::jet::detail
