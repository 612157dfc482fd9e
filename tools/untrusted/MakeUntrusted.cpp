// pendra-make-untrusted KIND OUT ARG
// Builds the hostile workbooks the tests feed to the jobs, each a proof of
// what a workbook from someone else may carry:
//   vba-xls OUT MARKER      Excel 97-2003 workbook whose VBA function writes
//                           MARKER; cells of KikiMaster and of a sheet no
//                           job reads call it
//   vba-xlsm OUT MARKER     the same as an Excel 2007 workbook with macros,
//                           under whatever name OUT has (".xls")
//   basic-ods OUT MARKER    the same as an OpenDocument spreadsheet with a
//                           Basic function, under whatever name OUT has
//   networked-template IN OUT URL
//                           the template IN with a web function and an
//                           external reference that point at URL (an .xls
//                           that LibreOffice writes keeps no linked image:
//                           the tests write that one as OpenDocument XML)
// The schedule sheets hold one valid row each, so a job that runs no code
// completes with the values that remain.
#include <iostream>

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameContainer.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/script/XLibraryContainer.hpp>

#include <map>
#include <vector>

#include "ExcelInternal.h"
#include "ScheduleLayout.h"
#include "TemplateMacros.h"

namespace {

using namespace pendra;
using namespace pendra::excel;
using css::uno::Any;
using css::uno::Reference;
using css::uno::UNO_QUERY_THROW;

std::string MarkerFunction(const std::string& marker, bool vba) {
  return std::string(vba ? "Option VBASupport 1\n" : "") +
         "Function PendraMark()\n"
         "  Open \"" + marker + "\" For Output As #1\n"
         "  Print #1, \"ran\"\n"
         "  Close #1\n"
         "  PendraMark = 999\n"
         "End Function\n";
}

Reference<css::sheet::XSpreadsheet> SheetNamed(DocumentState& state, const std::string& name) {
  auto sheets = state.document->getSheets();
  if (!sheets->hasByName(ToOU(name))) {
    sheets->insertNewByName(ToOU(name), static_cast<sal_Int16>(Reference<css::container::XIndexAccess>(sheets, UNO_QUERY_THROW)->getCount()));
  }
  return Reference<css::sheet::XSpreadsheet>(sheets->getByName(ToOU(name)), UNO_QUERY_THROW);
}

void SetCell(const Reference<css::sheet::XSpreadsheet>& sheet, int col, int row, const std::string& formula) {
  sheet->getCellByPosition(col, row)->setFormula(ToOU(formula));
}

// GroupMaster and KikiMaster with the jobs' header row and one row; the
// macro is called from KikiMaster's start value (numeric column with a
// fallback) and from a sheet that no job reads.
void ScheduleSheetsCalling(DocumentState& state, const std::string& call) {
  const std::map<std::string, std::vector<std::string>> row = {
      {"GroupMaster", {"7", "グループ7", "1"}},
      {"KikiMaster", {"TAG-7", "機器7", call, "5"}},
  };
  for (const schedule::TableLayout* table : schedule::ScheduleTables()) {
    auto sheet = SheetNamed(state, table->sheet());
    for (size_t c = 0; c < table->columns.size(); ++c) {
      const int column = table->columns[c].workbookColumn - 1;
      SetCell(sheet, column, 0, table->columns[c].name);
      SetCell(sheet, column, 1, row.at(table->sheet()).at(c));
    }
  }
  SetCell(SheetNamed(state, "Other"), 0, 0, call);
}

void Store(DocumentState& state, const std::string& out, const char* filter) {
  css::uno::Sequence<css::beans::PropertyValue> args(2);
  args.getArray()[0].Name = ToOU("FilterName");
  args.getArray()[0].Value <<= ToOU(filter);
  args.getArray()[1].Name = ToOU("Overwrite");
  args.getArray()[1].Value <<= true;
  Reference<css::frame::XStorable>(state.document, UNO_QUERY_THROW)->storeToURL(FileUrl(out), args);
}

void MacroWorkbook(const std::string& kind, const std::string& out, const std::string& marker) {
  auto app = CreateObject();
  auto workbook = app->Workbooks().Add();
  DocumentState& state = WorkbookAccess::State(*workbook);
  Remote(kind, [&] {
    if (kind == "basic-ods") {
      Reference<css::script::XLibraryContainer> libraries(
          Reference<css::beans::XPropertySet>(state.document, UNO_QUERY_THROW)->getPropertyValue(ToOU("BasicLibraries")),
          UNO_QUERY_THROW);
      const auto standard = ToOU("Standard");
      Reference<css::container::XNameContainer> library(
          libraries->hasByName(standard) ? libraries->getByName(standard) : Any(libraries->createLibrary(standard)),
          UNO_QUERY_THROW);
      library->insertByName(ToOU("Module1"), Any(ToOU(MarkerFunction(marker, false))));
    } else {
      templatebook::AddVbaModule(state.document, MarkerFunction(marker, true));
    }
    ScheduleSheetsCalling(state, "=PENDRAMARK()");
    Store(state, out, kind == "vba-xls" ? "MS Excel 97" : kind == "vba-xlsm" ? "Calc MS Excel 2007 VBA XML" : "calc8");
  });
  app->Quit();
}

void NetworkedTemplate(const std::string& in, const std::string& out, const std::string& url) {
  auto workbook = GetObject(in);
  DocumentState& state = WorkbookAccess::State(*workbook);
  Remote("networked-template", [&] {
    auto sheet = SheetNamed(state, "集計");
    SetCell(sheet, 9, 0, "=WEBSERVICE(\"" + url + "/webservice\")");
    SetCell(sheet, 9, 1, "='" + url + "/external.xls'#$Sheet1.A1");
  });
  workbook->SaveAs(out);
  workbook->Application()->Quit();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::cerr << "usage: pendra-make-untrusted KIND OUT ARG | networked-template IN OUT URL\n";
    return 2;
  }
  const std::string kind = argv[1];
  try {
    if (kind == "networked-template" && argc == 5) {
      NetworkedTemplate(argv[2], argv[3], argv[4]);
    } else if ((kind == "vba-xls" || kind == "vba-xlsm" || kind == "basic-ods") && argc == 4) {
      MacroWorkbook(kind, argv[2], argv[3]);
    } else {
      std::cerr << "pendra-make-untrusted: unknown kind " << kind << "\n";
      return 2;
    }
  } catch (const PlatformError& e) {
    std::cerr << "pendra-make-untrusted: " << e.Number() << ": " << e.Description() << "\n";
    return 1;
  }
  return 0;
}
