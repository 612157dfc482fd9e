// Bad input for the tag master import: lines with the wrong number of
// fields, bytes that code page 932 cannot decode, NUL bytes, a 50 MB line,
// tags with quotes and SQL text, values the columns refuse, and paths that
// are awkward or wrong. Every line that is not stored is reported with its
// number; every record that is stored is stored whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "BadInput.h"
#include "TestFiles.h"

namespace pendra::reliability {
namespace {

namespace fs = std::filesystem;
using tagimport::testing::Fields;
using tagimport::testing::HeaderLine;
using tagimport::testing::ToCp932;

constexpr const char* kReport = "ﾏｽﾀｰ情報の一部をデータベースへ展開できませんでした。";

std::string Line(std::vector<std::string> fields) { return Fields(std::move(fields)) + "\r\n"; }
std::string Record(const std::string& tag, const std::string& utf8Name) {
  return Line({"1", tag, ToCp932(utf8Name)});
}

std::vector<std::string> Csv(InputFolder& folder, const std::string& bytes, const std::string& name = "ﾏｽﾀｰ情報.csv") {
  const std::string path = folder.base.File(name);
  cli::test::WriteFile(path, bytes);
  return {"import-csv", path};
}

std::string Stored(int stored) {
  return "登録した行: " + std::to_string(stored) + " 件";
}
std::string NotStored(int count) { return "登録できなかった行・読み飛ばした行: " + std::to_string(count) + " 件"; }

long TagCount(InputFolder& f) { return std::stol(f.Tags("SELECT count(*) FROM M_TAG")[0]); }

// The rows with the tag, as "tag名称" values.
std::vector<std::string> NamesOf(InputFolder& f, const std::string& tag) {
  std::string quoted;
  for (char c : tag) quoted += c == '\'' ? std::string("''") : std::string(1, c);
  return f.Tags("SELECT tag名称 FROM M_TAG WHERE TAG = '" + quoted + "' ORDER BY rowid");
}

constexpr long kDemoTags = 10;

TEST(BadInput, MasterCsvFiles) {
  const std::string good = Record("GOOD-1", "良い行") ;
  const std::string good2 = Record("GOOD-2", "良い行2");
  auto storedBoth = [](InputFolder& f) {
    EXPECT_EQ(NamesOf(f, "GOOD-1"), std::vector<std::string>{"良い行"});
    EXPECT_EQ(NamesOf(f, "GOOD-2"), std::vector<std::string>{"良い行2"});
    EXPECT_EQ(TagCount(f), kDemoTags + 2);
  };

  const std::vector<InputCase> cases = {
      {"lines with 25 and 27 fields between good records",
       [&](InputFolder& f) {
         std::string bad25 = "1,SHORT-1";
         for (int i = 2; i < 25; ++i) bad25 += ",";
         return Csv(f, HeaderLine() + "\r\n" + good + bad25 + "\r\n" + Fields({"1", "LONG-1"}) + ",extra\r\n" + good2);
       },
       3, kReport, {Stored(2), NotStored(2), "3 行目", "4 行目"}, Changes::Tags,
       [&](InputFolder& f) {
         storedBoth(f);
         EXPECT_TRUE(NamesOf(f, "SHORT-1").empty());
         EXPECT_TRUE(NamesOf(f, "LONG-1").empty());
       }},
      {"bytes code page 932 cannot decode (0x80, 0xA0, 0xFD)",
       [&](InputFolder& f) {
         return Csv(f, good + Line({"1", "BAD-80", "a\x80z"}) + Line({"1", "BAD-A0", "a\xA0z"}) +
                           Line({"1", "BAD-FD", "\xFD\xFE\xFF"}) + good2);
       },
       3, kReport, {Stored(2), NotStored(3), "2 行目", "3 行目", "4 行目"}, Changes::Tags,
       [&](InputFolder& f) {
         storedBoth(f);
         EXPECT_EQ(f.Tags("SELECT count(*) FROM M_TAG WHERE TAG LIKE 'BAD-%'"), std::vector<std::string>{"0"});
       }},
      {"NUL bytes in a line",
       [&](InputFolder& f) { return Csv(f, good + Line({"1", "NUL-1", std::string("a\0b", 3)}) + good2); }, 3, kReport,
       {NotStored(1), "2 行目", "NUL"}, Changes::Tags,
       [&](InputFolder& f) {
         storedBoth(f);
         EXPECT_TRUE(NamesOf(f, "NUL-1").empty());
       }},
      {"a 50 MB line",
       [&](InputFolder& f) {
         std::string huge = "1,BIG-1," + std::string(50u << 20, 'x') + std::string(23, ',') + "\r\n";
         return Csv(f, good + huge + good2);
       },
       3, kReport, {NotStored(1), "2 行目", "行が長すぎます"}, Changes::Tags,
       [&](InputFolder& f) {
         storedBoth(f);
         EXPECT_TRUE(NamesOf(f, "BIG-1").empty());
       }},
      {"an unclosed quote",
       [&](InputFolder& f) { return Csv(f, good + Line({"1", "Q-1", "\"open"}) + good2); }, 3, kReport,
       {NotStored(1), "2 行目"}, Changes::Tags,
       [&](InputFolder& f) {
         storedBoth(f);
         EXPECT_TRUE(NamesOf(f, "Q-1").empty());
       }},
      {"tag with an apostrophe, twice (the second updates the first)",
       [&](InputFolder& f) { return Csv(f, Record("O'NEIL-1", "一回目") + Record("O'NEIL-1", "二回目")); }, 0, "", {},
       Changes::Tags,
       [&](InputFolder& f) {
         EXPECT_EQ(NamesOf(f, "O'NEIL-1"), std::vector<std::string>{"二回目"});
         EXPECT_EQ(TagCount(f), kDemoTags + 1);
       }},
      {"tag holding SQL text",
       [&](InputFolder& f) { return Csv(f, Record("'; DROP TABLE M_TAG; --", "SQL") + good); }, 0, "", {},
       Changes::Tags,
       [&](InputFolder& f) {
         EXPECT_EQ(NamesOf(f, "'; DROP TABLE M_TAG; --"), std::vector<std::string>{"SQL"});
         EXPECT_EQ(TagCount(f), kDemoTags + 2);
       }},
      {"quoted fields with doubled quotes and commas",
       [&](InputFolder& f) {
         return Csv(f, Line({"1", "\"QQ-1\"", "\"" + ToCp932("名前 \"\"引用\"\", 続き") + "\""}));
       },
       0, "", {}, Changes::Tags,
       [&](InputFolder& f) { EXPECT_EQ(NamesOf(f, "QQ-1"), std::vector<std::string>{"名前 \"引用\", 続き"}); }},
      {"tag of 33 characters (TAG holds 32)",
       [&](InputFolder& f) { return Csv(f, Record(std::string(33, 'T'), "長い") + good); }, 3, kReport,
       {NotStored(1), "1 行目", "登録できません"}, Changes::Tags,
       [&](InputFolder& f) {
         EXPECT_EQ(TagCount(f), kDemoTags + 1);
         EXPECT_TRUE(NamesOf(f, std::string(33, 'T')).empty());
       }},
      {"empty tag",
       [&](InputFolder& f) { return Csv(f, Record("", "空") + good); }, 3, kReport, {NotStored(1), "1 行目"},
       Changes::Tags, [&](InputFolder& f) { EXPECT_EQ(TagCount(f), kDemoTags + 1); }},
      {"letters in 最大値 and 99999 in 大項目NO (SHORT) of a new tag",
       [&](InputFolder& f) { return Csv(f, Line({"1", "COL-1", ToCp932("列"), "X.0", "abc", "", "99999"})); }, 3, kReport,
       {"最大値", "大項目NO", "1 行目"}, Changes::Tags,
       [&](InputFolder& f) {
         // The row is stored; the refused columns keep their defaults.
         EXPECT_EQ(f.Tags("SELECT tag名称, 有効桁, 最大値, 大項目NO FROM M_TAG WHERE TAG = 'COL-1'"),
                   std::vector<std::string>{"列|0.0|999.0|0"});
       }},
      {"CSV path with blanks, quotes and Japanese",
       [&](InputFolder& f) { return Csv(f, good, "ﾏｽﾀｰ \"情報\" it's #1.csv"); }, 0, "", {}, Changes::Tags,
       [&](InputFolder& f) { EXPECT_EQ(NamesOf(f, "GOOD-1"), std::vector<std::string>{"良い行"}); }},
      {"empty file", [&](InputFolder& f) { return Csv(f, ""); }, 0, ""},
      {"header lines only",
       [&](InputFolder& f) { return Csv(f, HeaderLine() + "\r\n" + HeaderLine() + "\r\n"); }, 0, ""},
      {"64 KB of random bytes",
       [&](InputFolder& f) {
         std::mt19937 random(11);
         std::string bytes(65536, '\0');
         for (auto& b : bytes) b = static_cast<char>(random() & 0xFF);
         return Csv(f, bytes);
       },
       1, kReport, {"登録した行: 0 件"}},
      {"a file that does not exist",
       [&](InputFolder& f) { return std::vector<std::string>{"import-csv", f.base.File("ない.csv")}; }, 1,
       "ﾏｽﾀｰ情報.csvを開けません。", {"ｴﾗｰ番号 53:"}},
      {"a folder as the CSV file",
       [&](InputFolder& f) { return std::vector<std::string>{"import-csv", f.base.Path()}; }, 1,
       "ﾏｽﾀｰ情報.csvを開けません。", {"ｴﾗｰ番号 75:"}},
      {"base folder without the tag master database",
       [&](InputFolder& f) {
         auto args = Csv(f, good);
         fs::remove(f.TagDb());
         return args;
       },
       1, "データベースを開けません。", {"ｴﾗｰ番号 3024:"}, Changes::Tags,
       [&](InputFolder& f) { EXPECT_FALSE(fs::exists(f.TagDb())) << "the job made a database"; }},
  };
  const int tried = TryInputs(cases);
  Figure("inputs tried: " + std::to_string(tried) + " (master CSV files)");
}

}  // namespace
}  // namespace pendra::reliability
