// The integrity check on the real Access files and on copies damaged in one
// place each: every damage is reported, naming what it found, and the
// undamaged files are clean with their index keys compared byte for byte.
#include "jet/Checker.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <algorithm>
#include <functional>
#include <random>
#include <sstream>

#include "access/AccessWriter.h"
#include "core/PlatformError.h"
#include "mdb/AccessFile.h"
#include "jet/Catalog.h"
#include "jet/DataPage.h"
#include "jet/IndexTree.h"
#include "jet/TableRewrite.h"
#include "jet/RowLayout.h"
#include "jet/TableDefinition.h"
#include "jet/UsageMap.h"

namespace pendra::jet {
namespace {

using access::RewriteTable;

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
                                          "ja_V2016.accdb",         "extDateTestV2019.accdb",
                                          // Access-made, with a table whose columns are all fixed-length
                                          "public_domain_sample.mdb", "public_domain_sample.accdb"};
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

  std::string Check(const std::function<void(JetFile&, const TableDefinition&)>& damage, const std::string& table,
                    const std::string& base = kData + "/ja_V2000.mdb") {
    JetFile file(base);
    const TableDefinition kiki = ReadTableDefinition(file, FindTable(file, table).definitionPage);
    damage(file, kiki);
    const std::string path = (folder_ / "damaged.mdb").string();
    std::ofstream(path, std::ios::binary) << file.bytes();
    const FileCheck check = CheckAccessFile(path);
    EXPECT_FALSE(check.Clean());
    return AllText(check);
  }
  // ja_V2000.mdb with a Memo value of 型テスト kept in one row outside its
  // own (written by our writer, which the file's check then accepts).
  std::string WithLongValues() {
    const std::string path = (folder_ / "long-values.mdb").string();
    std::filesystem::copy_file(kData + "/ja_V2000.mdb", path, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    for (mdb::AccessTable& t : mdb::ReadAccessFile(path).tables) {
      if (t.name != "型テスト") continue;
      for (size_t c = 0; c < t.columns.size(); ++c)
        if (t.columns[c].type == static_cast<int>(mdb::AccessType::Memo))
          for (size_t r : {0, 1}) t.rows.at(r)[c] = Variant(std::string(300, static_cast<char>('m' + r)));
      RewriteTable(path, t.name, t.rows);
    }
    return path;
  }
  static char& At(JetFile& file, uint32_t page, size_t offset) { return file.bytes()[page * file.PageSize() + offset]; }

  std::filesystem::path folder_;
};

// Where the first long value of the table kept outside its row (0x40: in
// one row elsewhere) lies in the file's bytes.
size_t LongValueOutsideItsRow(const JetFile& f, const TableDefinition& t, size_t nth = 0) {
  for (const LiveRow& row : LiveRows(f, DataPagesOf(f, t.page))) {
    const StoredRow stored(f, row.bytes, t);
    for (const Column& c : t.columns) {
      if (c.type != static_cast<int>(mdb::AccessType::Memo) && c.type != static_cast<int>(mdb::AccessType::Ole)) continue;
      const StoredField field = stored.Field(c);
      if (!field.null && field.bytes.size() >= 12 && static_cast<uint8_t>(field.bytes[3]) == 0x40 && nth-- == 0)
        return static_cast<size_t>(field.bytes.data() - f.bytes().data());
    }
  }
  ADD_FAILURE() << "no long value outside its row in " << t.name;
  return 0;
}

// Sets or clears one page's bit in an inline usage map.
void MarkInline(JetFile& f, uint32_t pointer, uint32_t page, bool on) {
  const UsageMap map = ReadUsageMap(f, pointer);
  ASSERT_EQ(map.type, 0);
  ASSERT_GE(page, map.firstPage);
  ASSERT_LT(page - map.firstPage, map.capacity);
  const std::string_view row = RowAt(f, pointer);
  const size_t at = static_cast<size_t>(row.data() - f.bytes().data()) + 5 + (page - map.firstPage) / 8;
  const auto bit = static_cast<char>(1 << ((page - map.firstPage) % 8));
  f.bytes()[at] = static_cast<char>(on ? (f.bytes()[at] | bit) : (f.bytes()[at] & ~bit));
}

TEST_F(Damaged, EachDamageIsReported) {
  struct Case {
    const char* what;
    std::function<void(JetFile&, const TableDefinition&)> damage;
    const char* reported;
    const char* table = "KikiMaster";
    bool longValues = false;  // starting from WithLongValues()
    bool unreadable = false;  // the reader of the jobs (libmdb, in its child) refuses it too
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
      {"two entries pointing at each other's row",
       [](JetFile& f, const TableDefinition& t) {
         // The root of KikiMaster's index is its one leaf: the keys stay in
         // order and every row keeps one entry, but the first two keys now
         // name each other's rows.
         const Layout& l = f.layout();
         const size_t page = size_t{t.realIndexes[0].rootPage} * f.PageSize();
         std::vector<size_t> ends;  // each entry's end, from the page's mask
         for (size_t bit = 0; bit < l.indexMaskSize * 8; ++bit)
           if (static_cast<uint8_t>(f.bytes()[page + l.indexMask + bit / 8]) & (1u << (bit % 8))) ends.push_back(bit);
         ASSERT_GE(ends.size(), 2u);
         const size_t entries = page + l.indexMask + l.indexMaskSize;
         for (size_t i = 1; i <= 4; ++i) std::swap(f.bytes()[entries + ends[0] - i], f.bytes()[entries + ends[1] - i]);
       },
       "KikiMaster: ! 索引 タグ名: 行 "},
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
      {"index page left out of the index's own map",
       [](JetFile& f, const TableDefinition& t) {
         const UsageMap map = ReadUsageMap(f, t.realIndexes[0].ownedMap);
         ASSERT_EQ(map.type, 0);
         const std::string_view row = RowAt(f, t.realIndexes[0].ownedMap);
         std::fill_n(f.bytes().begin() + (row.data() - f.bytes().data()) + 5, row.size() - 5, '\0');
       },
       "KikiMaster: ! 索引 タグ名: ページ 31 が索引の使用状況マップにありません"},
      {"long-value page of 型テスト's Memo column taken by another table",
       [](JetFile& f, const TableDefinition& t) {
         const uint32_t page = ReadUsageMap(f, t.longValueMaps.at(0).ownedMap).pages.front();
         PutLe32(f.bytes(), page * f.PageSize() + 4, FindTable(f, "GroupMaster").definitionPage);
       },
       "型テスト: ! 列 メモ の長い値の使用状況マップのページ", "型テスト"},
      {"long value whose chain loops on one row",
       [](JetFile& f, const TableDefinition& t) {
         const size_t at = LongValueOutsideItsRow(f, t);
         const uint32_t pointer = Le32(f.bytes(), at + 4);
         f.bytes()[at + 3] = 0;  // a chain: each row starts with the next one's pointer
         const std::string_view row = RowAt(f, pointer);
         PutLe32(f.bytes(), static_cast<size_t>(row.data() - f.bytes().data()), pointer);
       },
       "(長い値の行の鎖が輪になっています)", "型テスト", true, true},
      {"long value beyond the end of the file",
       [](JetFile& f, const TableDefinition& t) { PutLe32(f.bytes(), LongValueOutsideItsRow(f, t) + 4, (f.PageCount() + 7) << 8); },
       "はファイルの外です", "型テスト", true, true},
      {"two long values sharing one row",
       [](JetFile& f, const TableDefinition& t) {
         PutLe32(f.bytes(), LongValueOutsideItsRow(f, t, 1) + 4, Le32(f.bytes(), LongValueOutsideItsRow(f, t, 0) + 4));
       },
       "(長い値の行を二つの値が使っています)", "型テスト", true},
      {"long value longer than its row",
       [](JetFile& f, const TableDefinition& t) {
         const size_t at = LongValueOutsideItsRow(f, t);
         PutLe16(f.bytes(), at, Le16(f.bytes(), at) + 4000);
       },
       "長い値の行が記録された長さより短いです", "型テスト", true, true},
  };
  const std::string longValues = WithLongValues();
  for (const Case& c : cases) {
    const std::string text = c.longValues ? Check(c.damage, c.table, longValues) : Check(c.damage, c.table);
    if (c.unreadable) {
      try {
        mdb::ReadAccessFile((folder_ / "damaged.mdb").string());
        ADD_FAILURE() << c.what << ": read";
      } catch (const PlatformError& e) {
        EXPECT_EQ(e.Number(), 3049) << c.what << ": " << e.Description();
      }
    }
    EXPECT_NE(text.find(c.reported), std::string::npos) << c.what << "\n" << text;
  }
}

// What other writers leave behind and Access reads without complaint is
// not damage: each of these copies of ja_V2000.mdb is clean.
TEST_F(Damaged, HarmlessSlackIsNotDamage) {
  struct Case {
    const char* what;
    std::function<void(JetFile&, const TableDefinition&)> change;
  };
  // A page added at the end of the file, as a copy of one of its pages.
  const auto append = [](JetFile& f, uint32_t like) {
    const std::string page(f.Page(like));
    f.bytes() += page;
    return f.PageCount() - 1;
  };
  const auto emptyLeaf = [](JetFile& f, uint32_t page, uint32_t table) {
    std::string& b = f.bytes();
    std::fill_n(b.begin() + static_cast<std::ptrdiff_t>(page * f.PageSize()), f.PageSize(), '\0');
    b[page * f.PageSize()] = 0x04;
    b[page * f.PageSize() + 1] = 0x01;
    PutLe32(b, page * f.PageSize() + 4, table);
    PutLe16(b, page * f.PageSize() + 2, static_cast<uint32_t>(f.PageSize() - 480));
  };
  const std::vector<Case> cases = {
      {"an index page emptied by deletes, out of the tree, still in the index's map",
       [&](JetFile& f, const TableDefinition& t) {
         const uint32_t page = append(f, t.realIndexes[0].rootPage);
         emptyLeaf(f, page, t.page);
         MarkInline(f, kGlobalUsageMap, page, false);
         MarkInline(f, t.realIndexes[0].ownedMap, page, true);
       }},
      {"an index page emptied and given back, still in the index's map",
       [&](JetFile& f, const TableDefinition& t) {
         const uint32_t page = append(f, t.realIndexes[0].rootPage);
         MarkInline(f, t.realIndexes[0].ownedMap, page, true);
         MarkInline(f, kGlobalUsageMap, page, true);
       }},
      {"an index page given back, used by another table and given back again, still in the index's map",
       [&](JetFile& f, const TableDefinition& t) {
         const uint32_t groupPage = ReadUsageMap(f, ReadTableDefinition(f, FindTable(f, "GroupMaster").definitionPage).ownedMap).pages.front();
         const uint32_t page = append(f, groupPage);
         MarkInline(f, kGlobalUsageMap, page, true);  // GroupMaster gave it back in turn
         MarkInline(f, t.realIndexes[0].ownedMap, page, true);
       }},
      {"the free-page map's window moved past a page given back with its old header",
       [&](JetFile& f, const TableDefinition& t) {
         // The table's data page, copied to the end as it was before it was
         // given back; then the map's window starts after it.
         const uint32_t page = append(f, ReadUsageMap(f, t.ownedMap).pages.front());
         const std::string_view row = RowAt(f, kGlobalUsageMap);
         const size_t at = static_cast<size_t>(row.data() - f.bytes().data());
         PutLe32(f.bytes(), at + 1, page + 1);
         std::fill_n(f.bytes().begin() + static_cast<std::ptrdiff_t>(at + 5), row.size() - 5, '\0');
       }},
  };
  for (const Case& c : cases) {
    JetFile file(kData + "/ja_V2000.mdb");
    const TableDefinition kiki = ReadTableDefinition(file, FindTable(file, "KikiMaster").definitionPage);
    c.change(file, kiki);
    const std::string path = (folder_ / "slack.mdb").string();
    std::ofstream(path, std::ios::binary) << file.bytes();
    const FileCheck check = CheckAccessFile(path);
    EXPECT_TRUE(check.Clean()) << c.what << "\n" << AllText(check);
    // Nor does the writer refuse it, with no rows or with its own, and what
    // it writes is clean.
    for (const mdb::AccessTable& t : mdb::ReadAccessFile(path).tables) {
      for (const auto& rows : {std::vector<std::vector<Variant>>{}, t.rows}) {
        try {
          RewriteTable(path, t.name, rows);
        } catch (const PlatformError& e) {
          ADD_FAILURE() << c.what << ": " << t.name << ": " << e.Description();
        }
        const FileCheck after = CheckAccessFile(path);
        EXPECT_TRUE(after.Clean()) << c.what << ": after rewriting " << t.name << "\n" << AllText(after);
      }
    }
  }
}

// Untrusted files: bytes changed at random in the pages that matter (the
// catalogue, definitions, maps, rows, index pages) give a report or a
// PlatformError, never a crash, another exception or a hang.
TEST(CheckAccessFile, RandomDamageIsReportedNeverACrash) {
  const JetFile original(kData + "/ja_V2000.mdb");
  std::mt19937 random(2026);
  int reported = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string bytes = original.bytes();
    const int changes = 1 + round % 4;
    for (int i = 0; i < changes; ++i) {
      // Mostly a page's header and tables (its first bytes and its last).
      const size_t page = std::uniform_int_distribution<size_t>(1, original.PageCount() - 1)(random);
      const int where = std::uniform_int_distribution<int>(0, 9)(random);
      const size_t offset = where < 6   ? std::uniform_int_distribution<size_t>(0, 80)(random)
                            : where < 8 ? original.PageSize() - 1 - std::uniform_int_distribution<size_t>(0, 300)(random)
                                        : std::uniform_int_distribution<size_t>(0, original.PageSize() - 1)(random);
      bytes[page * original.PageSize() + offset] = static_cast<char>(std::uniform_int_distribution<int>(0, 255)(random));
    }
    try {
      const JetFile file(bytes, "damaged.mdb");
      if (!CheckAccessFile(file).Clean()) ++reported;
    } catch (const PlatformError&) {
      ++reported;
    } catch (const std::exception& e) {
      ADD_FAILURE() << "round " << round << ": " << e.what();
    }
  }
  EXPECT_GT(reported, 300);
}

}  // namespace
}  // namespace pendra::jet
