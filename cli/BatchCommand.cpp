#include "BatchCommand.h"

#include <cstdlib>
#include <exception>
#include <optional>
#include <ostream>

#include "Commands.h"
#include "core/PlatformError.h"
#include "core/Version.h"
#include "excel/Excel.h"

namespace pendra::cli {

namespace {

constexpr const char* kHead = R"(Usage: pendra COMMAND [ARGUMENT] [--base DIR] [--yes] [--allow-row-loss] [--dry-run] [--office-memory MB] [--office-seconds S]
       pendra --help | --version

Runs the jobs of Pendra_Set without its window, on the same databases.
Pendra_Set のジョブをウィンドウなしで実行します。データベースは同じものを使います。

Commands / コマンド:
)";

constexpr const char* kOptions = R"(
Options / オプション:
  --base DIR           The base folder holding OV_DataBase, VL_Database and the
                       template (default: the folder of this program).
                       データベースと原紙のあるフォルダ (既定: このプログラムのフォルダ)。
  --yes                Answer Yes to the confirmation and to replacing an
                       existing TARGET. Without it each question is asked on
                       the terminal, and refused when there is none.
                       確認と上書きに「はい」と答えます。省略時は端末で尋ね、端末がなければ中止します。
  --allow-row-loss     expand: answer Yes to the questions asked before rows
                       are lost (rows below a blank first cell, a table left
                       empty); --yes does not. Without it they are asked on
                       the terminal; with none the expansion stops with
                       nothing changed (exit 3).
                       展開で行が失われるときの質問に「はい」と答えます (--yes では答えません)。
  --dry-run            expand, import-csv, import-mdb: do the whole job on
                       copies, report rows before and after, added, removed
                       and changed (by key), and change nothing; restore:
                       report what putting the backup back would change.
                       試行のみ: 変更内容を表示し、データベースは変更しません。
  --office-memory MB   The most memory the spreadsheet application may hold,
                       320 to 1048576 (default 2048, or PENDRA_OFFICE_MEMORY_MB).
                       スプレッドシート アプリケーションのメモリ上限 (MB)。
  --office-seconds S   The longest a job may use the spreadsheet application,
                       1 to 604800 (default 120, or PENDRA_OFFICE_SECONDS); past
                       either limit it is ended and the job fails, changing
                       nothing. A variable out of range is a usage error.
                       ジョブがスプレッドシート アプリケーションを使える時間の上限 (秒)。
  --help               Show this help. / このヘルプを表示します。
  --version            Show the version. / バージョンを表示します。

Exit status / 終了コード: 0 completed / 完了, 1 refused or failed (nothing
changed), or check-mdb found a problem / 中止・エラー・検査で問題あり, 2 usage error / 使い方の誤り, 3 import-csv stored
records but refused or skipped some / 一部の行を取り込めませんでした, or expand would
lose rows without --allow-row-loss (nothing changed) / 行が失われるため展開を中止しました.
Every job that changes a database first keeps a copy of it in backup/ beside
it (the newest 10, or PENDRA_BACKUPS_KEEP); see "backups" and "restore".
Messages are the tool's own Japanese texts; errors go to standard error.
)";

// Command and argument, then the help lines, in two columns.
constexpr size_t kHelpColumn = 23;

// What went wrong, the one usage line and where the rest is: the whole
// help would bury the one line that matters.
int UsageError(const ConsoleStreams& streams, const std::string& what) {
  const std::string head = kHead;
  streams.err << "pendra: " << what << "\n"
              << head.substr(0, head.find('\n') + 1) << "Try 'pendra --help' for more information.\n";
  return kUsageError;
}

// Runs the command; an error that escapes it (one no job foresaw, or a
// step around the job such as the dry run's copies) is told on standard
// error like any failure, never left to end the program abnormally: the
// folders and files the command made are removed as the error unwinds.
int RunCaught(const Command& command, const std::string& argument, const ConsoleOptions& options,
              const ConsoleStreams& streams) {
  try {
    return command.run(argument, options, streams);
  } catch (const PlatformError& e) {
    streams.err << "pendra: ｴﾗｰ番号 " << e.Number() << ":" << e.Description() << "\n";
  } catch (const std::exception& e) {
    streams.err << "pendra: " << e.what() << "\n";
  } catch (...) {
    streams.err << "pendra: " << StandardDescription(err::kApplicationDefined) << "\n";
  }
  return kFailed;
}

}  // namespace

