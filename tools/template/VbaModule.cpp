// A VBA project written into a workbook through UNO, as LibreOffice needs
// it to store the project into an .xls.
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XNameContainer.hpp>
#include <com/sun/star/script/ModuleInfo.hpp>
#include <com/sun/star/script/ModuleType.hpp>
#include <com/sun/star/script/XLibraryContainer.hpp>
#include <com/sun/star/script/vba/XVBACompatibility.hpp>
#include <com/sun/star/script/vba/XVBAModuleInfo.hpp>

#include "TemplateMacros.h"

using css::uno::Any;
using css::uno::Reference;
using css::uno::UNO_QUERY_THROW;
using pendra::excel::ToOU;

namespace pendra::templatebook {

void AddVbaModule(const css::uno::Reference<css::sheet::XSpreadsheetDocument>& document, const std::string& source) {
  // LibreOffice writes the VBA project into the .xls when the Basic
  // libraries are in VBA mode, named "VBAProject", with the module
  // registered as a normal module; code page 932 keeps the Japanese
  // comments intact in the file.
  Reference<css::script::XLibraryContainer> libraries(Reference<css::beans::XPropertySet>(document, UNO_QUERY_THROW)->getPropertyValue(ToOU("BasicLibraries")), UNO_QUERY_THROW);
  Reference<css::script::vba::XVBACompatibility> vba(libraries, UNO_QUERY_THROW);
  vba->setVBACompatibilityMode(true);
  vba->setProjectName(ToOU("VBAProject"));
  Reference<css::beans::XPropertySet>(libraries, UNO_QUERY_THROW)->setPropertyValue(ToOU("VBATextEncoding"), Any(sal_Int16(60)));  // RTL_TEXTENCODING_MS_932
  const auto project = ToOU("VBAProject");
  Reference<css::container::XNameContainer> library(
      libraries->hasByName(project) ? libraries->getByName(project) : Any(libraries->createLibrary(project)), UNO_QUERY_THROW);
  css::script::ModuleInfo info;
  info.ModuleType = css::script::ModuleType::NORMAL;
  Reference<css::script::vba::XVBAModuleInfo>(library, UNO_QUERY_THROW)->insertModuleInfo(ToOU("Module1"), info);
  library->insertByName(ToOU("Module1"), Any(ToOU(source)));
}

}  // namespace pendra::templatebook
