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

TEST(JapaneseKeys, EveryKeyAccessWroteIsOursOrRefused) {
  const std::vector<WrittenKey> keys = ReadWrittenKeys();
  ASSERT_EQ(keys.size(), 552u);
  const Tally tally = KeyAll(keys, SortOrder::Japanese, Every);
  for (const std::string& wrong : tally.wrong) ADD_FAILURE() << wrong;
  // All of them today; fewer exact means a rule or weight got lost.
  EXPECT_EQ(tally.exact, 552);
  EXPECT_EQ(tally.refused, 0);
}

TEST(JapaneseKeys, GeneralLegacyKanaAreJapanesesKana) {
  const Tally tally = KeyAll(ReadWrittenKeys(), SortOrder::GeneralLegacy, KanaAndAscii);
  for (const std::string& wrong : tally.wrong) ADD_FAILURE() << wrong;
  // 248 texts of kana and ASCII only, 47 of them with a ー and 39 of 8 kana
  // or more: the General Legacy tables alone got those wrong.
  EXPECT_EQ(tally.exact, 248);
  EXPECT_EQ(tally.refused, 0);
}


// --- What is refused, and where -----------------------------------------

constexpr std::size_t kAccepted = static_cast<std::size_t>(-1);

struct RefusalCase {
  SortOrder order;
  std::u16string text;
  std::size_t refusedAt;  // kAccepted when a key is built
  const char* why;
};

void PrintTo(const RefusalCase& c, std::ostream* out) { *out << c.why; }

class Refusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(Refusals, FirstUnkeyableCharacterIsNamedAndNothingAppended) {
  const RefusalCase& c = GetParam();
  std::string key = "prefix";
  TextKeyRefusal refusal;
  const bool built = AppendTextKey(c.text, c.order, key, &refusal);
  if (c.refusedAt == kAccepted) {
    EXPECT_TRUE(built) << c.why << " (refused at " << refusal.position << ")";
    EXPECT_GT(key.size(), 6u) << c.why;
    return;
  }
  ASSERT_FALSE(built) << c.why << ": " << Hex(key);
  EXPECT_EQ(key, "prefix") << c.why;
  EXPECT_EQ(refusal.position, c.refusedAt) << c.why;
  EXPECT_EQ(refusal.unit, c.text[c.refusedAt]) << c.why;
  std::string descending = "prefix";
  EXPECT_FALSE(AppendDescendingTextKey(c.text, c.order, descending)) << c.why;
  EXPECT_EQ(descending, "prefix") << c.why;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Refusals,
    ::testing::Values(
        RefusalCase{SortOrder::Japanese, u"鬱", 0, "a kanji no key shows"},
        RefusalCase{SortOrder::Japanese, u"ABC鬱", 3, "after ASCII"},
        RefusalCase{SortOrder::Japanese, u"株式会社", kAccepted, "kanji the keys show"},
        RefusalCase{SortOrder::Japanese, u"ー", 0, "a prolonged sound mark first"},
        RefusalCase{SortOrder::Japanese, u"Aー", 1, "a prolonged sound mark after a letter"},
        RefusalCase{SortOrder::Japanese, u"んー", 1, "a prolonged sound mark after ん"},
        RefusalCase{SortOrder::Japanese, u"カーー", 2, "two prolonged sound marks"},
        RefusalCase{SortOrder::Japanese, u"ｼｭｰ", kAccepted, "a half-width prolonged sound mark after a small kana"},
        RefusalCase{SortOrder::Japanese, u"々", 0, "an iteration mark first"},
        RefusalCase{SortOrder::Japanese, u"あ々", 1, "an iteration mark after a kana"},
        RefusalCase{SortOrder::Japanese, u"寿々木", kAccepted, "an iteration mark after a kanji"},
        RefusalCase{SortOrder::Japanese, u"ﾊﾞﾊﾟ", kAccepted, "half-width voicing marks after kana"},
        RefusalCase{SortOrder::Japanese, u"Aﾞ", 1, "a voicing mark after a letter"},
        RefusalCase{SortOrder::Japanese, u"ヴ", 0, "a kana whose place no key shows"},
        RefusalCase{SortOrder::Japanese, u"㋐", 0, "a circled katakana"},
        RefusalCase{SortOrder::Japanese, u"アイウエオカキクケコサシスセ", kAccepted, "14 kana"},
        RefusalCase{SortOrder::Japanese, u"アイウエオカキクケコサシスセソ", 14, "15 kana"},
        RefusalCase{SortOrder::Japanese, u"A-B's", kAccepted, "a hyphen and an apostrophe in ASCII"},
        RefusalCase{SortOrder::Japanese, u"ア-", 1, "a hyphen after a kana"},
        RefusalCase{SortOrder::Japanese, u"-株", 1, "a kanji after a hyphen"},
        RefusalCase{SortOrder::Japanese, u"a\tb", 1, "a control character"},
        RefusalCase{SortOrder::Japanese, u"ＡＢＣ", 0, "full-width letters"},
        RefusalCase{SortOrder::GeneralLegacy, u"ー", 0, "General Legacy: a prolonged sound mark first"},
        RefusalCase{SortOrder::GeneralLegacy, u"カー", kAccepted, "General Legacy: a prolonged sound mark after a kana"},
        RefusalCase{SortOrder::GeneralLegacy, u"佐々木", 1, "General Legacy: an iteration mark"},
        RefusalCase{SortOrder::GeneralLegacy, u"鬱", kAccepted, "General Legacy: any kanji of its tables"},
        RefusalCase{SortOrder::GeneralLegacy, u"アイウエオカキクケコサシスセソ", 14, "General Legacy: 15 kana"},
        RefusalCase{SortOrder::GeneralLegacy, u"ア-", kAccepted, "General Legacy: a hyphen beside a kana"},
        RefusalCase{SortOrder::GeneralLegacy, u"アー-", 2, "General Legacy: a hyphen beside a ー"},
        RefusalCase{SortOrder::GeneralLegacy, u"アイウエオカキク-", 8, "General Legacy: a hyphen beside 8 kana"},
        RefusalCase{SortOrder::General, u"カー", 1, "General: a prolonged sound mark"},
        RefusalCase{SortOrder::General, u"アイウエオカキ", kAccepted, "General: 7 kana"},
        RefusalCase{SortOrder::General, u"アイウエオカキク", 7, "General: 8 kana"},
        RefusalCase{SortOrder::General, u"々", 0, "General: an iteration mark"}));