std::string UsageText() {
  std::string text = kHead;
  for (const Command& command : Commands()) {
    std::string first = "  " + std::string(command.name) + " " + std::string(command.argument);
    first.resize(std::max(first.size() + 1, kHelpColumn), ' ');
    for (size_t i = 0; i < command.help.size(); ++i)
      text += (i == 0 ? first : std::string(kHelpColumn, ' ')) + std::string(command.help[i]) + "\n";
  }
  return text + kOptions;
}

int RunBatchCommand(const std::vector<std::string>& args, const ConsoleStreams& streams,
                    const std::string& programFolder) {
  std::vector<std::string> positional;
  ConsoleOptions options;
  // A variable with a value out of range is refused like the option, unless
  // the option overrides it: a script learns of it before any job runs.
  std::vector<excel::RefusedLimitVariable> refusedVariables;
  excel::OfficeLimits limits = excel::OfficeLimitsFromEnvironment({}, &refusedVariables);
  bool memoryGiven = false, secondsGiven = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      streams.out << UsageText();
      return kCompleted;
    } else if (arg == "--version") {
      streams.out << "pendra (" << kProductName << ") " << kVersionText << "\n";
      return kCompleted;
    } else if (arg == "--yes" || arg == "-y") {
      options.assumeYes = true;
    } else if (arg == "--allow-row-loss") {
      options.allowRowLoss = true;
    } else if (arg == "--dry-run") {
      options.dryRun = true;
    } else if (arg == "--base") {
      if (++i == args.size()) return UsageError(streams, "--base needs a folder");
      options.baseFolder = args[i];
    } else if (arg.rfind("--base=", 0) == 0) {
      options.baseFolder = arg.substr(7);
    } else if (arg == "--office-memory" || arg == "--office-seconds") {
      if (++i == args.size()) return UsageError(streams, arg + " needs a number");
      if (arg == "--office-memory") {
        const auto megabytes = excel::OfficeMemoryFromText(args[i]);
        if (!megabytes)
          return UsageError(streams, arg + " needs a whole number of megabytes from " + excel::OfficeMemoryRange());
        limits.memoryMegabytes = *megabytes;
        memoryGiven = true;
      } else {
        const auto seconds = excel::OfficeSecondsFromText(args[i]);
        if (!seconds) return UsageError(streams, arg + " needs a whole number of seconds from " + excel::OfficeSecondsRange());
        limits.time = *seconds;
        secondsGiven = true;
      }
    } else if (arg.rfind("--", 0) == 0) {
      return UsageError(streams, "unknown option " + arg);
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.empty()) return UsageError(streams, "expected a command");
  const Command* command = FindCommand(positional[0]);
  if (!command) return UsageError(streams, "unknown command " + positional[0]);
  const size_t arguments = command->argument.empty() ? 1 : 2;
  if (positional.size() != arguments)
    return UsageError(streams, command->argument.empty() ? std::string(command->name) + " takes no argument"
                                                         : "expected a command and one argument");
  const std::string argument = arguments == 2 ? positional[1] : std::string();
  if (arguments == 2 && argument.empty() && !command->emptyArgumentError.empty())
    return UsageError(streams, std::string(command->emptyArgumentError));

  for (const auto& variable : refusedVariables) {
    const bool overridden = variable.name == "PENDRA_OFFICE_MEMORY_MB" ? memoryGiven : secondsGiven;
    if (!overridden) return UsageError(streams, variable.Describe());
  }
  excel::SetOfficeLimits(limits);
  if (options.dryRun && !command->dryRun) return UsageError(streams, "--dry-run goes with expand, import-csv, import-mdb and restore");
  if (options.allowRowLoss && command->name != "expand") return UsageError(streams, "--allow-row-loss goes with expand");
  if (options.baseFolder.empty()) options.baseFolder = programFolder;
  while (options.baseFolder.size() > 1 && options.baseFolder.back() == '/') options.baseFolder.pop_back();
  return RunCaught(*command, argument, options, streams);
}

}  // namespace pendra::cli
