// The design comparison of an Access table with ours, case by case: what
// is carried, what is reported, and the column that cannot be read.
#include <gtest/gtest.h>

#include "DesignCheck.h"
#include "core/AsciiText.h"

namespace pendra::accessimport {
namespace {

using mdb::AccessColumn;

mdb::AccessTable Table(std::vector<AccessColumn> columns) {
  mdb::AccessTable table;
  table.name = "GroupMaster";
  table.columns = std::move(columns);
  return table;
}

const std::vector<dao::FieldDef> kOurs = {
    {"GPno", dao::dbLong, 0, false, true},
    {"GP名称", dao::dbText, 50, false, true},
    {"有効", dao::dbBoolean, 0, true, true},
};

struct Case {
  const char* what;
  std::vector<AccessColumn> access;
  std::vector<std::string> carried;
  std::vector<std::string> differences;
  std::string unreadable;
};

TEST(DesignCheck, ReportsEveryDifferenceAndCarriesWhatBothHave) {
  const Case cases[] = {
      {"the same design",
       {{"GPno", 4, 4}, {"GP名称", 10, 50}, {"有効", 1, 0, true}},
       {"GPno", "GP名称", "有効"},
       {},
       ""},
      {"names in another letter case are the same column",
       {{"gpno", 4, 4}, {"GP名称", 10, 50}, {"有効", 1, 0, true}},
       {"GPno", "GP名称", "有効"},
       {},
       ""},
      {"type, length, Required and Allow Zero Length differ",
       {{"GPno", 3, 2, true}, {"GP名称", 10, 80, false, false}, {"有効", 1, 0, true}},
       {"GPno", "GP名称", "有効"},
       {"GroupMaster.GPno: 型 整数型 → 長整数型", "GroupMaster.GPno: 値の要求 はい → いいえ",
        "GroupMaster.GP名称: 型 テキスト型(80) → テキスト型(50)", "GroupMaster.GP名称: 空文字列の許可 いいえ → はい"},
       ""},
      {"a column on one side only",
       {{"GPno", 4, 4}, {"有効", 1, 0, true}, {"備考", 12, 0}},
       {"GPno", "有効"},
       {"GroupMaster.GP名称: Access 側にない列 (既定値になります)", "GroupMaster.備考: こちらにない列 (取り込みません)"},
       ""},
      {"a carried column of a type that cannot be read",
       {{"GPno", 4, 4}, {"GP名称", 10, 50}, {"有効", 20, 42, false, true, true}},
       {"GPno", "GP名称"},
       {},
       "GroupMaster.有効 (拡張日付/時刻型)"},
      {"an unreadable column that is not carried",
       {{"GPno", 4, 4}, {"GP名称", 10, 50}, {"有効", 1, 0, true}, {"計算", 8, 39, false, true, true}},
       {"GPno", "GP名称", "有効"},
       {"GroupMaster.計算: こちらにない列 (取り込みません)"},
       ""},
  };
  for (const auto& c : cases) {
    const auto result = CompareDesign(Table(c.access), kOurs);
    std::vector<std::string> carried;
    for (const auto& column : result.carried) {
      carried.push_back(column.name);
      EXPECT_TRUE(EqualIgnoringAsciiCase(c.access[column.accessIndex].name, column.name)) << c.what;
    }
    EXPECT_EQ(carried, c.carried) << c.what;
    EXPECT_EQ(result.differences, c.differences) << c.what;
    EXPECT_EQ(result.unreadable, c.unreadable) << c.what;
  }
}

}  // namespace
}  // namespace pendra::accessimport
