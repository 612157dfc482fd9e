// Text keys of the Japanese sort order (1041, version 0) against every key
// Access itself wrote in a Japanese sample database (tests/data/access/
// japanese_sample_db_keys.tsv, see NOTICE): each of ours is Access's, byte
// for byte, or refused; never a third kind. The same keys check the kana
// rules of General Legacy, which shares them.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
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

}  // namespace
}  // namespace pendra::jet
