#include "ScheduleLayout.h"

namespace pendra::schedule {

const TableLayout& GroupMasterLayout() {
  static const TableLayout layout{
      "GroupMaster",
      {
          {"GPno", 1, std::nullopt},
          {"GP名称", 2, std::nullopt},
          {"有効", 3, Variant(true)},
      },
      "DELETE FROM GroupMaster",
      "SELECT * FROM GroupMaster ORDER BY GPno",
  };
  return layout;
}

const TableLayout& KikiMasterLayout() {
  static const TableLayout layout{
      "KikiMaster",
      {
          {"タグ名", 1, std::nullopt},
          {"機器名称", 2, std::nullopt},
          {"開始操作値", 3, Variant(int16_t{1})},
          {"終了操作値", 4, Variant(int16_t{0})},
      },
      "DELETE FROM KikiMaster",
      "SELECT * FROM KikiMaster ORDER BY タグ名",
  };
  return layout;
}

const std::vector<const TableLayout*>& ScheduleTables() {
  static const std::vector<const TableLayout*> tables{&GroupMasterLayout(), &KikiMasterLayout()};
  return tables;
}

}  // namespace pendra::schedule
