// The schedule master exchange: workbook output and workbook expansion.
// The window and the batch command run these same jobs.
#pragma once

#include <string>

#include "core/JobOutcome.h"
#include "core/UserInterface.h"

namespace pendra::schedule {

// "展開実行": out of the topmost band, path test, confirmation, the expansion
// of the workbook named in the path box, then the end of the program.
JobOutcome Command3_Click(UserInterface& ui);

// The expansion job: both schedule tables refilled from the workbook, all or
// nothing; every outcome reported by a message box and returned.
JobOutcome subXlsToDb(UserInterface& ui, const std::string& workbookPath);

// The output job: both schedule tables written into a workbook made from the
// template, its two macros run, saved under target; every outcome reported
// by a message box and returned.
JobOutcome subDbToXls(UserInterface& ui, const std::string& target);

}  // namespace pendra::schedule
