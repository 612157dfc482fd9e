// pendra check-mdb: the integrity check of a genuine Access file, table by
// table, for any file a user has (it changes nothing).
#pragma once

#include <string>

#include "ConsoleUi.h"

namespace pendra::cli {

// 0: clean; 1: problems found, or the file cannot be read as a database.
int CheckMdbCommand(const std::string& argument, const ConsoleOptions& options, const ConsoleStreams& streams);

}  // namespace pendra::cli
