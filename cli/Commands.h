// The commands of the batch command, as a table: each with its name, the
// argument it takes, its help lines and what it runs. The help text and
// the dispatch are both made from this table.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ConsoleUi.h"

namespace pendra::cli {

// Exit statuses of the batch command.
// kPartly: the import stored records but refused or skipped others.
// kRowLossRefused: the expansion would lose rows and --allow-row-loss was
// not given; nothing changed.
enum ExitStatus : int { kCompleted = 0, kFailed = 1, kUsageError = 2, kPartly = 3, kRowLossRefused = 3 };

struct Command {
  std::string_view name;
  std::string_view argument;                // as the help names it; empty: takes none
  std::vector<std::string_view> help;       // English lines, then Japanese
  // The usage error for an empty argument; empty when the job itself
  // answers an empty argument (as the window answers an empty path box).
  std::string_view emptyArgumentError;
  // Runs the command on its argument; returns the exit status.
  int (*run)(const std::string& argument, const ConsoleOptions& options, const ConsoleStreams& streams);
  // It takes --dry-run.
  bool dryRun = false;
};

const std::vector<Command>& Commands();
// The command of that name, or nullptr.
const Command* FindCommand(std::string_view name);

}  // namespace pendra::cli
