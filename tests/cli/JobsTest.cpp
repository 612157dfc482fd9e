// The three jobs through the batch command on a demo base folder: what each
// prints, its exit status, and what the files hold afterwards. Run
// in-process, except where the program's own folder matters.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "CliFixture.h"
#include "TestFiles.h"

namespace pendra::cli::test {
namespace {

namespace fs = std::filesystem;
using tagimport::testing::Fields;
using tagimport::testing::HeaderLine;

constexpr const char* kOutputDone = "Pendra情報のXLS出力が完了しました。\n";

// The output's message with its second line, the rows written per table.
std::string OutputDone(const std::string& db) {
  return std::string(kOutputDone) + "GroupMaster: " + Rows(db, "SELECT count(*) FROM GroupMaster")[0] +
         " 行、KikiMaster: " + Rows(db, "SELECT count(*) FROM KikiMaster")[0] + " 行を書き出しました。\n";
}
constexpr const char* kExpansionDone = "Pendra情報の展開が完了しました。\n";
constexpr const char* kOfficeRuns = "EXCELが立ち上がっている為、出力出来ません。";

using Jobs = BatchCommand;

TEST_F(Jobs, OutputWritesTheWorkbookAndSaysSo) {
  const auto before = ScheduleSnapshot(ScheduleDb());
  const std::string target = base.File("出力 (1).xls");
  const Outcome run = RunInProcess(On({"output", target}));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, OutputDone(ScheduleDb()));
  EXPECT_EQ(run.err, "");  // no progress: standard error is no terminal
  ASSERT_TRUE(fs::exists(target));
  EXPECT_EQ(ScheduleSnapshot(ScheduleDb()), before);

  schedule::test::SavedWorkbook saved(target);
  const auto kiki = saved.Table("KikiMaster", 4);
  const auto tags = Rows(ScheduleDb(), "SELECT タグ名 FROM KikiMaster ORDER BY タグ名");
  ASSERT_EQ(kiki.size(), tags.size());
  for (size_t i = 0; i < tags.size(); ++i) EXPECT_EQ(kiki[i][0].ToText(), tags[i]);
  EXPECT_EQ(saved.Table("GroupMaster", 3).size(), Rows(ScheduleDb(), "SELECT 1 FROM GroupMaster").size());
}

// The office's profile is removed on a thread of its own while the job
// reports; the program does not exit before it is gone.
TEST_F(Jobs, NoProfileFolderOutlivesTheProgram) {
  for (int i = 0; i < 3; ++i) {
    Launch launch;
    launch.args = On({"output", base.File("出力 " + std::to_string(i) + ".xls")});
    PendraProcess run(launch);
    const Outcome outcome = run.Wait();
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(ProfileFoldersOf(ProfileRoot(), run.Pid()), std::vector<std::string>{});
  }
}

TEST_F(Jobs, ExpandWithYesRefillsBothTablesFromTheWorkbook) {
  const auto content = ScheduleContent(ScheduleDb());
  const std::string workbook = base.File("往復.xls");
  ASSERT_EQ(RunInProcess(On({"output", workbook})).exitCode, 0);
  schedule::test::Exec(ScheduleDb(), "DELETE FROM GroupMaster; DELETE FROM KikiMaster WHERE rowid % 2 = 0;"
                                     "UPDATE KikiMaster SET 機器名称 = '変更済み';");

  const long groups = std::stol(Rows(ScheduleDb(), "SELECT count(*) FROM GroupMaster")[0]);
  const long kiki = std::stol(Rows(ScheduleDb(), "SELECT count(*) FROM KikiMaster")[0]);
  const Outcome run = RunInProcess(On({"expand", workbook, "--yes"}));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  // The message, then its second line: rows before and after per table.
  EXPECT_EQ(run.out, std::string(kExpansionDone) + "GroupMaster: " + std::to_string(groups) + " 行 → " +
                         Rows(ScheduleDb(), "SELECT count(*) FROM GroupMaster")[0] + " 行、KikiMaster: " +
                         std::to_string(kiki) + " 行 → " + Rows(ScheduleDb(), "SELECT count(*) FROM KikiMaster")[0] +
                         " 行 (既定値にしたセル 0、表の終わりより下で保存しなかった行 0)\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(ScheduleContent(ScheduleDb()), content);
}

TEST_F(Jobs, ExpandWithoutYesAndWithoutTerminalRefusesAndChangesNothing) {
  const std::string workbook = base.File("往復.xls");
  ASSERT_EQ(RunInProcess(On({"output", workbook})).exitCode, 0);
  schedule::test::Exec(ScheduleDb(), "DELETE FROM KikiMaster WHERE rowid > 3");
  const auto before = ScheduleSnapshot(ScheduleDb());

  const Outcome run = RunInProcess(On({"expand", workbook}));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("指定されたPendra情報をデータベースへ展開します。 よろしいですか？"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("--yes"), std::string::npos) << run.err;
  EXPECT_EQ(ScheduleSnapshot(ScheduleDb()), before);
}

TEST_F(Jobs, ExpandOfAnEmptyPathAsksForTheWorkbook) {
  const auto before = ScheduleSnapshot(ScheduleDb());
  const Outcome run = RunInProcess(On({"expand", "", "--yes"}));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "pendra: Pendra情報.xlsを指定して下さい\n");
  EXPECT_EQ(ScheduleSnapshot(ScheduleDb()), before);
}

TEST_F(Jobs, ExpandOfAMissingWorkbookFailsWithItsNumberedError) {
  const auto before = ScheduleSnapshot(ScheduleDb());
  const Outcome run = RunInProcess(On({"expand", base.File("ない.xls"), "--yes"}));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.rfind("pendra: Pendra情報の展開エラー ｴﾗｰ番号  1004:", 0), 0u) << run.err;
  EXPECT_EQ(ScheduleSnapshot(ScheduleDb()), before);
}