// --- The kana section's layout, on texts the sample keys do not hold -------

struct LayoutCase {
  SortOrder order;
  std::u16string text;
  const char* key;
};

void PrintTo(const LayoutCase& c, std::ostream* out) { *out << Hex(std::string(c.key)); }

class KanaSection : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(KanaSection, KeyIsTheMeasuredLayout) {
  std::string key;
  ASSERT_TRUE(AppendTextKey(GetParam().text, GetParam().order, key));
  EXPECT_EQ(Hex(key), GetParam().key);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, KanaSection,
    ::testing::Values(
        // が then ー: "ga" lengthened by "a"; ー's prolonged mark 3 (10 01 11 00).
        LayoutCase{SortOrder::GeneralLegacy, u"ガー", "7F0A7F02" "01" "03" "0101" "FF" "9C" "0280FF80" "00"},
        LayoutCase{SortOrder::Japanese, u"ガー", "7F0A7F02" "01" "03" "0101" "FF" "9C" "0280FF80" "00"},
        // A small kana: mark 2 (10 11 10 00 after the plain first kana).
        LayoutCase{SortOrder::GeneralLegacy, u"キャ", "7F0B7F3A" "01" "0101" "B8" "FF" "0280FF80" "00"},
        // Eight kana: the closing parts take a second 80 each.
        LayoutCase{SortOrder::GeneralLegacy, u"アイウエオカキク",
                   "7F027F037F047F057F067F0A7F0B7F0C" "01" "0101" "FF" "028080FF8080" "00"},
        LayoutCase{SortOrder::Japanese, u"あいうえおかきく",
                   "7F027F037F047F057F067F0A7F0B7F0C" "01" "0101" "FF" "028080FF8080" "00"},
        // Seven kana: one.
        LayoutCase{SortOrder::General, u"アイウエオカキ",
                   "7F027F037F047F057F067F0A7F0B" "01" "0101" "FF" "0280FF80" "00"}));

}  // namespace
}  // namespace pendra::jet
