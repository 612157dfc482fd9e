// pendra's command line: options, the command and its argument, help and
// version, usage errors. Everything it prints goes to the streams given.
#pragma once

#include <string>
#include <vector>

#include "ConsoleUi.h"

namespace pendra::cli {

// The help text, made from the table of commands.
std::string UsageText();

// Runs one command line (without the program name); programFolder is the
// base folder when --base is not given. Returns the exit status.
int RunBatchCommand(const std::vector<std::string>& args, const ConsoleStreams& streams,
                    const std::string& programFolder);

}  // namespace pendra::cli