TEST_F(Jobs, ImportCsvOfACodePage932FileUpdatesAndAddsTags) {
  const long rowsBefore = std::stol(Rows(TagDb(), "SELECT count(*) FROM M_TAG")[0]);
  const std::string csv = Csv("ﾏｽﾀｰ情報.csv", {
      HeaderLine(),
      Fields({"1", "FIC-101", "原水流量（更新）", "X.00", "1200"}),
      Fields({"2", "NEW-①", "新規ﾀｸﾞ　～", "X", "", "", "", "", "", "", "", "FALSE"}),
  });
  const Outcome run = RunInProcess(On({"import-csv", csv, "--yes"}));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "M_TAG: " + std::to_string(rowsBefore) + " 行 → " + std::to_string(rowsBefore + 1) +
                         " 行 (追加 1、更新 1、拒否・読み飛ばし 0)\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(Rows(TagDb(), "SELECT tag名称, 有効桁, 最大値 FROM M_TAG WHERE TAG = 'FIC-101'"),
            std::vector<std::string>{"原水流量（更新）|0.00|1200.0"});
  EXPECT_EQ(Rows(TagDb(), "SELECT tag名称, 有効桁, 最大値, TOTAL_FLG, AVE_FLG FROM M_TAG WHERE TAG = 'NEW-①'"),
            std::vector<std::string>{"新規ﾀｸﾞ　～|0|999.0|0|-1"});
  EXPECT_EQ(std::stol(Rows(TagDb(), "SELECT count(*) FROM M_TAG")[0]), rowsBefore + 1);
}

