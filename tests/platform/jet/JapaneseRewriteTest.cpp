// Rewriting tables of Access files in the Japanese sort order (1041): our
// tool's tables in copies of the test files whose text columns are relabelled
// Japanese (their indexed values are ASCII, whose keys the two orders share,
// so the copies are sound files), the public-domain Japanese files as they
// are. A text key is Access's or the rewrite is refused with the file as it
// was; the keys Access already wrote are kept for values that stay.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "AccessFileCopies.h"
#include "CheckProblems.h"
#include "JapaneseRelabel.h"
#include "MdbReaderRun.h"
#include "access/AccessWriter.h"
#include "core/PlatformError.h"
#include "jet/Catalog.h"
#include "jet/Checker.h"
#include "jet/IndexTree.h"
#include "jet/JetFile.h"
#include "jet/TableDefinition.h"
#include "jet/TableRewrite.h"
#include "mdb/AccessFile.h"

namespace pendra::jet {
namespace {

using access::RewriteTable;
using fixture::RelabelJapanese;
using test::Bytes;
using test::Problems;
using test::Read;
using Rows = std::vector<std::vector<Variant>>;

std::vector<std::string> IndexKeysOf(const std::string& path, const std::string& tableName) {
  const JetFile file(path);
  TableDefinition table = ReadTableDefinition(file, FindTable(file, tableName).definitionPage);
  table.name = tableName;
  std::vector<std::string> keys;
  for (const RealIndex& index : table.realIndexes)
    for (const IndexEntry& entry : WalkIndex(file, table, index).entries) keys.push_back(entry.key);
  return keys;
}

// The text values of the table's first column as the npm package mdb-reader
// reads them, sorted.
std::vector<std::string> MdbReaderFirstTexts(const std::string& path, const std::string& table) {
  std::vector<std::string> texts;
  const std::string head = R"([{"t":"text","v":")";
  for (const std::string& line : test::MdbReaderLines(path, table))
    if (line.rfind(head, 0) == 0) texts.push_back(line.substr(head.size(), line.find('"', head.size()) - head.size()));
  std::sort(texts.begin(), texts.end());
  return texts;
}

// KikiMaster: タグ名 Text(32) (its unique index), 機器名称 Text(64),
// 開始操作値 Long, 終了操作値 Long, 更新日時 Date/Time.
Rows KikiRows(const std::vector<std::string>& tags) {
  Rows rows;
  int32_t n = 0;
  for (const std::string& tag : tags) {
    rows.push_back({Variant(tag), Variant("機器" + std::to_string(n)), Variant(n), Variant(n + 1), Variant::Date(45000.5)});
    ++n;
  }
  return rows;
}

class JapaneseRewrite : public ::testing::TestWithParam<const char*> {
 protected:
  std::string Copy(const std::string& name) { return copies_.Copy(name); }
  test::AccessFileCopies copies_{"pendra-jet-japanese"};
};

TEST_P(JapaneseRewrite, RelabelledCopyIsSoundAndTakesKanaAndKnownKanji) {
  const std::string path = Copy(GetParam());
  RelabelJapanese(path);
  ASSERT_EQ(Read(path, "KikiMaster").columns.size(), 5u);
  const FileCheck relabelled = CheckAccessFile(path);
  EXPECT_TRUE(relabelled.Clean()) << Problems(relabelled);

  const Rows rows = KikiRows({"T001", "ポンプ", "ﾎﾟﾝﾌﾟ2", "コーヒー", "株式会社", "丸山マート", "サービス1", "t-002"});
  RewriteTable(path, "KikiMaster", rows);
  const FileCheck after = CheckAccessFile(path);
  EXPECT_TRUE(after.Clean()) << Problems(after);
  EXPECT_EQ(after.keysNotCompared, 0u);
  const mdb::AccessTable back = Read(path, "KikiMaster");
  ASSERT_EQ(back.rows.size(), rows.size());
  std::vector<std::string> written;
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(back.rows[i][0], rows[i][0]) << i;
    written.push_back(rows[i][0].StringValue());
  }
  std::sort(written.begin(), written.end());
  EXPECT_EQ(MdbReaderFirstTexts(path, "KikiMaster"), written);
}

