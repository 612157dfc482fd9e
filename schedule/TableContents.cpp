#include "TableContents.h"

#include <charconv>
#include <string>

#include "TableChanges.h"

namespace pendra::schedule {

namespace {

// The value's kind and value, told apart from every other: a number in
// the shortest text that reads back as the same double, a text with its
// length (it may hold any character, the separator too).
void AppendExactly(std::string& row, const Variant& value) {
  row += static_cast<char>('A' + static_cast<int>(value.Type()));
  std::string text;
  switch (value.Type()) {
    case VarType::Empty:
    case VarType::Null: break;
    case VarType::String: text = value.StringValue(); break;
    case VarType::Boolean: text = value.BooleanValue() ? "1" : "0"; break;
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long: text = std::to_string(value.IntegerValue()); break;
    case VarType::Currency: text = std::to_string(value.CurrencyScaled()); break;
    case VarType::Error: text = std::to_string(value.ErrorCode()); break;
    case VarType::Single:
    case VarType::Double:
    case VarType::Date: {
      char digits[32];
      const auto end = std::to_chars(digits, digits + sizeof digits, value.DoubleValue()).ptr;
      text.assign(digits, end);
      break;
    }
  }
  row += std::to_string(text.size());
  row += ':';
  row += text;
}

}  // namespace

TableContents ScheduleTableContents(dao::Database& db) {
  TableContents contents;
  std::string row;
  for (const auto& table : backups::ScheduleTablesByKey()) {
    std::vector<int> compared;
    const auto fields = db.TableDefFields(table.table);
    for (size_t i = 0; i < fields.size(); ++i)
      if (!table.setByTheJob || fields[i].Name != table.setByTheJob) compared.push_back(static_cast<int>(i));
    auto rs = db.OpenRecordset(std::string("SELECT * FROM ") + table.table, dao::dbOpenSnapshot);
    for (; !rs->Eof(); rs->MoveNext()) {
      row = table.table;
      for (const int column : compared) AppendExactly(row, dao::Field(*rs, column).Value());
      contents.AddBytes(row);
    }
    rs->Close();
  }
  return contents;
}

}  // namespace pendra::schedule
