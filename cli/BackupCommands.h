// pendra backups and pendra restore: the copies the jobs keep of each
// database before they change it, listed and put back.
#pragma once

#include <string>

#include "ConsoleUi.h"

namespace pendra::cli {

int ListBackupsCommand(const std::string& argument, ConsoleOptions options, const ConsoleStreams& streams);
int RestoreCommand(const std::string& argument, ConsoleOptions options, const ConsoleStreams& streams);

}  // namespace pendra::cli
