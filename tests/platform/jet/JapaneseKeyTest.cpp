// Text keys of the Japanese sort order (1041, version 0) against every key
// Access itself wrote in a Japanese sample database (tests/data/access/
// japanese_sample_db_keys.tsv, see NOTICE): each of ours is Access's, byte
// for byte, or refused; never a third kind. The same keys check the kana
// rules of General Legacy, which shares them.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <ostream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "jet/JetText.h"
#include "jet/TextKey.h"

namespace pendra::jet {
namespace {

struct WrittenKey {
  std::string table;
  std::string index;
  std::string value;  // UTF-8, the text column's value
  std::string key;    // the text column's part of the entry, without its flag byte
};

std::string Bytes(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (const char c : bytes) {
    out += digits[static_cast<unsigned char>(c) >> 4];
    out += digits[static_cast<unsigned char>(c) & 0xF];
  }
  return out;
}

std::vector<std::string> Split(const std::string& line, const std::string& separator) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = line.find(separator, start);
    fields.push_back(line.substr(start, end - start));
    if (end == std::string::npos) return fields;
    start = end + separator.size();
  }
}

// The entries of indexes on one Text column, or on a Long column and then a
// Text column (MSysObjects' ParentIdName); others are left out.
std::vector<WrittenKey> ReadWrittenKeys() {
  std::ifstream in(std::string(PENDRA_ACCESS_TESTDATA) + "/japanese_sample_db_keys.tsv");
  EXPECT_TRUE(in) << "japanese_sample_db_keys.tsv";
  std::map<std::string, std::vector<std::string>> columns;  // "table/number" -> types
  const std::regex type(R"(\(([A-Z]+),(asc|desc))");
  std::vector<WrittenKey> keys;
  std::string line;
  while (std::getline(in, line)) {
    const std::vector<std::string> fields = Split(line, "\t");
    if (line.rfind("# INDEX", 0) == 0 && fields.size() > 6) {
      std::vector<std::string>& types = columns[fields[1] + "/" + fields[3].substr(4)];
      for (auto it = std::sregex_iterator(fields[6].begin(), fields[6].end(), type); it != std::sregex_iterator(); ++it)
        types.push_back((*it)[1].str() + ((*it)[2].str() == "desc" ? "-" : ""));
      continue;
    }
    if (line.empty() || line[0] == '#' || fields.size() != 4) continue;
    const std::vector<std::string>& types = columns[fields[0] + "/" + fields[1]];
    const std::string key = Bytes(fields[2]);
    const std::vector<std::string> values = Split(fields[3], "\u241F");
    if (types == std::vector<std::string>{"TEXT"} && key.size() > 1 && key[0] == '\x7F')
      keys.push_back({fields[0], fields[1], values[0], key.substr(1)});
    else if (types == std::vector<std::string>{"LONG", "TEXT"} && key.size() > 6 && key[5] == '\x7F')
      keys.push_back({fields[0], fields[1], values[1], key.substr(6)});
  }
  return keys;
}

struct Tally {
  int exact = 0;
  int refused = 0;
  std::vector<std::string> wrong;
};

Tally KeyAll(const std::vector<WrittenKey>& keys, SortOrder order, bool (*applies)(const std::u16string&)) {
  Tally tally;
  for (const WrittenKey& written : keys) {
    const std::u16string text = Utf8ToUtf16(written.value);
    if (!applies(text)) continue;
    std::string ours;
    if (!AppendTextKey(text, order, ours)) {
      ++tally.refused;
      continue;
    }
    if (ours == written.key) {
      ++tally.exact;
    } else {
      tally.wrong.push_back(written.table + "/" + written.index + " \"" + written.value + "\": ours " + Hex(ours) +
                            ", Access's " + Hex(written.key));
    }
  }
  return tally;
}

bool Every(const std::u16string&) { return true; }

// Texts of ASCII, kana and ー only: their keys are the same in General Legacy.
bool KanaAndAscii(const std::u16string& text) {
  for (const char16_t c : text) {
    const bool ascii = c >= 0x20 && c <= 0x7E;
    const bool kana = (c >= 0x3041 && c <= 0x30FA) || c == 0x30FC || (c >= 0xFF66 && c <= 0xFF9F);
    if (!ascii && !kana) return false;
  }
  return true;
}

