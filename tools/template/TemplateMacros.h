// The VBA module of the template: subResultClr and subResult.
#pragma once

#include <string>

namespace pendra::templatebook {

// Module1's source, as stored in the workbook's VBA project.
std::string MacroSource();

}  // namespace pendra::templatebook
