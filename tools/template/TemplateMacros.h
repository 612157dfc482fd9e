// The VBA module of the template: subResultClr and subResult.
#pragma once

#include <string>

#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>

#include "UnoSupport.h"

namespace pendra::templatebook {

// Gives the document a VBA project "VBAProject" with Module1 holding
// source, in the form LibreOffice writes into an .xls (code page 932).
void AddVbaModule(const css::uno::Reference<css::sheet::XSpreadsheetDocument>& document, const std::string& source);

// Module1's source, as stored in the workbook's VBA project.
std::string MacroSource();

}  // namespace pendra::templatebook
