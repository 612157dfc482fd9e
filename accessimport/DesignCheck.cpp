#include "DesignCheck.h"

#include "core/AsciiText.h"

namespace pendra::accessimport {

namespace {

std::string OurTypeName(const dao::FieldDef& field) {
  if (field.Type == 0) return "型なし";
  std::string name = mdb::TypeName(field.Type);
  if (field.Type == dao::dbText) name += "(" + std::to_string(field.Size) + ")";
  return name;
}

std::string AccessTypeName(const mdb::AccessColumn& column) {
  std::string name = mdb::TypeName(column.type);
  if (column.type == static_cast<int>(mdb::AccessType::Text)) name += "(" + std::to_string(column.size) + ")";
  return name;
}

std::string YesNo(bool value) { return value ? "はい" : "いいえ"; }

}  // namespace

DesignComparison CompareDesign(const mdb::AccessTable& access, const std::vector<dao::FieldDef>& ours) {
  DesignComparison result;
  const std::string table = access.name;
  std::vector<bool> matched(access.columns.size(), false);
  for (const auto& field : ours) {
    size_t found = access.columns.size();
    for (size_t i = 0; i < access.columns.size(); ++i)
      if (EqualIgnoringAsciiCase(access.columns[i].name, field.Name)) found = i;
    if (found == access.columns.size()) {
      result.differences.push_back(table + "." + field.Name + ": Access 側にない列 (既定値になります)");
      continue;
    }
    matched[found] = true;
    const auto& column = access.columns[found];
    const std::string where = table + "." + field.Name + ": ";
    if (column.unreadable) {
      if (result.unreadable.empty()) result.unreadable = table + "." + column.name + " (" + AccessTypeName(column) + ")";
      continue;
    }
    result.carried.push_back({found, field.Name});
    if (column.type != field.Type || (field.Type == dao::dbText && column.size != field.Size))
      result.differences.push_back(where + "型 " + AccessTypeName(column) + " → " + OurTypeName(field));
    if (column.required != field.Required)
      result.differences.push_back(where + "値の要求 " + YesNo(column.required) + " → " + YesNo(field.Required));
    if ((field.Type == dao::dbText || field.Type == dao::dbMemo) && column.allowZeroLength != field.AllowZeroLength)
      result.differences.push_back(where + "空文字列の許可 " + YesNo(column.allowZeroLength) + " → " +
                                   YesNo(field.AllowZeroLength));
  }
  for (size_t i = 0; i < access.columns.size(); ++i)
    if (!matched[i]) result.differences.push_back(table + "." + access.columns[i].name + ": こちらにない列 (取り込みません)");
  return result;
}

}  // namespace pendra::accessimport
