// pendra-make-template OUT.xls [--macros FILE]
// Writes the template workbook "Pendra_原紙.xls": the sheets "GroupMaster"
// and "KikiMaster" with their header rows, a sheet "集計" for the results of
// the macros, and the VBA module with subResultClr and subResult. The two
// exchanged sheets, their columns and their order are the jobs' own
// (schedule/ScheduleLayout), so the template cannot drift from them. Values go
// through the spreadsheet layer; sheets, formatting and the VBA project,
// which only this builder needs, through UNO directly. --macros replaces
// the module's source (tests use it for macros that misbehave).
#include <algorithm>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <com/sun/star/awt/FontWeight.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/table/XColumnRowRange.hpp>
#include <com/sun/star/util/NumberFormat.hpp>

#include "ExcelInternal.h"
#include "ScheduleLayout.h"
#include "TemplateMacros.h"

namespace {

using namespace pendra;
using namespace pendra::excel;
using css::uno::Any;
using css::uno::Reference;
using css::uno::UNO_QUERY_THROW;

struct Column {
  std::string header;
  sal_Int32 width;  // 1/100 mm
};

struct SheetLayout {
  std::string name;
  std::vector<Column> columns;   // from column A on
};

constexpr const char* kSummarySheet = "集計";

// The exchanged sheets as the jobs lay them out, each column headed by its
// table column's name, then the summary sheet of the macros.
std::vector<SheetLayout> Sheets() {
  static const std::map<std::string, sal_Int32> kWidths = {
      {"GPno", 2000}, {"GP名称", 7000}, {"有効", 2000},
      {"タグ名", 4500}, {"機器名称", 7000}, {"開始操作値", 3000}, {"終了操作値", 3000}};
  std::vector<SheetLayout> sheets;
  for (const schedule::TableLayout* table : schedule::ScheduleTables()) {
    std::vector<schedule::ColumnLayout> columns = table->columns;
    std::sort(columns.begin(), columns.end(),
              [](const auto& a, const auto& b) { return a.workbookColumn < b.workbookColumn; });
    SheetLayout sheet{table->sheet(), {}};
    for (const auto& column : columns) sheet.columns.push_back({column.name, kWidths.at(column.name)});
    sheets.push_back(std::move(sheet));
  }
  sheets.push_back({kSummarySheet,
                    {{"シート", 3500}, {"データ行数", 2800}, {"重複キー", 2800}, {"終端より下の行", 3800}, {"判定", 2500}}});
  return sheets;
}

const std::vector<SheetLayout> kSheets = Sheets();

constexpr sal_Int32 kHeaderFill = 0xDDEBF7;  // light blue

Reference<css::beans::XPropertySet> Props(const Reference<css::uno::XInterface>& object) {
  return Reference<css::beans::XPropertySet>(object, UNO_QUERY_THROW);
}

void ArrangeSheets(css::uno::Reference<css::sheet::XSpreadsheetDocument> document) {
  auto sheets = document->getSheets();
  Reference<css::container::XIndexAccess> byIndex(sheets, UNO_QUERY_THROW);
  Reference<css::container::XNamed>(byIndex->getByIndex(0), UNO_QUERY_THROW)->setName(ToOU(kSheets[0].name));
  for (size_t i = 1; i < kSheets.size(); ++i) sheets->insertNewByName(ToOU(kSheets[i].name), static_cast<sal_Int16>(i));
  while (byIndex->getCount() > static_cast<sal_Int32>(kSheets.size()))
    sheets->removeByName(Reference<css::container::XNamed>(byIndex->getByIndex(byIndex->getCount() - 1), UNO_QUERY_THROW)->getName());
}

// Bold header on a light fill, readable column widths.
void FormatSheet(css::uno::Reference<css::sheet::XSpreadsheetDocument> document, const SheetLayout& layout, int headerRow) {
  Reference<css::sheet::XSpreadsheet> sheet(document->getSheets()->getByName(ToOU(layout.name)), UNO_QUERY_THROW);
  const sal_Int32 last = static_cast<sal_Int32>(layout.columns.size()) - 1;
  auto header = Props(sheet->getCellRangeByPosition(0, headerRow - 1, last, headerRow - 1));
  header->setPropertyValue(ToOU("CharWeight"), Any(css::awt::FontWeight::BOLD));
  header->setPropertyValue(ToOU("CharWeightAsian"), Any(css::awt::FontWeight::BOLD));
  header->setPropertyValue(ToOU("CellBackColor"), Any(kHeaderFill));
  auto columns = Reference<css::table::XColumnRowRange>(sheet, UNO_QUERY_THROW)->getColumns();
  for (sal_Int32 c = 0; c <= last; ++c)
    Props(Reference<css::uno::XInterface>(columns->getByIndex(c), UNO_QUERY_THROW))
        ->setPropertyValue(ToOU("Width"), Any(layout.columns[c].width));
}

}  // namespace