TEST_F(Jobs, ImportCsvOfAMissingFileFailsOnStandardErrorAndChangesNothing) {
  const auto before = TagSnapshot(TagDb());
  const std::string missing = base.File("ない.csv");
  const Outcome run = RunInProcess(On({"import-csv", missing, "--yes"}));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("ﾏｽﾀｰ情報.csvを開けません。"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("ｴﾗｰ番号 53:"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(missing), std::string::npos) << run.err;
  EXPECT_EQ(TagSnapshot(TagDb()), before);
}

TEST_F(Jobs, ImportCsvWithoutYesAndWithoutTerminalRefuses) {
  const auto before = TagSnapshot(TagDb());
  const std::string csv = Csv("m.csv", {Fields({"1", "FIC-101", "別名"})});
  const Outcome run = RunInProcess(On({"import-csv", csv}));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("指定されたﾏｽﾀｰ情報をデータベースへ展開します。 よろしいですか？"), std::string::npos) << run.err;
  EXPECT_EQ(TagSnapshot(TagDb()), before);
}

TEST_F(Jobs, ImportCsvOfAnEmptyPathAsksForTheFile) {
  const Outcome run = RunInProcess(On({"import-csv", "", "--yes"}));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "pendra: ﾏｽﾀｰ情報.csvを指定して下さい\n");
}

TEST_F(Jobs, AnExistingTargetIsReplacedOnlyWithYes) {
  const std::string target = base.File("既存.xls");
  WriteFile(target, "keep me");
  const Outcome refused = RunInProcess(On({"output", target}));
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_NE(refused.err.find("指定されたファイルは既に存在します。上書きしますか？"), std::string::npos) << refused.err;
  EXPECT_EQ(ReadFile(target), "keep me");

  const Outcome replaced = RunInProcess(On({"output", target, "--yes"}));
  EXPECT_EQ(replaced.exitCode, 0) << replaced.err;
  EXPECT_EQ(replaced.out, OutputDone(ScheduleDb()));
  EXPECT_EQ(ReadFile(target).substr(0, 4), std::string("\xD0\xCF\x11\xE0", 4));  // an .xls (OLE) file
}

TEST_F(Jobs, TheTemplateIsNeverATarget) {
  const std::string before = ReadFile(base.Template());
  const Outcome run = RunInProcess(On({"output", base.Template(), "--yes"}));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("Pendra_原紙.xlsには出力できません。"), std::string::npos) << run.err;
  EXPECT_EQ(ReadFile(base.Template()), before);
}

TEST_F(Jobs, WithoutBaseTheProgramsOwnFolderIsTheBase) {
  const std::string copy = base.File("pendra");
  fs::copy_file(PendraPath(), copy);
  const std::string csv = Csv("m.csv", {Fields({"1", "HERE-1", "ここ"})});
  Launch launch;
  launch.program = copy;
  launch.args = {"import-csv", csv, "--yes"};
  const Outcome run = RunLaunched(launch);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Rows(TagDb(), "SELECT tag名称 FROM M_TAG WHERE TAG = 'HERE-1'"), std::vector<std::string>{"ここ"});
}

