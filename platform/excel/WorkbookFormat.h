// The workbook formats a target may name: the ones SaveAs writes, told by
// the extension (.xls Excel 97-2003, .xlsx, .ods, in any letter case).
// The window's dialog and the batch command refuse every other name with
// the same rule, so that a script never gets an Excel 97 file called
// "result.csv".
#pragma once

#include <filesystem>
#include <string_view>

#include "core/AsciiText.h"

namespace pendra::excel {

inline bool IsWorkbookFormat(std::string_view path) {
  const std::string ext = AsciiLowered(std::filesystem::path(path).extension().string());
  return ext == ".xls" || ext == ".xlsx" || ext == ".ods";
}

}  // namespace pendra::excel
