#include "Commands.h"

#include <cstdlib>
#include <filesystem>
#include <map>
#include <functional>
#include <ostream>

#include "ScheduleJobs.h"
#include "AccessImport.h"
#include "TagMasterUpdate.h"
#include "core/BasePath.h"
#include "core/PlatformError.h"
#include "dao/Backup.h"
#include "TableChanges.h"
#include "BackupCommands.h"
#include "CheckMdbCommand.h"

namespace pendra::cli {

namespace {

using backups::KeyedTable;
using backups::TableRows;

// A job through the console: its outcome decides the exit status and where
// its messages go. An error that still escapes the job (a fault no job
// foresaw) is told on standard error instead of aborting.
// rowLossRefused, when given, tells whether the job stopped at a question
// before rows are lost that only --allow-row-loss answers.
JobOutcome RunJob(const ConsoleOptions& options, const ConsoleStreams& streams,
                  const std::function<JobOutcome(UserInterface&)>& job, bool* rowLossRefused = nullptr) {
  ConsoleUi ui(options, streams);
  try {
    const JobOutcome outcome = job(ui);
    ui.Finish(outcome);
    if (rowLossRefused) *rowLossRefused = ui.RowLossRefused();
    return outcome;
  } catch (const PlatformError& e) {
    ui.Finish(JobOutcome::Failed());
    streams.err << "pendra: ｴﾗｰ番号 " << e.Number() << ":" << e.Description() << "\n";
  } catch (const std::exception& e) {
    ui.Finish(JobOutcome::Failed());
    streams.err << "pendra: " << e.what() << "\n";
  }
  return JobOutcome::Failed();
}

int ExitStatus(const JobOutcome& outcome) { return outcome.IsCompleted() ? kCompleted : kFailed; }

using TableRowsByName = std::map<std::string, TableRows>;

TableRowsByName Snapshot(const std::string& base, const std::vector<KeyedTable>& tables) {
  TableRowsByName rows;
  for (const auto& table : tables) rows[table.table] = backups::ReadRows(UnderBaseFolder(base, table.database), table);
  return rows;
}

// The dry run's private base folder, removed with all it holds on every way
// out of the dry run: a failed copy, a failed job, an error no job foresaw.
class DryRunFolder {
 public:
  DryRunFolder() : path_((std::filesystem::temp_directory_path() / "pendra-dry-run-XXXXXX").string()) {
    if (!mkdtemp(path_.data())) Raise(err::kPathFileAccessError);
  }
  ~DryRunFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  DryRunFolder(const DryRunFolder&) = delete;
  DryRunFolder& operator=(const DryRunFolder&) = delete;

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// The job on copies of its databases in a private folder, then what it
// would change in the real ones: nothing is written there, and no backup
// is taken of them. The question is answered Yes, since nothing changes.
// The template, which the jobs only read and compare with, is the real one
// through a link, so a dry run refuses what the real run refuses.
JobOutcome DryRun(ConsoleOptions options, const ConsoleStreams& streams, const std::vector<KeyedTable>& tables,
                  const std::function<JobOutcome(UserInterface&)>& job) {
  const std::string real = options.baseFolder;
  const DryRunFolder dryRunFolder;
  const std::string& folder = dryRunFolder.Path();
  std::error_code ignored;
  std::filesystem::create_symlink(std::filesystem::absolute(UnderBaseFolder(real, kTemplateWorkbook), ignored),
                                  UnderBaseFolder(folder, kTemplateWorkbook), ignored);
  for (const auto& table : tables) {
    const std::string copy = UnderBaseFolder(folder, table.database);
    if (std::filesystem::exists(copy)) continue;
    std::filesystem::create_directories(std::filesystem::path(copy).parent_path());
    dao::CopyDatabaseFile(UnderBaseFolder(real, table.database), copy);
  }
  const TableRowsByName before = Snapshot(real, tables);
  options.baseFolder = folder;
  options.assumeYes = true;
  options.onCopies = true;
  const JobOutcome outcome = RunJob(options, streams, job);
  const TableRowsByName after = Snapshot(folder, tables);
  streams.out << "試行のみ: データベースは変更していません。変更されるはずの内容:\n";
  for (const auto& table : tables)
    backups::PrintChange(streams.out, table.table, backups::Compare(before.at(table.table), after.at(table.table)));
  return outcome;
}

std::map<std::string, long> Counts(const std::string& base, const std::vector<KeyedTable>& tables) {
  std::map<std::string, long> counts;
  for (const auto& table : tables) {
    try {
      counts[table.table] = backups::CountRows(UnderBaseFolder(base, table.database), table.table);
    } catch (const PlatformError&) {
      counts[table.table] = 0;  // the job itself reports the missing database
    }
  }
  return counts;
}

int Output(const std::string& argument, const ConsoleOptions& options, const ConsoleStreams& streams) {
  const std::string target = std::filesystem::absolute(argument).string();
  return ExitStatus(RunJob(options, streams, [&](UserInterface& ui) { return schedule::subDbToXls(ui, target); }));
}

int Expand(const std::string& argument, const ConsoleOptions& given, const ConsoleStreams& streams) {
  ConsoleOptions options = given;
  // An empty argument stays empty, so the job asks for a workbook.
  options.pathBox = argument.empty() ? argument : std::filesystem::absolute(argument).string();
  const auto job = [](UserInterface& ui) { return schedule::Command3_Click(ui); };
  if (options.dryRun) return ExitStatus(DryRun(options, streams, backups::ScheduleTablesByKey(), job));
  // The completion message's second line counts the rows per table.
  bool rowLossRefused = false;
  const JobOutcome outcome = RunJob(options, streams, job, &rowLossRefused);
  return rowLossRefused ? kRowLossRefused : ExitStatus(outcome);
}

// 0: every record stored; 3: records stored, but some refused or skipped;
// 1: nothing changed.
int ImportCsv(const std::string& argument, const ConsoleOptions& given, const ConsoleStreams& streams) {
  ConsoleOptions options = given;
  // The path box's text is used unchanged, as the window does.
  options.pathBox = argument;
  const auto job = [](UserInterface& ui) { return tagimport::Command1_Click(ui); };
  const auto& tables = backups::TagTablesByKey();
  if (options.dryRun) return ExitStatus(DryRun(options, streams, tables, job));
  const auto before = Counts(options.baseFolder, tables);
  const JobOutcome outcome = RunJob(options, streams, job);
  if (outcome.rows == 0) return outcome.IsCompleted() ? kCompleted : kFailed;
  const long after = backups::CountRows(UnderBaseFolder(options.baseFolder, kTagMasterDatabase), "M_TAG");
  const long added = after - before.at("M_TAG");
  streams.out << "M_TAG: " << before.at("M_TAG") << " 行 → " << after << " 行 (追加 " << added << "、更新 "
              << outcome.rows - added << "、拒否・読み飛ばし " << outcome.refused << ")\n";
  return outcome.IsCompleted() ? kCompleted : kPartly;
}

int ImportMdb(const std::string& argument, const ConsoleOptions& options, const ConsoleStreams& streams) {
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
       "", Expand, true},
      {"import-csv", "FILE",
       {"Update or add M_TAG rows of VL_Database/Velmora.mdb from",
        "the master CSV FILE (code page 932). Exit 3 when records",
        "were stored but some were refused or skipped.",
        "マスター CSV (Shift_JIS) で M_TAG を更新・追加します。"},
       "", ImportCsv, true},
      {"import-mdb", "MDB_FILE",
       {"Replace GroupMaster, KikiMaster and M_TAG with the tables of",
        "the genuine Access database MDB_FILE (.mdb or .accdb) that",
        "holds them, after comparing their designs with ours; all or",
        "nothing. With --dry-run, report and change nothing.",
        "Access のデータベースからテーブルを取り込みます (全部か無し)。"},
       "import-mdb needs an Access file", ImportMdb, true},
      {"check-mdb", "FILE",
       {"Check the genuine Access database FILE (.mdb or .accdb):",
        "row counts, usage maps, pages used twice, and every index",
        "walked against the rows. Exit 1 when a problem is found.",
        "Access のデータベースの整合性を検査します (変更はしません)。"},
       "check-mdb needs an Access file", CheckMdbCommand},
      {"backups", "",
       {"List the backups of both databases (time, job, size, rows),",
        "taken before every job that changed a database.",
        "両データベースのバックアップを一覧にします。"},
       "", ListBackupsCommand},
      {"restore", "BACKUP",
       {"Put the backup file BACKUP back in place of its database",
        "(the current state is backed up first); refused while a job",
        "holds the database. With --dry-run, show what it would change.",
        "バックアップからデータベースを戻します。"},
       "restore needs a backup file", RestoreCommand, true},
  };
  return commands;
}

const Command* FindCommand(std::string_view name) {
  for (const Command& command : Commands())
    if (command.name == name) return &command;
  return nullptr;
}

}  // namespace pendra::cli
