// What a user who round-trips a workbook through the batch command meets:
// our own output expands back to the same values (rows without a key go
// last and are named; cells a format cannot hold are counted), losing rows
// takes its own option, a name of another format is refused, a master file
// saved as UTF-8 is told apart, the installed sample master file imports,
// and the documented least office memory suffices.
#include <gtest/gtest.h>

#include <filesystem>

#include "CliFixture.h"
#include "TestFiles.h"
#include "excel/Excel.h"

namespace pendra::cli::test {
namespace {

namespace fs = std::filesystem;

using RoundTrip = BatchCommand;

// Rows without a key (a Null GPno, an empty and a Null タグ名) among the
// demo rows, and a zero-length text.
void AddRowsWithoutAKey(const std::string& db) {
  schedule::test::Exec(db,
                       "INSERT INTO GroupMaster (GPno, GP名称, 有効) VALUES (NULL, '番号なし', -1);"
                       "INSERT INTO KikiMaster (タグ名, 機器名称, 開始操作値, 終了操作値) VALUES ('', '名前なし', 1, 0);"
                       "INSERT INTO KikiMaster (タグ名, 機器名称, 開始操作値, 終了操作値) VALUES (NULL, 'Null のタグ', 0, 1);");
}
void AddAZeroLengthText(const std::string& db) {
  schedule::test::Exec(db, "INSERT INTO KikiMaster (タグ名, 機器名称, 開始操作値, 終了操作値) VALUES ('ZZ-空', '', 1, 0);");
}

std::vector<std::string> KeyedContent(const std::string& db, bool zeroLengthAsNull) {
  const std::string name = zeroLengthAsNull ? "nullif(機器名称, '')" : "機器名称";
  auto rows = Rows(db, "SELECT GPno, GP名称, 有効 FROM GroupMaster WHERE GPno IS NOT NULL ORDER BY GPno, rowid");
  for (auto& row : Rows(db, "SELECT タグ名, " + name + ", 開始操作値, 終了操作値 FROM KikiMaster"
                            " WHERE タグ名 <> '' ORDER BY タグ名, rowid"))
    rows.push_back(row);
  return rows;
}

TEST_F(RoundTrip, OurOwnOutputExpandsBackLosingOnlyTheRowsWithoutAKey) {
  AddRowsWithoutAKey(ScheduleDb());
  AddAZeroLengthText(ScheduleDb());
  const auto expected = KeyedContent(ScheduleDb(), true);
  const long groups = std::stol(Rows(ScheduleDb(), "SELECT count(*) FROM GroupMaster")[0]);
  const long kiki = std::stol(Rows(ScheduleDb(), "SELECT count(*) FROM KikiMaster")[0]);
  const std::string workbook = base.File("往復.xls");

  const Outcome output = RunInProcess(On({"output", workbook}));
  ASSERT_EQ(output.exitCode, 0) << output.err;
  EXPECT_NE(output.out.find("\n1 列目が空の行 3 (GroupMaster 1 行 (GPno が空)、KikiMaster 2 行 (タグ名 が空)) は表の最後に"
                            "書きました。1 列目が空の行で表が終わるため、展開してもこの行は戻りません。\n"),
            std::string::npos)
      << output.out;
  EXPECT_NE(output.out.find("\n長さ 0 の文字列のセル 1 は、"), std::string::npos) << output.out;

  // The rows without a key stand last, where only they are lost; the
  // questions name them, and --yes alone does not answer them.
  const std::string groupEnd = std::to_string(groups + 1);
  const std::string kikiEnd = std::to_string(kiki);  // kiki - 2 rows with a key from row 2
  const Outcome dry = RunInProcess(On({"expand", workbook, "--dry-run"}));
  EXPECT_EQ(dry.exitCode, 0) << dry.err;
  const std::string groupQuestion = "GroupMaster の " + groupEnd + " 行目で表が終わります。" + groupEnd +
                                    " 行目以降の 1 行は保存されません (うち GPno が空の行 1: " + groupEnd +
                                    " 行目)。続けますか？\n";
  EXPECT_NE(dry.out.find("試行のみ: 実行すると次を尋ねます: " + groupQuestion), std::string::npos) << dry.out;
  EXPECT_NE(dry.out.find("試行のみ: 実行すると次を尋ねます: KikiMaster の " + kikiEnd + " 行目で表が終わります。" + kikiEnd +
                         " 行目以降の 2 行は保存されません (うち タグ名 が空の行 2: " + kikiEnd + "、" +
                         std::to_string(kiki + 1) + " 行目)。続けますか？\n"),
            std::string::npos)
      << dry.out;

  const auto before = ScheduleSnapshot(ScheduleDb());
  const Outcome refused = RunInProcess(On({"expand", workbook, "--yes"}));
  EXPECT_EQ(refused.exitCode, 3);
  EXPECT_NE(refused.err.find("pendra: " + groupQuestion), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("--allow-row-loss"), std::string::npos) << refused.err;
  EXPECT_EQ(ScheduleSnapshot(ScheduleDb()), before);

  const Outcome expanded = RunInProcess(On({"expand", workbook, "--yes", "--allow-row-loss"}));
  ASSERT_EQ(expanded.exitCode, 0) << expanded.err;
  EXPECT_EQ(KeyedContent(ScheduleDb(), false), expected);
}

// The dry run of an unedited workbook (here .ods) changes no row; it
// removes only the rows without a key.
TEST_F(RoundTrip, AnUneditedWorkbookChangesNoRowInADryRun) {
  AddRowsWithoutAKey(ScheduleDb());
  const std::string groups = Rows(ScheduleDb(), "SELECT count(*) FROM GroupMaster")[0];
  const std::string kiki = Rows(ScheduleDb(), "SELECT count(*) FROM KikiMaster")[0];
  const std::string workbook = base.File("往復.ods");
  const Outcome output = RunInProcess(On({"output", workbook}));
  ASSERT_EQ(output.exitCode, 0) << output.err;
  EXPECT_EQ(output.out.find("長さ 0 の文字列"), std::string::npos) << output.out;

  const Outcome dry = RunInProcess(On({"expand", workbook, "--dry-run"}));
  EXPECT_EQ(dry.exitCode, 0) << dry.err;
  EXPECT_NE(dry.out.find("GroupMaster: " + groups + " 行 → " + std::to_string(std::stol(groups) - 1) +
                         " 行 (追加 0、削除 1、変更 0"),
            std::string::npos)
      << dry.out;
  EXPECT_NE(dry.out.find("KikiMaster: " + kiki + " 行 → " + std::to_string(std::stol(kiki) - 2) +
                         " 行 (追加 0、削除 2、変更 0"),
            std::string::npos)
      << dry.out;
}

TEST_F(RoundTrip, AllowRowLossGoesWithTheExpansionOnly) {
  const Outcome run = RunInProcess(On({"output", base.File("x.xls"), "--allow-row-loss"}));
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("--allow-row-loss goes with expand"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(base.File("x.xls")));
}

TEST_F(RoundTrip, AnOutputNameOfAnotherFormatIsRefused) {
  for (const char* name : {"out.csv", "out.txt", "out", "out.xls.bak"}) {
    const std::string target = base.File(name);
    const Outcome run = RunInProcess(On({"output", target, "--yes"}));
    EXPECT_EQ(run.exitCode, 1) << name;
    EXPECT_EQ(run.err, "pendra: 出力できるファイルの種類は .xls、.xlsx、.ods です。別のファイル名を指定して下さい。\n") << name;
    EXPECT_FALSE(fs::exists(target)) << name;
  }
}

TEST_F(RoundTrip, AMasterFileSavedAsUtf8IsToldHowToSaveIt) {
  const auto before = TagSnapshot(TagDb());
  const std::string header = tagimport::testing::HeaderLine();
  const std::string record = tagimport::testing::Fields({"1", "FIC-101", "原水流量"});
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"with a byte order mark", "\xEF\xBB\xBF" + header + "\r\n" + record + "\r\n"},
      {"without one", header + "\r\n" + record + "\r\n"},
  };
  for (const auto& c : cases) {
    const std::string csv = base.File("utf8.csv");
    WriteFile(csv, c.bytes);
    const Outcome run = RunInProcess(On({"import-csv", csv, "--yes"}));
    EXPECT_EQ(run.exitCode, 1) << c.what;
    EXPECT_NE(run.err.find("pendra: ﾏｽﾀｰ情報.csvは UTF-8 で保存されています。Shift_JIS (コード ページ 932) で保存し直して"),
              std::string::npos)
        << c.what << ": " << run.err;
    EXPECT_NE(run.err.find("日本語 (Shift_JIS)"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("CSV (コンマ区切り) (*.csv)"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("0x"), std::string::npos) << run.err;
    EXPECT_EQ(TagSnapshot(TagDb()), before) << c.what;
  }
  // The same record in code page 932 imports.
  const Outcome sjis = RunInProcess(On({"import-csv", Csv("sjis.csv", {header, record}), "--yes"}));
  EXPECT_EQ(sjis.exitCode, 0) << sjis.err;
}

TEST_F(RoundTrip, TheSampleMasterFileImports) {
  const long before = std::stol(Rows(TagDb(), "SELECT count(*) FROM M_TAG")[0]);
  const Outcome run = RunInProcess(On({"import-csv", PENDRA_SAMPLE_MASTER_CSV, "--yes"}));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_GT(std::stol(Rows(TagDb(), "SELECT count(*) FROM M_TAG")[0]), before);
}

// The least memory the options accept serves an output of the largest
// tables and its expansion.
TEST_F(RoundTrip, TheLeastOfficeMemoryServesTheLargestOutput) {
  schedule::test::FillLargestTables(ScheduleDb());
  const std::string least = std::to_string(excel::kLeastOfficeMemoryMegabytes);
  const std::string workbook = base.File("大きな表.xls");
  const Outcome output = RunInProcess(On({"output", workbook, "--office-memory", least}));
  EXPECT_EQ(output.exitCode, 0) << output.err;
  const Outcome expand = RunInProcess(On({"expand", workbook, "--yes", "--office-memory", least}));
  EXPECT_EQ(expand.exitCode, 0) << expand.err;
  const std::string below = std::to_string(excel::kLeastOfficeMemoryMegabytes - 1);
  EXPECT_EQ(RunInProcess(On({"output", workbook, "--office-memory", below})).exitCode, 2);
}

}  // namespace
}  // namespace pendra::cli::test