namespace {

void Build(const std::string& out, const std::string& macros) {
  auto app = CreateObject();
  auto workbook = app->Workbooks().Add();
  DocumentState& state = WorkbookAccess::State(*workbook);
  Remote("sheets", [&] { ArrangeSheets(state.document); });

  for (const auto& layout : kSheets) {
    auto sheet = workbook->Sheets(layout.name);
    const int16_t headerRow = layout.name == kSummarySheet ? 2 : 1;
    for (size_t c = 0; c < layout.columns.size(); ++c)
      sheet.Cells(headerRow, static_cast<int16_t>(c + 1)) = Variant(layout.columns[c].header);
    Remote("format", [&] { FormatSheet(state.document, layout, headerRow); });
  }
  auto summary = workbook->Sheets(kSummarySheet);
  summary.Cells(1, 1) = Variant("Pendra情報 集計");
  summary.Cells(3, 1) = Variant(schedule::GroupMasterLayout().sheet());
  summary.Cells(4, 1) = Variant(schedule::KikiMasterLayout().sheet());
  summary.Cells(6, 1) = Variant("集計日時");
  summary.Cells(8, 1) = Variant("subResultClr が結果欄を消し、subResult が数え直します。");
  summary.Cells(9, 1) = Variant("データは 2 行目から、A 列が空の行の手前までです (GroupMaster は A〜C 列、KikiMaster は A〜D 列)。");
  Remote("summary format", [&] {
    Reference<css::sheet::XSpreadsheet> sheet(state.document->getSheets()->getByName(ToOU(kSummarySheet)), UNO_QUERY_THROW);
    Props(sheet->getCellByPosition(0, 0))->setPropertyValue(ToOU("CharWeight"), Any(css::awt::FontWeight::BOLD));
    Props(sheet->getCellByPosition(0, 0))->setPropertyValue(ToOU("CharHeight"), Any(14.0f));
    Props(sheet->getCellByPosition(1, 5))
        ->setPropertyValue(ToOU("NumberFormat"), Any(state.StandardFormat(css::util::NumberFormat::DATETIME)));
  });
  Remote("macros", [&] { templatebook::AddVbaModule(state.document, macros); });
  workbook->SaveAs(out);
  app->Quit();
}

}  // namespace

int main(int argc, char** argv) {
  std::string macros = templatebook::MacroSource();
  if (argc == 4 && std::string(argv[2]) == "--macros") {
    std::ifstream in(argv[3], std::ios::binary);
    std::stringstream source;
    source << in.rdbuf();
    macros = source.str();
  } else if (argc != 2) {
    std::cerr << "usage: pendra-make-template OUT.xls [--macros FILE]\n";
    return 2;
  }
  try {
    Build(argv[1], macros);
  } catch (const PlatformError& e) {
    std::cerr << "pendra-make-template: " << e.Number() << ": " << e.Description() << "\n";
    return 1;
  }
  return 0;
}
