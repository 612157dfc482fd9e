#include "BatchCommand.h"

#include <ostream>

#include "Commands.h"
#include "core/Version.h"

namespace pendra::cli {

namespace {

constexpr const char* kHead = R"(Usage: pendra COMMAND ARGUMENT [--base DIR] [--yes]
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
                       existing TARGET. Without it the question is asked on the
                       terminal, and refused when there is none.
                       確認に「はい」と答えます。省略時は端末で尋ね、端末がなければ中止します。
  --help               Show this help. / このヘルプを表示します。
  --version            Show the version. / バージョンを表示します。

Exit status / 終了コード: 0 completed / 完了, 1 refused or failed / 中止・エラー,
2 usage error / 使い方の誤り.
Messages are the tool's own Japanese texts; errors go to standard error.
)";

// Command and argument, then the help lines, in two columns.
constexpr size_t kHelpColumn = 23;

int UsageError(const ConsoleStreams& streams, const std::string& what) {
  streams.err << "pendra: " << what << "\n\n" << UsageText();
  return kUsageError;
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
    } else if (arg == "--base") {
      if (++i == args.size()) return UsageError(streams, "--base needs a folder");
      options.baseFolder = args[i];
    } else if (arg.rfind("--base=", 0) == 0) {
      options.baseFolder = arg.substr(7);
    } else if (arg.rfind("--", 0) == 0) {
      return UsageError(streams, "unknown option " + arg);
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 2) return UsageError(streams, "expected a command and one argument");

  const Command* command = FindCommand(positional[0]);
  if (!command) return UsageError(streams, "unknown command " + positional[0]);
  const std::string& argument = positional[1];
  if (argument.empty() && !command->emptyArgumentError.empty())
    return UsageError(streams, std::string(command->emptyArgumentError));

  if (options.baseFolder.empty()) options.baseFolder = programFolder;
  while (options.baseFolder.size() > 1 && options.baseFolder.back() == '/') options.baseFolder.pop_back();
  return command->run(argument, options, streams);
}

}  // namespace pendra::cli
