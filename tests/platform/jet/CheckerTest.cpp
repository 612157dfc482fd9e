// The integrity check on the real Access files and on copies damaged in one
// place each: every damage is reported, naming what it found, and the
// undamaged files are clean with their index keys compared byte for byte.
#include "jet/Checker.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "jet/Catalog.h"
#include "jet/DataPage.h"
#include "jet/IndexTree.h"
#include "jet/TableDefinition.h"
#include "jet/UsageMap.h"

namespace pendra::jet {
namespace {

const std::string kData = PENDRA_ACCESS_TESTDATA;

std::string AllText(const FileCheck& check) {
  std::string text;
  for (const std::string& p : check.problems) text += p + "\n";
  for (const TableCheck& t : check.tables) {
    for (const std::string& n : t.notes) text += t.name + ": " + n + "\n";
    for (const std::string& p : t.problems) text += t.name + ": ! " + p + "\n";
  }
  return text;
}

TEST(CheckAccessFile, EveryGenuineFileIsCleanAndTheCraftedOneIsNot) {
  const std::vector<std::string> clean = {"delColTestV1997.mdb",    "testV1997.mdb",          "test2V2000.mdb",
                                          "fixedNumericTestV2003.mdb", "testUnicodeCompV2003.mdb", "ja_V2000.mdb",
                                          "test2V2007.accdb",       "ja_V2007.accdb",         "testEmoticonsV2010.accdb",
                                          "ja_V2016.accdb",         "extDateTestV2019.accdb"};
  for (const std::string& name : clean) {
    const FileCheck check = CheckAccessFile(kData + "/" + name);
    EXPECT_TRUE(check.Clean()) << name << "\n" << AllText(check);
    // The text keys Access wrote are compared with ours, byte for byte; only
    // the Date/Time Extended keys are not built.
    const std::string text = AllText(check);
    if (name != "extDateTestV2019.accdb") {
      EXPECT_EQ(text.find("照合していません"), std::string::npos) << name << "\n" << text;
    }
  }
  const FileCheck crafted = CheckAccessFile(kData + "/jet3_cp932_crafted.mdb");
  EXPECT_FALSE(crafted.Clean());
  const std::string text = AllText(crafted);
  EXPECT_NE(text.find("Table1: ! 索引 B: 行 31:1 のエントリー"), std::string::npos) << text;
  EXPECT_NE(text.find("Table1: ! 索引 B: エントリー 7f696a6b6c6d6f70727300 (行 31:1) に合う行がありません"), std::string::npos) << text;
}

// A copy of ja_V2000.mdb with one change made through the page model.
class Damaged : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() / ("pendra-jet-check-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::string Check(const std::function<void(JetFile&, const TableDefinition&)>& damage) {
    JetFile file(kData + "/ja_V2000.mdb");
    const TableDefinition kiki = ReadTableDefinition(file, FindTable(file, "KikiMaster").definitionPage);
    damage(file, kiki);
    const std::string path = (folder_ / "damaged.mdb").string();
    std::ofstream(path, std::ios::binary) << file.bytes();
    const FileCheck check = CheckAccessFile(path);
    EXPECT_FALSE(check.Clean());
    return AllText(check);
  }
  static char& At(JetFile& file, uint32_t page, size_t offset) { return file.bytes()[page * file.PageSize() + offset]; }

  std::filesystem::path folder_;
};

TEST_F(Damaged, EachDamageIsReported) {
  struct Case {
    const char* what;
    std::function<void(JetFile&, const TableDefinition&)> damage;
    const char* reported;
  };
  const std::vector<Case> cases = {
      {"row count",
       [](JetFile& f, const TableDefinition& t) {
         const DefinitionPlace place = PlaceOf(f, t, f.layout().tdefRows);
         At(f, place.page, place.offset) = static_cast<char>(At(f, place.page, place.offset) + 1);
       },
       "KikiMaster: ! 記録された行数 5 が実際の 4 と違います"},
      {"index count",
       [](JetFile& f, const TableDefinition& t) {
         const DefinitionPlace place = PlaceOf(f, t, t.realIndexes[0].entryCountAt);
         At(f, place.page, place.offset) = 0;
       },
       "KikiMaster: ! 索引 タグ名: 記録されたキーの数 0 が実際の 3 と違います"},
      {"data page left out of the usage map",
       [](JetFile& f, const TableDefinition& t) {
         // These tables have reference maps: the bit is on the map's first page.
         const UsageMap owned = ReadUsageMap(f, t.ownedMap);
         ASSERT_EQ(owned.type, 1);
         const uint32_t page = owned.pages.front();
         char& byte = At(f, owned.mapPages.front(), 4 + page / 8);
         byte = static_cast<char>(byte & ~(1 << (page % 8)));
       },
       "KikiMaster: ! データページ "},
      {"index page owned by another table",
       [](JetFile& f, const TableDefinition& t) { At(f, t.realIndexes[0].rootPage, 4) = 0x7F; }, "は別のテーブル"},
      {"index key changed",
       [](JetFile& f, const TableDefinition& t) {
         // The last key byte of the root's first entry (before the 4-byte row pointer).
         const IndexPage page = ReadIndexPage(f, t.realIndexes[0].rootPage);
         const size_t entries = f.layout().indexMask + f.layout().indexMaskSize;
         char& byte = At(f, page.number, entries + page.entries[0].key.size() - 1);
         byte = static_cast<char>(byte ^ 0x01);
       },
       "に合う行がありません"},
      {"row value changed under its index",
       [](JetFile& f, const TableDefinition&) {
         // GroupMaster's GPno (Long) of its first row.
         const TableDefinition t = ReadTableDefinition(f, FindTable(f, "GroupMaster").definitionPage);
         const LiveRow row = LiveRows(f, DataPagesOf(f, t.page)).front();
         for (const RealIndex& index : t.realIndexes) {
           const Column& column = *t.ColumnNumbered(index.columns[0].columnNumber);
           if (!column.IsFixed()) continue;
           const size_t at = static_cast<size_t>(row.bytes.data() - f.bytes().data()) + 2 + column.fixedOffset;
           f.bytes()[at] = static_cast<char>(f.bytes()[at] ^ 0x10);
           return;
         }
         FAIL() << "GroupMaster has no fixed-length indexed column";
       },
       "GroupMaster: ! 索引 GPno: 行 "},
      {"data page also free",
       [](JetFile& f, const TableDefinition& t) {
         const UsageMap global = ReadUsageMap(f, kGlobalUsageMap);
         const uint32_t page = ReadUsageMap(f, t.ownedMap).pages.front();
         ASSERT_EQ(global.type, 0);
         const std::string_view row = RowAt(f, kGlobalUsageMap);
         const size_t rowAt = static_cast<size_t>(row.data() - f.bytes().data());
         const size_t bit = page - global.firstPage;
         f.bytes()[rowAt + 5 + bit / 8] = static_cast<char>(f.bytes()[rowAt + 5 + bit / 8] | (1 << (bit % 8)));
       },
       "がファイルの空きページにもなっています"},
  };
  for (const Case& c : cases) {
    const std::string text = Check(c.damage);
    EXPECT_NE(text.find(c.reported), std::string::npos) << c.what << "\n" << text;
  }
}

}  // namespace
}  // namespace pendra::jet