TEST_F(Jobs, AUsersOfficeMakesBothScheduleJobsRefuse) {
  schedule::test::UsersOffice office(base.Path());
  const auto before = ScheduleSnapshot(ScheduleDb());
  const std::string workbook = base.File("往復.xls");
  {
    const Outcome run = RunInProcess(On({"output", workbook}), {office.Pid()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "pendra: " + std::string(kOfficeRuns) + "\n");
    EXPECT_FALSE(fs::exists(workbook));
  }
  // The same office outside the probe's scope is not seen.
  ASSERT_EQ(RunInProcess(On({"output", workbook})).exitCode, 0);
  {
    const Outcome run = RunInProcess(On({"expand", workbook, "--yes"}), {office.Pid()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "pendra: " + std::string(kOfficeRuns) + "\n");
  }
  EXPECT_EQ(ScheduleSnapshot(ScheduleDb()), before);
}

TEST_F(Jobs, EveryErrorLineOnStandardErrorBeginsWithTheProgramsName) {
  const std::vector<std::vector<std::string>> failing = {
      {"expand", base.File("ない.xls"), "--yes"},             // a numbered error
      {"output", base.File("ない/出力.xls"), "--yes"},        // two lines: the text, then why
      {"expand", base.File("ない.xls")},                      // refused: no terminal to ask
  };
  for (const auto& args : failing) {
    const Outcome run = RunInProcess(On(args));
    EXPECT_EQ(run.exitCode, 1) << args[0];
    ASSERT_FALSE(run.err.empty()) << args[0];
    size_t lines = 0;
    for (size_t start = 0; start < run.err.size(); ++lines) {
      const size_t end = run.err.find('\n', start);
      EXPECT_EQ(run.err.compare(start, 8, "pendra: "), 0) << args[0] << ": " << run.err;
      start = end == std::string::npos ? run.err.size() : end + 1;
    }
    EXPECT_GE(lines, 1u);
  }
}

// The template is refused as a workbook to expand, also in a dry run (which
// works in a folder of its own, but must refuse what the real run refuses).
TEST_F(Jobs, ExpandOfTheTemplateIsRefusedAlsoInADryRun) {
  const auto before = ScheduleSnapshot(ScheduleDb());
  for (const bool dryRun : {false, true}) {
    auto args = On({"expand", base.Template(), "--yes"});
    if (dryRun) args.push_back("--dry-run");
    const Outcome run = RunInProcess(args);
    EXPECT_EQ(run.exitCode, 1) << dryRun;
    EXPECT_NE(run.err.find("pendra: Pendra_原紙.xlsは出力用の原紙のため展開できません。"), std::string::npos)
        << dryRun << ": " << run.err;
  }
  EXPECT_EQ(ScheduleSnapshot(ScheduleDb()), before);
}

// A failure outside any job (the dry run copies a database that is not
// there) is told like any failure, never an abort, and the dry run's
// private folder is gone afterwards: in-process, and through main.
TEST_F(Jobs, ADryRunOnABaseWithoutDatabasesFailsAndLeavesNoFolder) {
  const std::string empty = base.File("空のフォルダー");
  const std::string temporary = base.File("一時");
  fs::create_directory(empty);
  fs::create_directory(temporary);
  const std::string csv = Csv("m.csv", {Fields({"1", "DRY-1", "試行"})});
  const std::vector<std::string> args = {"import-csv", csv, "--dry-run", "--base", empty};
  {
    const char* was = std::getenv("TMPDIR");
    const std::optional<std::string> saved = was ? std::optional<std::string>(was) : std::nullopt;
    setenv("TMPDIR", temporary.c_str(), 1);
    const Outcome run = RunInProcess(args);
    saved ? setenv("TMPDIR", saved->c_str(), 1) : unsetenv("TMPDIR");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err.rfind("pendra: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find("Velmora.mdb"), std::string::npos) << run.err;
    EXPECT_TRUE(fs::is_empty(temporary));
  }
  Launch launch;
  launch.args = args;
  launch.env = {{"TMPDIR", temporary}};
  const Outcome run = RunLaunched(launch);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_EQ(run.err.rfind("pendra: ", 0), 0u) << run.err;
  EXPECT_TRUE(fs::is_empty(temporary));
  EXPECT_TRUE(fs::is_empty(empty));
}

// With LANG naming a locale that was never generated, the program runs
// under C.UTF-8: the output into a folder with Japanese in its name works.
TEST_F(Jobs, AMissingLocaleFallsBackAndTheOutputWorks) {
  const std::string target = base.File("ロケール 出力.xls");
  Launch launch;
  launch.args = {"output", target, "--base", base.Path()};
  launch.env = {{"LANG", "ja_JP.UTF-8"}, {"LC_ALL", std::nullopt}, {"LC_CTYPE", std::nullopt}};
  if (newlocale(LC_ALL_MASK, "ja_JP.UTF-8", locale_t{}) != locale_t{}) launch.env[0].second = "xx_YY.UTF-8";
  const Outcome run = RunLaunched(launch);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, OutputDone(ScheduleDb()));
  EXPECT_TRUE(fs::exists(target));
}

}  // namespace
}  // namespace pendra::cli::test
