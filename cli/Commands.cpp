#include "Commands.h"

#include <filesystem>
#include <functional>
#include <ostream>

#include "ScheduleJobs.h"
#include "AccessImport.h"
#include "TagMasterUpdate.h"
#include "core/PlatformError.h"

namespace pendra::cli {

namespace {

// A job through the console: its outcome decides the exit status and where
// its messages go. An error that still escapes the job (a fault no job
// foresaw) is told on standard error instead of aborting.
int RunJob(const ConsoleOptions& options, const ConsoleStreams& streams,
           const std::function<JobOutcome(UserInterface&)>& job) {
  ConsoleUi ui(options, streams);
  try {
    const JobOutcome outcome = job(ui);
    ui.Finish(outcome);
    return outcome.IsCompleted() ? kCompleted : kFailed;
  } catch (const PlatformError& e) {
    ui.Finish(JobOutcome::Failed());
    streams.err << "pendra: ｴﾗｰ番号 " << e.Number() << ":" << e.Description() << "\n";
  } catch (const std::exception& e) {
    ui.Finish(JobOutcome::Failed());
    streams.err << "pendra: " << e.what() << "\n";
  }
  return kFailed;
}

int Output(const std::string& argument, ConsoleOptions options, const ConsoleStreams& streams) {
  const std::string target = std::filesystem::absolute(argument).string();
  return RunJob(options, streams, [&](UserInterface& ui) { return schedule::subDbToXls(ui, target); });
}

int Expand(const std::string& argument, ConsoleOptions options, const ConsoleStreams& streams) {
  // An empty argument stays empty, so the job asks for a workbook.
  options.pathBox = argument.empty() ? argument : std::filesystem::absolute(argument).string();
  return RunJob(options, streams, [](UserInterface& ui) { return schedule::Command3_Click(ui); });
}

int ImportCsv(const std::string& argument, ConsoleOptions options, const ConsoleStreams& streams) {
  // The path box's text is used unchanged, as the window does.
  options.pathBox = argument;
  return RunJob(options, streams, [](UserInterface& ui) { return tagimport::Command1_Click(ui); });
}

int ImportMdb(const std::string& argument, ConsoleOptions options, const ConsoleStreams& streams) {
  ConsoleUi ui(options, streams);
  const auto result = accessimport::ImportAccessFile(ui, argument, options.dryRun, streams.out, streams.err);
  ui.Finish(result == accessimport::ImportResult::Completed ? JobOutcome::Completed(0) : JobOutcome::Refused());
  return result == accessimport::ImportResult::Completed ? kCompleted : kFailed;
}

}  // namespace

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"output", "TARGET",
       {"Write GroupMaster and KikiMaster of OV_DataBase/Orvik.mdb",
        "into a workbook made from Pendra_原紙.xls, run its macros",
        "and save it as TARGET.",
        "スケジュールマスターを TARGET のブック (.xls) に出力します。"},
       // An empty name is no file (and absolute() would throw on it).
       "output needs a target file name", Output},
      {"expand", "WORKBOOK",
       {"Replace both schedule tables with the rows of WORKBOOK's",
        "sheets \"GroupMaster\" and \"KikiMaster\" (all or nothing).",
        "WORKBOOK の内容で両テーブルを置き換えます (全部か無し)。"},
       "", Expand},
      {"import-csv", "FILE",
       {"Update or add M_TAG rows of VL_Database/Velmora.mdb from",
        "the master CSV FILE (code page 932).",
        "マスター CSV (Shift_JIS) で M_TAG を更新・追加します。"},
       "", ImportCsv},
      {"import-mdb", "ACCESS_FILE",
       {"Replace GroupMaster, KikiMaster and M_TAG with the tables of",
        "the genuine Access database ACCESS_FILE (.mdb or .accdb) that",
        "holds them, after comparing their designs with ours; all or",
        "nothing. With --dry-run, report and change nothing.",
        "Access のデータベースからテーブルを取り込みます (全部か無し)。"},
       "import-mdb needs an Access file", ImportMdb, true},
  };
  return commands;
}

const Command* FindCommand(std::string_view name) {
  for (const Command& command : Commands())
    if (command.name == name) return &command;
  return nullptr;
}

}  // namespace pendra::cli
