// Text index keys: byte for byte against the entries Access itself wrote
// into real files, and the folding, cutting and ordering rules on their own.
#include "jet/TextKey.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>

#include "IndexedTexts.h"
#include "jet/TextKeyCodes.h"

namespace pendra::jet {
namespace {

std::string Hex(const std::string& bytes) {
  std::string out;
  char buffer[4];
  for (const char c : bytes) {
    std::snprintf(buffer, sizeof buffer, "%02x", static_cast<unsigned char>(c));
    out += buffer;
  }
  return out;
}

std::string Key(std::u16string_view text, SortOrder order) {
  std::string key;
  AppendTextKey(text, order, key);
  return key;
}

std::string DescendingKey(std::u16string_view text, SortOrder order) {
  std::string key;
  AppendDescendingTextKey(text, order, key);
  return key;
}

const char* Name(SortOrder order) { return order == SortOrder::General ? "General" : "General Legacy"; }

// --- Ground truth: the entries Access wrote -------------------------------

struct AccessFileCase {
  const char* file;
  std::size_t entries;  // non-Null text index entries in its user tables
  SortOrder order;      // the sort order of their columns
};

void PrintTo(const AccessFileCase& c, std::ostream* out) { *out << c.file; }

class WrittenKeys : public ::testing::TestWithParam<AccessFileCase> {};

TEST_P(WrittenKeys, EveryEntryIsTheKeyOfItsRowsText) {
  const AccessFileCase& file = GetParam();
  const std::vector<test::IndexedText> entries =
      test::ReadIndexedTexts(std::string(PENDRA_ACCESS_TESTDATA) + "/" + file.file);
  ASSERT_EQ(entries.size(), file.entries);
  for (const test::IndexedText& entry : entries) {
    SortOrder order{};
    ASSERT_TRUE(SortOrderOf(entry.sortOrderId, entry.sortOrderVersion, order))
        << entry.table << "." << entry.column << ": sort order " << entry.sortOrderId << "/"
        << entry.sortOrderVersion;
    EXPECT_EQ(order, file.order) << entry.table << "." << entry.column;
    const std::string key = entry.descending ? DescendingKey(entry.text, order) : Key(entry.text, order);
    EXPECT_EQ(Hex(key), Hex(entry.key)) << entry.table << "." << entry.column << " \"" << entry.utf8 << "\"";
  }
}

std::string FileCaseName(const ::testing::TestParamInfo<AccessFileCase>& info) {
  std::string name;
  for (const char* c = info.param.file; *c != '\0' && *c != '.'; ++c) name += *c;
  return name;
}

// Entries written by Access itself: 90 in all.
INSTANTIATE_TEST_SUITE_P(
    AccessMade, WrittenKeys,
    ::testing::Values(AccessFileCase{"testUnicodeCompV2003.mdb", 8, SortOrder::GeneralLegacy},
                      AccessFileCase{"testEmoticonsV2010.accdb", 80, SortOrder::General},
                      AccessFileCase{"test2V2000.mdb", 1, SortOrder::GeneralLegacy},
                      AccessFileCase{"test2V2007.accdb", 1, SortOrder::GeneralLegacy}),
    FileCaseName);

// Entries of the tool's own tables (Japanese names), written by the Java
// library of the format into databases Access made: not Access's own bytes,
// but a second reading of the same code tables and rules.
INSTANTIATE_TEST_SUITE_P(
    LibraryMade, WrittenKeys,
    ::testing::Values(AccessFileCase{"ja_V2000.mdb", 6, SortOrder::GeneralLegacy},
                      AccessFileCase{"ja_V2007.accdb", 6, SortOrder::GeneralLegacy},
                      AccessFileCase{"ja_V2016.accdb", 6, SortOrder::General}),
    FileCaseName);

// The entry the issue quotes, written by Access 2003 (without its flag 7F).
TEST(TextKey, JapaneseEntryOfAccess2003) {
  EXPECT_EQ(Hex(Key(u"漢字仮名交じり文", SortOrder::GeneralLegacy)),
            "c0b6acaca00da5479fbe7f137f43b6f6" "01" "0202020202" "03" "0101" "ff0280ff80" "00");
}

// --- Folding: texts that must share a key, and texts that must not -------

struct KeyPair {
  std::u16string a;
  std::u16string b;
  bool sameInLegacy;
  bool sameInGeneral;
  const char* why;
};

void PrintTo(const KeyPair& pair, std::ostream* out) { *out << pair.why; }

class KeyFolding : public ::testing::TestWithParam<KeyPair> {};

TEST_P(KeyFolding, SameKeyExactlyWhereTheOrderFolds) {
  const KeyPair& pair = GetParam();
  for (const SortOrder order : {SortOrder::GeneralLegacy, SortOrder::General}) {
    const bool same = order == SortOrder::General ? pair.sameInGeneral : pair.sameInLegacy;
    if (same) {
      EXPECT_EQ(Hex(Key(pair.a, order)), Hex(Key(pair.b, order))) << pair.why << " in " << Name(order);
    } else {
      EXPECT_NE(Hex(Key(pair.a, order)), Hex(Key(pair.b, order))) << pair.why << " in " << Name(order);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, KeyFolding,
    ::testing::Values(
        KeyPair{u"T001", u"t001", true, true, "letter case"},
        KeyPair{u"ABC", u"ＡＢＣ", true, true, "full-width letters"},
        KeyPair{u"あ", u"ア", true, true, "hiragana and katakana"},
        KeyPair{u"あ", u"ｱ", true, true, "hiragana and half-width katakana"},
        KeyPair{u"が", u"ガ", true, true, "voiced hiragana and katakana"},
        KeyPair{u"ガ", u"ｶﾞ", true, true, "katakana and half-width katakana with a voicing mark"},
        KeyPair{u"あ", u"ぁ", false, false, "small kana"},
        KeyPair{u"か", u"が", false, false, "voicing"},
        KeyPair{u"e", u"é", false, false, "accents"},
        KeyPair{u"co-op", u"coop", false, false, "a hyphen (no weight, but kept)"},
        KeyPair{u"abc  ", u"abc", true, true, "trailing blanks"},
        KeyPair{u" abc", u"abc", false, false, "leading blanks"},
        KeyPair{u"abc\u3000", u"abc", false, false, "a trailing ideographic space"},
        KeyPair{u"abc\t", u"abc", false, false, "a trailing tab"},
        KeyPair{u"漢\u9FA6", u"漢", true, false, "a kanji after U+9FA5"},
        KeyPair{u"\u9FA6", u"\u9FA7", true, false, "two kanji after U+9FA5"},
        KeyPair{u"😀", u"😁", false, false, "two emoji"},
        KeyPair{u"a😀", u"a", false, false, "an emoji"},
        KeyPair{u"", u"   ", true, true, "empty and blank"},
        KeyPair{u"ﾞ", u"", true, true, "a voicing mark with nothing to voice"},
        KeyPair{u"ﾟ", u"", true, true, "a semi-voicing mark with nothing to mark"},
        KeyPair{u"ﾊﾟ", u"パ", true, true, "half-width and full-width semi-voiced katakana"}));

TEST(TextKey, EmptyTextIsJustTheEndMarks) {
  EXPECT_EQ(Hex(Key(u"", SortOrder::GeneralLegacy)), "0100");
  EXPECT_EQ(Hex(Key(u"", SortOrder::General)), "0100");
}

// An emoji is keyed by its surrogate pair, whose weights are computed
// rather than listed (here as in the emoji entries of the Access 2010 file).
TEST(TextKey, SurrogatePairWeightsAndExtraCodes) {
  EXPECT_EQ(Hex(Key(u"😀", SortOrder::General)), "b03fb6fc" "01" "3f3f" "00");
}

// Characters without a weight (here the hyphen) are recorded after the kana
// marks, at a slot counted in weighted characters and extra codes: the
// layout of TextKey.h, for the cases the Access-made files do not hold.
TEST(TextKey, UnprintableCodesFollowTheKanaMarks) {
  // ア: weight 7F02, plain kana (its mark is dropped); '-' in slot 1.
  EXPECT_EQ(Hex(Key(u"ア-", SortOrder::GeneralLegacy)),
            "7f02" "01" "0101" "ff0280ff80" "ff" "01" "800b0682" "00");
}

TEST(TextKey, LeadingModifierDoesNotCountAsASlot) {
  // ﾞ before any weighted character starts the extra codes with itself (and
  // is dropped from them as a code of 01); the hyphen still sits in slot 0.
  EXPECT_EQ(Hex(Key(u"ﾞ-", SortOrder::GeneralLegacy)), "01" "0101" "01" "80070682" "00");
}

// The low halves of surrogate pairs take consecutive weights that never end
// in 00 or 01, the bytes that end a key's parts.
TEST(TextKey, LowSurrogateWeightsAvoidTheEndBytes) {
  std::string previous;
  for (char16_t low = 0xDC00; low <= 0xDFFF; ++low) {
    const std::u16string pair{char16_t{0xD83D}, low};
    const std::string weight = Key(pair, SortOrder::General).substr(2, 2);
    EXPECT_GT(static_cast<unsigned char>(weight[1]), 0x01) << std::hex << static_cast<unsigned>(low);
    if (!previous.empty()) {
      EXPECT_LT(previous, weight) << std::hex << static_cast<unsigned>(low);
    }
    previous = weight;
  }
  EXPECT_EQ(Hex(Key(u"\xD83D\xDC00", SortOrder::General).substr(2, 2)), "b4f8");
  EXPECT_EQ(Hex(Key(u"\xD83D\xDFFF", SortOrder::General).substr(2, 2)), "b8ff");
}

TEST(TextKey, AppendsToWhatTheKeyHolds) {
  std::string key = "\x7f";
  AppendTextKey(u"a", SortOrder::General, key);
  EXPECT_EQ(Hex(key), "7f" + Hex(Key(u"a", SortOrder::General)));
}

// --- Length limit ---------------------------------------------------------

TEST(TextKey, KeysCoverTheFirst255CodeUnitsOnly) {
  const std::u16string keyed(kMaxKeyedTextLength, u'a');
  for (const SortOrder order : {SortOrder::GeneralLegacy, SortOrder::General}) {
    EXPECT_EQ(Key(keyed + u"b", order), Key(keyed, order)) << Name(order);
    EXPECT_EQ(Key(keyed + std::u16string(300, u'z'), order), Key(keyed, order)) << Name(order);
    EXPECT_NE(Key(keyed.substr(1) + u"b", order), Key(keyed, order)) << Name(order);
  }
}

TEST(TextKey, BlanksAreDroppedAfterTheCut) {
  // A text whose 255th unit is a blank loses it, even though characters
  // followed it before the cut.
  const std::u16string text = std::u16string(254, u'a') + u" xyz";
  EXPECT_EQ(Key(text, SortOrder::General), Key(std::u16string(254, u'a'), SortOrder::General));
}

// --- Order ----------------------------------------------------------------

TEST(TextKey, KeysSortAsTextsDo) {
  const std::u16string ascending[] = {u"", u"1", u"9", u"a", u"ab", u"B", u"c", u"あ", u"い", u"漢"};
  for (const SortOrder order : {SortOrder::GeneralLegacy, SortOrder::General}) {
    for (std::size_t i = 1; i < std::size(ascending); ++i) {
      EXPECT_LT(Key(ascending[i - 1], order), Key(ascending[i], order)) << i << " in " << Name(order);
      EXPECT_GT(DescendingKey(ascending[i - 1], order), DescendingKey(ascending[i], order))
          << i << " in " << Name(order);
    }
  }
}

TEST(TextKey, DescendingKeyIsTheInvertedKeyAndOneMoreEnd) {
  const std::string ascending = Key(u"Tokyo", SortOrder::GeneralLegacy);
  std::string inverted;
  for (const char c : ascending) inverted.push_back(static_cast<char>(~static_cast<unsigned char>(c)));
  EXPECT_EQ(Hex(DescendingKey(u"Tokyo", SortOrder::GeneralLegacy)), Hex(inverted) + "00");
}

// --- Sort order ids ---------------------------------------------------------

struct SortOrderCase {
  int id;
  int version;
  bool known;
  SortOrder order;
};

void PrintTo(const SortOrderCase& c, std::ostream* out) { *out << c.id << "/" << c.version; }

class SortOrderIds : public ::testing::TestWithParam<SortOrderCase> {};

TEST_P(SortOrderIds, OnlyTheOrdersWeKeyAreKnown) {
  const SortOrderCase& c = GetParam();
  SortOrder order = c.order == SortOrder::General ? SortOrder::GeneralLegacy : SortOrder::General;
  EXPECT_EQ(SortOrderOf(c.id, c.version, order), c.known) << c.id << "/" << c.version;
  if (c.known) {
    EXPECT_EQ(order, c.order);
  }
}

INSTANTIATE_TEST_SUITE_P(Ids, SortOrderIds,
                         ::testing::Values(SortOrderCase{1033, 0, true, SortOrder::GeneralLegacy},
                                           SortOrderCase{1033, 1, true, SortOrder::General},
                                           SortOrderCase{1033, 2, false, {}},
                                           SortOrderCase{1041, 0, true, SortOrder::Japanese},
                                           SortOrderCase{1041, 1, false, {}},
                                           SortOrderCase{0, 0, false, {}}));

// --- The code tables ---------------------------------------------------------

TEST(TextKeyCodes, EmbeddedTablesCoverEveryCodeUnitOfBothOrders) {
  for (const SortOrder order : {SortOrder::GeneralLegacy, SortOrder::General}) {
    const detail::CodeTable& table = detail::CodesOf(order);
    // Spot checks against the published lines of both ends and the middle.
    EXPECT_EQ(table[0x0000].kind, detail::CodeKind::Ignored) << Name(order);
    EXPECT_EQ(table[0xD800].kind, detail::CodeKind::HighSurrogate) << Name(order);
    EXPECT_EQ(table[0xDFFF].kind, detail::CodeKind::LowSurrogate) << Name(order);
    EXPECT_EQ(table[0x3041].kind, detail::CodeKind::Kana) << Name(order);
    EXPECT_EQ(table[0x3041].value, 2) << Name(order);  // small kana
    EXPECT_EQ(table[0x3042].value, 3) << Name(order);
  }
  const detail::CodeTable& general = detail::CodesOf(SortOrder::General);
  EXPECT_EQ(general[0x9FA6].weightLength, 4);
  EXPECT_EQ(general[0x9FA6].weight[3], 0xB4);
  EXPECT_EQ(detail::CodesOf(SortOrder::GeneralLegacy)[0x9FA6].kind, detail::CodeKind::Ignored);
}

struct MalformedCodes {
  const char* text;
  const char* why;
};

void PrintTo(const MalformedCodes& c, std::ostream* out) { *out << c.why; }

class CodeParsing : public ::testing::TestWithParam<MalformedCodes> {};

TEST_P(CodeParsing, MalformedCodeTextIsRefused) {
  auto table = std::make_unique<detail::CodeTable>();
  EXPECT_THROW(detail::ParseCodes(GetParam().text, "X", *table), std::runtime_error) << GetParam().why;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CodeParsing,
    ::testing::Values(MalformedCodes{"order X\n65535 i\n", "one code unit short"},
                      MalformedCodes{"order X\n65536 i\ni\n", "one code unit over"},
                      MalformedCodes{"order Y\n65536 i\n", "no section of the order"},
                      MalformedCodes{"order X\n2 s FF\n65534 i\n", "a run overflowing its weight"},
                      MalformedCodes{"order X\nq 01\n65535 i\n", "an unknown kind"},
                      MalformedCodes{"order X\ns 1\n65535 i\n", "half a byte"},
                      MalformedCodes{"order X\nk 7F02 - 4\n65535 i\n", "a bad kana mark"},
                      MalformedCodes{"order X\ns 0102030405060708090A\n65535 i\n", "a weight too long"},
                      MalformedCodes{"order X\ne 51\n65535 i\n", "an accent without its extra code"},
                      MalformedCodes{"order X\ns 51 52\n65535 i\n", "a field too many"}));

TEST(CodeParsing, WellFormedTextFillsTheTable) {
  auto table = std::make_unique<detail::CodeTable>();
  detail::ParseCodes("# a comment\norder W\n65536 s 0001\norder X\n3 e 00FE 0E\n65533 i\n", "X", *table);
  EXPECT_EQ(table->at(2).kind, detail::CodeKind::Accented);
  EXPECT_EQ(table->at(2).weight[0], 0x01);  // 00FE, 00FF, 0100: the run carries
  EXPECT_EQ(table->at(2).weight[1], 0x00);
  EXPECT_EQ(table->at(2).extra[0], 0x0E);
  EXPECT_EQ(table->at(3).kind, detail::CodeKind::Ignored);
}

}  // namespace
}  // namespace pendra::jet