std::string OrderName(SortOrder order) {
  switch (order) {
    case SortOrder::GeneralLegacy: return "General Legacy";
    case SortOrder::General: return "General";
    case SortOrder::Japanese: return "Japanese";
  }
  return "?";
}

using enum SortOrder;

// --- The keys Access wrote, in each order that shares them ----------------

struct WrittenKeysCase {
  const char* name;
  SortOrder order;
  bool (*applies)(const std::u16string&);  // which of the written keys the order shares
  int exact;                               // of those, the keys of ours that are Access's
};

void PrintTo(const WrittenKeysCase& c, std::ostream* out) { *out << c.name; }

class JapaneseKeys : public ::testing::TestWithParam<WrittenKeysCase> {};

TEST_P(JapaneseKeys, EveryKeyAccessWroteIsOursOrRefused) {
  const WrittenKeysCase& c = GetParam();
  const std::vector<WrittenKey> keys = ReadWrittenKeys();
  ASSERT_EQ(keys.size(), 552u);
  const Tally tally = KeyAll(keys, c.order, c.applies);
  for (const std::string& wrong : tally.wrong) ADD_FAILURE() << wrong;
  EXPECT_EQ(tally.exact, c.exact);
  EXPECT_EQ(tally.refused, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Orders, JapaneseKeys,
    ::testing::Values(
        // All of them today; fewer exact means a rule or weight got lost.
        WrittenKeysCase{"Japanese", Japanese, Every, 552},
        // 248 texts of kana and ASCII only, 47 of them with a ー and 39 of 8
        // kana or more: the General Legacy tables alone got those wrong.
        WrittenKeysCase{"GeneralLegacyKanaAreJapanesesKana", GeneralLegacy, KanaAndAscii, 248}),
    [](const ::testing::TestParamInfo<WrittenKeysCase>& info) { return std::string(info.param.name); });

// --- What is refused, and where -----------------------------------------

constexpr std::size_t kAccepted = static_cast<std::size_t>(-1);

// A text's fate in one sort order.
struct Outcome {
  SortOrder order;
  std::size_t refusedAt;  // kAccepted when a key is built
};

struct RefusalCase {
  std::u16string text;
  const char* why;
  std::vector<Outcome> outcomes;  // in each order the text is checked in
};

void PrintTo(const RefusalCase& c, std::ostream* out) { *out << c.why; }

class Refusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(Refusals, FirstUnkeyableCharacterIsNamedAndNothingAppended) {
  const RefusalCase& c = GetParam();
  for (const Outcome& o : c.outcomes) {
    SCOPED_TRACE(OrderName(o.order) + ": " + c.why);
    std::string key = "prefix";
    TextKeyRefusal refusal;
    const bool built = AppendTextKey(c.text, o.order, key, &refusal);
    if (o.refusedAt == kAccepted) {
      EXPECT_TRUE(built) << "refused at " << refusal.position;
      EXPECT_GT(key.size(), 6u);
      continue;
    }
    if (built) {
      ADD_FAILURE() << "not refused: " << Hex(key);
      continue;
    }
    EXPECT_EQ(key, "prefix");
    EXPECT_EQ(refusal.position, o.refusedAt);
    EXPECT_EQ(refusal.unit, c.text[o.refusedAt]);
    std::string descending = "prefix";
    EXPECT_FALSE(AppendDescendingTextKey(c.text, o.order, descending));
    EXPECT_EQ(descending, "prefix");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Refusals,
    ::testing::Values(
        RefusalCase{u"鬱", "a kanji no Japanese key shows (in General Legacy's tables)", {{Japanese, 0}, {GeneralLegacy, kAccepted}}},
        RefusalCase{u"ABC鬱", "after ASCII", {{Japanese, 3}}},
        RefusalCase{u"株式会社", "kanji the keys show", {{Japanese, kAccepted}}},
        RefusalCase{u"ー", "a prolonged sound mark first", {{Japanese, 0}, {GeneralLegacy, 0}}},
        RefusalCase{u"Aー", "a prolonged sound mark after a letter", {{Japanese, 1}}},
        RefusalCase{u"んー", "a prolonged sound mark after ん", {{Japanese, 1}}},
        RefusalCase{u"カーー", "two prolonged sound marks", {{Japanese, 2}}},
        RefusalCase{u"カー", "a prolonged sound mark after a kana", {{GeneralLegacy, kAccepted}, {General, 1}}},
        RefusalCase{u"ｼｭｰ", "a half-width prolonged sound mark after a small kana", {{Japanese, kAccepted}}},
        RefusalCase{u"々", "an iteration mark first", {{Japanese, 0}, {General, 0}}},
        RefusalCase{u"あ々", "an iteration mark after a kana", {{Japanese, 1}}},
        RefusalCase{u"寿々木", "an iteration mark after a kanji", {{Japanese, kAccepted}}},
        RefusalCase{u"佐々木", "an iteration mark where General Legacy has none", {{GeneralLegacy, 1}}},
        RefusalCase{u"ﾊﾞﾊﾟ", "half-width voicing marks after kana", {{Japanese, kAccepted}}},
        RefusalCase{u"Aﾞ", "a voicing mark after a letter", {{Japanese, 1}}},
        RefusalCase{u"ヴ", "a kana whose place no key shows", {{Japanese, 0}}},
        RefusalCase{u"㋐", "a circled katakana", {{Japanese, 0}}},
        RefusalCase{u"アイウエオカキ", "7 kana", {{General, kAccepted}}},
        RefusalCase{u"アイウエオカキク", "8 kana", {{General, 7}}},
        RefusalCase{u"アイウエオカキクケコサシスセ", "14 kana", {{Japanese, kAccepted}}},
        RefusalCase{u"アイウエオカキクケコサシスセソ", "15 kana", {{Japanese, 14}, {GeneralLegacy, 14}}},
        RefusalCase{u"A-B's", "a hyphen and an apostrophe in ASCII", {{Japanese, kAccepted}}},
        RefusalCase{u"ア-", "a hyphen after a kana", {{Japanese, 1}, {GeneralLegacy, kAccepted}}},
        RefusalCase{u"アー-", "a hyphen beside a ー", {{GeneralLegacy, 2}}},
        RefusalCase{u"アイウエオカキク-", "a hyphen beside 8 kana", {{GeneralLegacy, 8}}},
        RefusalCase{u"-株", "a kanji after a hyphen", {{Japanese, 1}}},
        RefusalCase{u"a\tb", "a control character", {{Japanese, 1}}},
        RefusalCase{u"ＡＢＣ", "full-width letters", {{Japanese, 0}}}));

// --- The kana section's layout, on texts the sample keys do not hold -------

struct LayoutCase {
  std::vector<SortOrder> orders;  // each gives this key
  std::u16string text;
  const char* key;
};

void PrintTo(const LayoutCase& c, std::ostream* out) { *out << Hex(std::string(c.key)); }

class KanaSection : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(KanaSection, KeyIsTheMeasuredLayout) {
  for (const SortOrder order : GetParam().orders) {
    SCOPED_TRACE(OrderName(order));
    std::string key;
    EXPECT_TRUE(AppendTextKey(GetParam().text, order, key));
    EXPECT_EQ(Hex(key), GetParam().key);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, KanaSection,
    ::testing::Values(
        // が then ー: "ga" lengthened by "a"; ー's prolonged mark 3 (10 01 11 00).
        LayoutCase{{GeneralLegacy, Japanese}, u"ガー", "7F0A7F02" "01" "03" "0101" "FF" "9C" "0280FF80" "00"},
        // A small kana: mark 2 (10 11 10 00 after the plain first kana).
        LayoutCase{{GeneralLegacy}, u"キャ", "7F0B7F3A" "01" "0101" "B8" "FF" "0280FF80" "00"},
        // Eight kana: the closing parts take a second 80 each.
        LayoutCase{{GeneralLegacy}, u"アイウエオカキク", "7F027F037F047F057F067F0A7F0B7F0C" "01" "0101" "FF" "028080FF8080" "00"},
        LayoutCase{{Japanese}, u"あいうえおかきく", "7F027F037F047F057F067F0A7F0B7F0C" "01" "0101" "FF" "028080FF8080" "00"},
        // Seven kana: one.
        LayoutCase{{General}, u"アイウエオカキ", "7F027F037F047F057F067F0A7F0B" "01" "0101" "FF" "0280FF80" "00"}));

}  // namespace
}  // namespace pendra::jet