// A value with a character we have no key for is refused before anything
// is written; the message names the table, the index, the value and the
// character, and says what to do.
TEST_P(JapaneseRewrite, UnknownKanjiIsRefusedWithTheFileUnchanged) {
  const std::string path = Copy(GetParam());
  RelabelJapanese(path);
  struct Case {
    const char* tag;
    const char* character;
  };
  for (const Case& c : {Case{"鬱金", "鬱"}, Case{"ポンプ々", "々"}, Case{"ーポンプ", "ー"}, Case{"ポンプ－1", "－"}, Case{"サービス-1", "-"},
                        Case{"アイウエオカキクケコサシスセソ", "ソ"}}) {
    const std::string before = Bytes(path);
    try {
      RewriteTable(path, "KikiMaster", KikiRows({"T001", c.tag}));
      ADD_FAILURE() << c.tag << ": not refused";
    } catch (const PlatformError& e) {
      EXPECT_EQ(e.Number(), err::kInvalidOperation) << c.tag;
      const std::string message = e.Description();
      for (const std::string& part : {std::string("KikiMaster"), std::string(c.tag), "'" + std::string(c.character) + "'",
                                      std::string("新規データベースの並び順序"), std::string("最適化/修復")})
        EXPECT_NE(message.find(part), std::string::npos) << c.tag << ": " << part << " not in " << message;
    }
    EXPECT_EQ(Bytes(path) == before, true) << c.tag;
  }
}

// A key Access wrote (here: one our General Legacy encoder wrote before the
// copy was relabelled, standing for a kanji we have never seen) is kept for
// a row that keeps its value; a changed value with that kanji is refused.
TEST_P(JapaneseRewrite, KeysTheFileHoldsAreKeptForValuesThatStay) {
  const std::string path = Copy(GetParam());
  const Rows rows = KikiRows({"T001", "鬱金", "ポンプ"});
  RewriteTable(path, "KikiMaster", rows);
  RelabelJapanese(path);
  const FileCheck relabelled = CheckAccessFile(path);
  EXPECT_TRUE(relabelled.Clean()) << Problems(relabelled);
  EXPECT_EQ(relabelled.keysNotCompared, 1u);
  const std::vector<std::string> keys = IndexKeysOf(path, "KikiMaster");
  // Access's key comes from what was learnt ahead just as well.
  test::ExpectTheSameWithWhatIsLearntAhead(path, "KikiMaster", rows);

  RewriteTable(path, "KikiMaster", rows);
  EXPECT_EQ(IndexKeysOf(path, "KikiMaster"), keys);
  EXPECT_TRUE(CheckAccessFile(path).Clean());

  const std::string before = Bytes(path);
  EXPECT_THROW(RewriteTable(path, "KikiMaster", KikiRows({"T001", "鬱金2", "ポンプ"})), PlatformError);
  EXPECT_EQ(Bytes(path) == before, true);
}

INSTANTIATE_TEST_SUITE_P(Files, JapaneseRewrite, ::testing::Values("ja_V2000.mdb", "ja_V2007.accdb"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param).substr(0, std::string(info.param).find('.'));
                         });

// ACE cuts an index entry at 510 bytes and ends it with a checksum we do not
// reproduce: a key past 502 bytes is refused, one below is written.
TEST(EntryCap, AceKeyPastTheCapIsRefusedWithTheFileUnchanged) {
  const test::AccessFileCopies copies("pendra-jet-cap");
  const std::string path = copies.Copy("testEmoticonsV2010.accdb", "cap.accdb");
  std::string kanji;
  for (int i = 0; i < 255; ++i) kanji += "漢";  // weights of two bytes or more: a key past 510 bytes
  const std::string before = Bytes(path);
  try {
    RewriteTable(path, "data", {{Variant(int32_t{1}), Variant(kanji)}});
    ADD_FAILURE() << "not refused";
  } catch (const PlatformError& e) {
    EXPECT_EQ(e.Number(), err::kInvalidOperation);
    EXPECT_NE(e.Description().find("長すぎ"), std::string::npos) << e.Description();
  }
  EXPECT_EQ(Bytes(path) == before, true);
  RewriteTable(path, "data", {{Variant(int32_t{1}), Variant(kanji.substr(0, 100 * 3))}});
  const FileCheck check = CheckAccessFile(path);
  EXPECT_TRUE(check.Clean()) << Problems(check);
  EXPECT_EQ(check.keysNotCompared, 0u);
}

// The genuine Japanese files: every index key Access wrote in them, system
// tables' included, is rebuilt or counted as not compared, never a problem.
TEST(JapaneseFiles, GenuineJetFileHasNoProblemAndFewUncomparedKeys) {
  const FileCheck check = CheckAccessFile(std::string(PENDRA_ACCESS_TESTDATA) + "/public_domain_sample.mdb");
  EXPECT_TRUE(check.Clean()) << Problems(check);
  // One name of MSysAccessStorage begins with U+0003.
  EXPECT_EQ(check.keysNotCompared, 1u);
}

}  // namespace
}  // namespace pendra::jet
