// The tag master update behind "CSV展開実行", end to end: the job reads a real
// code page 932 file and writes a real tag master database; only the person
// at the window (message boxes) is scripted.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "ScriptedUi.h"
#include "TagDatabase.h"
#include "TagMasterUpdate.h"
#include "TestFiles.h"
#include "core/PlatformError.h"
#include "dao/Backup.h"
#include "dao/Dao.h"

namespace pendra::tagimport {
namespace {

using testing::EmptyRecord;
using testing::Fields;
using testing::HeaderLine;
using testing::ScriptedUi;
using testing::TagDatabase;
using testing::ToCp932;

constexpr const char* kTitle = "確認";
constexpr const char* kSpecify = "ﾏｽﾀｰ情報.csvを指定して下さい";
constexpr const char* kConfirm = "指定されたﾏｽﾀｰ情報をデータベースへ展開します。 よろしいですか？";

// A full record: position 0, the tag, and positions 2 to 25 as given.
std::string Record(const std::string& tag, std::vector<std::string> rest) {
  std::vector<std::string> fields{"1", tag};
  fields.insert(fields.end(), rest.begin(), rest.end());
  return Fields(fields);
}

// Every written column with a value of its own, positions 2 to 25.
std::vector<std::string> Full(const std::string& name) {
  return {name, "X.00", "150", "-5", "1", "2", "3", "4", "5", "0", "-1", "0", "-1",
          "6", "7", "9999", "2.5", "a", "b", "c", "d", "e", "f", "calc"};
}

class TagImport : public ::testing::Test {
 protected:
  // Writes the file, answers Yes and runs the job.
  void Run(const std::vector<std::string>& lines) {
    ui.pathBox = db.Folder().WriteLines("ﾏｽﾀｰ情報.csv", lines);
    RunWithPathBox();
  }
  void RunBytes(const std::string& bytes) {
    ui.pathBox = db.Folder().WriteBytes("ﾏｽﾀｰ情報.csv", bytes);
    RunWithPathBox();
  }
  void RunWithPathBox() {
    ui.baseFolder = db.BaseFolder();
    ui.answers.push_back(MsgBoxResult::Yes);
    Command1_Click(ui);
  }
  // The message boxes after the confirmation.
  std::vector<testing::ShownBox> After() const {
    return {ui.boxes.begin() + std::min<size_t>(1, ui.boxes.size()), ui.boxes.end()};
  }
  std::string Report() const {
    auto after = After();
    EXPECT_EQ(after.size(), 1u) << "one closing report expected";
    if (after.size() != 1) return {};
    EXPECT_EQ(after[0].title, kTitle);
    EXPECT_EQ(after[0].buttons, MsgBoxButtons::OkOnly);
    return after[0].prompt;
  }
  std::string Text(const std::string& tag, const std::string& column) {
    return db.Value(tag, column).ToText();
  }
  double Number(const std::string& tag, const std::string& column) {
    return db.Value(tag, column).ToDouble();
  }

  TagDatabase db;
  ScriptedUi ui;
};

// --- start of the job: path test, confirmation, opening -------------------

TEST_F(TagImport, EmptyPathBoxAsksForTheFileAndOpensNothing) {
  ui.baseFolder = db.BaseFolder();
  ui.pathBox = "";
  auto before = db.Snapshot();
  Command1_Click(ui);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].prompt, kSpecify);
  EXPECT_EQ(ui.boxes[0].title, kTitle);
  EXPECT_EQ(ui.boxes[0].buttons, MsgBoxButtons::OkOnly);
  EXPECT_EQ(db.Snapshot(), before);
}

TEST_F(TagImport, AnswerNoChangesNothing) {
  db.AddRow("T1", {{"最大値", Variant(int32_t{50})}});
  auto before = db.Snapshot();
  ui.pathBox = db.Folder().WriteLines("m.csv", {HeaderLine(), Record("T1", Full("x")), EmptyRecord("T2")});
  ui.baseFolder = db.BaseFolder();
  ui.answers.push_back(MsgBoxResult::No);
  Command1_Click(ui);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].prompt, kConfirm);
  EXPECT_EQ(ui.boxes[0].title, kTitle);
  EXPECT_EQ(ui.boxes[0].buttons, MsgBoxButtons::YesNo);
  EXPECT_EQ(db.Snapshot(), before);
}

TEST_F(TagImport, NoAnswerOpensNoDatabaseEvenAMissingOne) {
  // The database is opened only after Yes: with No, a missing one is no error.
  ui.pathBox = "/nowhere/m.csv";
  ui.baseFolder = (db.Folder().Path() / "elsewhere").string();
  ui.answers.push_back(MsgBoxResult::No);
  Command1_Click(ui);
  EXPECT_EQ(ui.boxes.size(), 1u);
}

TEST_F(TagImport, MissingMasterFileIsReportedAndChangesNothing) {
  db.AddRow("T1", {});
  auto before = db.Snapshot();
  ui.pathBox = (db.Folder().Path() / "ﾏｽﾀｰ情報.csv").string();
  RunWithPathBox();
  auto after = After();
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].title, kTitle);
  EXPECT_NE(after[0].prompt.find("ｴﾗｰ番号 53:ファイルが見つかりません。"), std::string::npos)
      << after[0].prompt;
  EXPECT_NE(after[0].prompt.find(ui.pathBox), std::string::npos);
  EXPECT_EQ(db.Snapshot(), before);
  // The database was closed again: a second job runs normally.
  ui.boxes.clear();
  Run({EmptyRecord("T9")});
  EXPECT_EQ(db.RowsWithTag("T9"), 1);
}

TEST_F(TagImport, PathBoxIsUsedUnchanged) {
  // A blank after the name is part of the path: that file doesn't exist.
  db.Folder().WriteLines("m.csv", {EmptyRecord("T1")});
  ui.pathBox = (db.Folder().Path() / "m.csv").string() + " ";
  RunWithPathBox();
  auto after = After();
  ASSERT_EQ(after.size(), 1u);
  EXPECT_NE(after[0].prompt.find("ｴﾗｰ番号 53:"), std::string::npos);
  EXPECT_EQ(db.RowCount(), 0);
}

TEST_F(TagImport, MissingDatabaseIsReported) {
  ui.pathBox = db.Folder().WriteLines("m.csv", {EmptyRecord("T1")});
  ui.baseFolder = (db.Folder().Path() / "elsewhere").string();
  ui.answers.push_back(MsgBoxResult::Yes);
  Command1_Click(ui);
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[1].title, kTitle);
  EXPECT_NE(ui.boxes[1].prompt.find("ｴﾗｰ番号 3024:"), std::string::npos) << ui.boxes[1].prompt;
  EXPECT_NE(ui.boxes[1].prompt.find("elsewhere/VL_Database/Velmora.mdb"), std::string::npos)
      << ui.boxes[1].prompt;
}

// Anything but a regular file is refused before it is read: a device never
// ends (the import would spin under its lock for ever), a FIFO blocks at
// its open. The job ends with its open failure and nothing changed.
struct SpecialFileCase {
  const char* name;
  std::string (*make)(const TagDatabase& db);
};

class SpecialFiles : public TagImport, public ::testing::WithParamInterface<SpecialFileCase> {};

TEST_P(SpecialFiles, AreRefusedBeforeReadingAndChangeNothing) {
  db.AddRow("T1", {});
  const auto before = db.Snapshot();
  ui.pathBox = GetParam().make(db);
  RunWithPathBox();
  const auto after = After();
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].prompt.rfind("ﾏｽﾀｰ情報.csvを開けません。\nｴﾗｰ番号 75:", 0), 0u) << after[0].prompt;
  EXPECT_NE(after[0].prompt.find("通常のファイルではありません"), std::string::npos) << after[0].prompt;
  EXPECT_NE(after[0].prompt.find(ui.pathBox), std::string::npos) << after[0].prompt;
  EXPECT_EQ(db.Snapshot(), before);
  EXPECT_TRUE(dao::ListBackups(db.Path()).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SpecialFiles,
    ::testing::Values(
        SpecialFileCase{"DevZero", [](const TagDatabase&) { return std::string("/dev/zero"); }},
        SpecialFileCase{"Fifo",
                        [](const TagDatabase& db) {
                          const std::string path = (db.Folder().Path() / "ﾏｽﾀｰ情報.csv").string();
                          EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
                          return path;
                        }},
        SpecialFileCase{"Folder",
                        [](const TagDatabase& db) {
                          const auto path = db.Folder().Path() / "ﾏｽﾀｰ情報.csv";
                          std::filesystem::create_directory(path);
                          return path.string();
                        }}),
    [](const auto& info) { return std::string(info.param.name); });

// --- rows written -------------------------------------------------------------

TEST_F(TagImport, ExistingAndNewTagInOneFile) {
  db.AddRow("T1", {{"tag名称", Variant("old")}, {"最大値", Variant(int32_t{50})}});
  Run({HeaderLine(), Record("T1", Full("流量ﾏｽﾀｰ")), Record("T2", Full("温度"))});
  EXPECT_TRUE(After().empty()) << "a clean import ends silently";
  EXPECT_EQ(db.RowCount(), 2);
  for (const std::string tag : {"T1", "T2"}) {
    EXPECT_EQ(Text(tag, "TAG"), tag);
    EXPECT_EQ(Text(tag, "有効桁"), "0.00");
    EXPECT_EQ(Number(tag, "最大値"), 150);
    EXPECT_EQ(Number(tag, "最小値"), -5);
    EXPECT_EQ(Number(tag, "大項目NO"), 1);
    EXPECT_EQ(Number(tag, "中項目NO"), 2);
    EXPECT_EQ(Number(tag, "小項目NO"), 3);
    EXPECT_EQ(Number(tag, "単位NO"), 4);
    EXPECT_EQ(Number(tag, "収集種別"), 5);
    EXPECT_EQ(Number(tag, "TOTAL_FLG"), 0);
    EXPECT_EQ(Number(tag, "AVE_FLG"), -1);
    EXPECT_EQ(Number(tag, "MAX_FLG"), 0);
    EXPECT_EQ(Number(tag, "MIN_FLG"), -1);
    EXPECT_EQ(Number(tag, "種別"), 6);
    EXPECT_EQ(Number(tag, "P種別"), 7);
    EXPECT_EQ(Text(tag, "パルスMAX"), "9999");
    EXPECT_EQ(Number(tag, "換算係数"), 2.5);
    EXPECT_EQ(Text(tag, "A"), "a");
    EXPECT_EQ(Text(tag, "F"), "f");
    EXPECT_EQ(Text(tag, "CALC"), "calc");
  }
  EXPECT_EQ(Text("T1", "tag名称"), "流量ﾏｽﾀｰ");
  EXPECT_EQ(Text("T2", "tag名称"), "温度");
}

TEST_F(TagImport, EveryEmptyFieldGetsItsDefault) {
  // The existing row's values are replaced by the defaults too.
  db.AddRow("T1", {{"tag名称", Variant("old")}, {"最大値", Variant(int32_t{50})},
                   {"換算係数", Variant(3.0)}, {"CALC", Variant("c")}, {"A", Variant("a")}});
  Run({EmptyRecord("T1"), EmptyRecord("T2")});
  EXPECT_TRUE(After().empty());
  for (const std::string tag : {"T1", "T2"}) {
    EXPECT_EQ(Text(tag, "tag名称"), "");
    EXPECT_EQ(Text(tag, "有効桁"), "0");
    EXPECT_EQ(Number(tag, "最大値"), 999);
    EXPECT_EQ(Number(tag, "最小値"), 0);
    for (const char* column : {"大項目NO", "中項目NO", "小項目NO", "単位NO", "収集種別", "種別", "P種別"}) {
      EXPECT_EQ(Number(tag, column), 0) << column;
    }
    for (const char* column : {"TOTAL_FLG", "AVE_FLG", "MAX_FLG", "MIN_FLG"}) {
      // "TRUE" converted to the yes/no column: true.
      EXPECT_EQ(Number(tag, column), -1) << column;
    }
    EXPECT_EQ(Text(tag, "パルスMAX"), "");
    EXPECT_EQ(Number(tag, "換算係数"), 1);
    for (const char* column : {"A", "B", "C", "D", "E", "F", "CALC"}) {
      EXPECT_EQ(Text(tag, column), "") << column;
    }
  }
}

TEST_F(TagImport, DisplayDigitsRule) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"X", "0"},         {"X.0", "0.0"},   {"X.00", "0.00"},  {"X.000", "0.000"},
      {"X.0000", "0.0000"}, {"X.00000", "0"}, {"0.00", "0"},    {"x.00", "0"},
      {"", "0"},          {" X", "0"},      {"X.00 ", "0"},    {"Ｘ.00", "0"}};
  std::vector<std::string> lines;
  for (size_t i = 0; i < cases.size(); ++i) {
    lines.push_back(Record("D" + std::to_string(i), {"", cases[i].first}));
  }
  Run(lines);
  EXPECT_TRUE(After().empty());
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(Text("D" + std::to_string(i), "有効桁"), cases[i].second) << "\"" << cases[i].first << "\"";
  }
}

TEST_F(TagImport, SameTagTwiceTheLastWins) {
  Run({Record("T1", Full("first")), Record("T1", {"second", "X", "10"})});
  EXPECT_EQ(db.RowsWithTag("T1"), 1);
  EXPECT_EQ(Text("T1", "tag名称"), "second");
  EXPECT_EQ(Text("T1", "有効桁"), "0");
  EXPECT_EQ(Number("T1", "最大値"), 10);
  EXPECT_EQ(Number("T1", "最小値"), 0);
  EXPECT_EQ(Text("T1", "CALC"), "");
}

TEST_F(TagImport, HeadersAnywhereAreSkippedAndOnlyExactHeadersAre) {
  Run({HeaderLine(), EmptyRecord("T1"), Fields({"\"TAG_ID\"", "H1"}), Fields({"TAG_ID", "H2"}),
       Fields({"tag_id", "T2"}), Fields({"TAG_ID ", "T3"})});
  EXPECT_TRUE(After().empty());
  EXPECT_EQ(db.RowCount(), 3);
  EXPECT_EQ(db.RowsWithTag("H1"), 0);
  EXPECT_EQ(db.RowsWithTag("H2"), 0);
  EXPECT_EQ(db.RowsWithTag("TAG"), 0);
  EXPECT_EQ(db.RowsWithTag("T2"), 1);
  EXPECT_EQ(db.RowsWithTag("T3"), 1);
}

TEST_F(TagImport, ApostrophesAndSqlInTagsAreStoredLiterally) {
  db.AddRow("A", {{"tag名称", Variant("keep a")}});
  db.AddRow("B", {{"tag名称", Variant("keep b")}});
  const std::vector<std::string> tags = {"O'Brien", "x' OR '1'='1", "'; DELETE FROM M_TAG; --", "%", "_"};
  std::vector<std::string> lines;
  for (const auto& tag : tags) lines.push_back(Record(tag, {"name " + tag}));
  Run(lines);
  EXPECT_TRUE(After().empty()) << (After().empty() ? "" : After()[0].prompt);
  EXPECT_EQ(db.RowCount(), 2 + static_cast<long>(tags.size()));
  for (const auto& tag : tags) {
    EXPECT_EQ(db.RowsWithTag(tag), 1) << tag;
    EXPECT_EQ(Text(tag, "tag名称"), "name " + tag);
  }
  EXPECT_EQ(Text("A", "tag名称"), "keep a");
  EXPECT_EQ(Text("B", "tag名称"), "keep b");
  // Run again: each is found (updated), not added a second time.
  ui.boxes.clear();
  Run(lines);
  EXPECT_EQ(db.RowCount(), 2 + static_cast<long>(tags.size()));
}

TEST_F(TagImport, JapaneseQuotedAndVendorCharactersReachTheDatabase) {
  std::string bytes = ToCp932("1,Ｔ１,\"ﾏｽﾀｰ,") + "\x87\x40\xFA\x40" + ToCp932("表\",X.0,") +
                      ToCp932(Fields({}).substr(4)) + "\r\n";
  RunBytes(bytes);
  EXPECT_TRUE(After().empty()) << (After().empty() ? "" : After()[0].prompt);
  EXPECT_EQ(Text("Ｔ１", "tag名称"), "ﾏｽﾀｰ,①ⅰ表");
  EXPECT_EQ(Text("Ｔ１", "有効桁"), "0.0");
}

// --- what is refused, and the report of it ---------------------------------------

TEST_F(TagImport, RefusedColumnKeepsItsValueAndTheRestIsWritten) {
  db.AddRow("T1", {{"tag名称", Variant("old")}, {"最大値", Variant(int32_t{50})}});
  Run({Record("T1", {"new", "X.0", "abc", "7"}), Record("T2", {"fresh", "X", "xyz", "8"})});
  EXPECT_EQ(Number("T1", "最大値"), 50);
  EXPECT_EQ(Text("T1", "tag名称"), "new");
  EXPECT_EQ(Text("T1", "有効桁"), "0.0");
  EXPECT_EQ(Number("T1", "最小値"), 7);
  EXPECT_EQ(Number("T1", "換算係数"), 1);
  // The new row is stored with the column's default.
  EXPECT_EQ(db.RowsWithTag("T2"), 1);
  EXPECT_EQ(Text("T2", "tag名称"), "fresh");
  EXPECT_EQ(Number("T2", "最小値"), 8);
  auto report = Report();
  EXPECT_NE(report.find("登録した行: 2 件"), std::string::npos) << report;
  EXPECT_NE(report.find("一部の項目を書き込めなかった行: 2 件"), std::string::npos) << report;
  EXPECT_NE(report.find("1 行目"), std::string::npos) << report;
  EXPECT_NE(report.find("2 行目"), std::string::npos) << report;
  EXPECT_NE(report.find("最大値 \"abc\""), std::string::npos) << report;
}

TEST_F(TagImport, RefusedRecordIsNotStoredAndDoesNotUndoOthers) {
  // A rule of the table: names are unique. The third record's name is the
  // first one's, so its row is refused; the records around it stay.
  db.Execute("CREATE UNIQUE INDEX name_unique ON M_TAG (\"tag名称\")");
  db.AddRow("T0", {{"tag名称", Variant("zero")}});
  Run({Record("T1", {"one"}), Record("T2", {"two"}), Record("T3", {"one", "X", "5"}),
       Record("T0", {"two"}), Record("T4", {"four"})});
  EXPECT_EQ(db.RowsWithTag("T1"), 1);
  EXPECT_EQ(db.RowsWithTag("T2"), 1);
  EXPECT_EQ(db.RowsWithTag("T3"), 0);
  EXPECT_EQ(db.RowsWithTag("T4"), 1);
  EXPECT_EQ(Text("T0", "tag名称"), "zero");  // the refused update kept the old row
  auto report = Report();
  EXPECT_NE(report.find("登録した行: 3 件"), std::string::npos) << report;
  EXPECT_NE(report.find("登録できなかった行・読み飛ばした行: 2 件"), std::string::npos) << report;
  EXPECT_NE(report.find("3 行目（タグ \"T3\"）: 登録できません"), std::string::npos) << report;
  EXPECT_NE(report.find("4 行目（タグ \"T0\"）: 登録できません"), std::string::npos) << report;
}

TEST_F(TagImport, MalformedLinesAreSkippedAndReported) {
  std::string shortLine = EmptyRecord("S");
  shortLine.pop_back();
  std::string bytes = ToCp932(EmptyRecord("T1")) + "\r\n" + ToCp932(shortLine) + "\r\n" +
                      "1,B\x80" + ToCp932(Fields({}).substr(3)) + "\r\n" +
                      ToCp932(Record("C", {"a,b", "X"})) + "\r\n" + "\r\n" +
                      ToCp932(EmptyRecord("T6")) + "\r\n";
  RunBytes(bytes);
  EXPECT_EQ(db.RowCount(), 2);
  EXPECT_EQ(db.RowsWithTag("T1"), 1);
  EXPECT_EQ(db.RowsWithTag("T6"), 1);
  auto report = Report();
  EXPECT_NE(report.find("登録した行: 2 件"), std::string::npos) << report;
  EXPECT_NE(report.find("読み飛ばした行: 3 件"), std::string::npos) << report;
  EXPECT_NE(report.find("2 行目: 読み飛ばしました: 項目数が 25 個です"), std::string::npos) << report;
  EXPECT_NE(report.find("3 行目: 読み飛ばしました: コードページ 932 で読めないバイト 0x80"), std::string::npos) << report;
  EXPECT_NE(report.find("4 行目: 読み飛ばしました: 項目数が 27 個です"), std::string::npos) << report;
}

TEST_F(TagImport, ReportListsTheFirstTenAndCountsTheRest) {
  std::vector<std::string> lines;
  for (int i = 0; i < 15; ++i) lines.push_back("1,bad" + std::to_string(i));
  lines.push_back(EmptyRecord("OK"));
  Run(lines);
  auto report = Report();
  EXPECT_NE(report.find("登録した行: 1 件"), std::string::npos) << report;
  EXPECT_NE(report.find("読み飛ばした行: 15 件"), std::string::npos) << report;
  EXPECT_NE(report.find("10 行目:"), std::string::npos) << report;
  EXPECT_EQ(report.find("11 行目:"), std::string::npos) << report;
  EXPECT_NE(report.find("ほか 5 件"), std::string::npos) << report;
}

TEST_F(TagImport, EveryRecordRefusedIsNotReportedAsSuccess) {
  db.Execute("CREATE UNIQUE INDEX name_unique ON M_TAG (\"tag名称\")");
  db.AddRow("T0", {{"tag名称", Variant("dup")}});
  Run({Record("T1", {"dup"}), Record("T2", {"dup"})});
  EXPECT_EQ(db.RowCount(), 1);
  auto report = Report();
  EXPECT_NE(report.find("登録した行: 0 件"), std::string::npos) << report;
  EXPECT_NE(report.find("登録できなかった行・読み飛ばした行: 2 件"), std::string::npos) << report;
}

TEST_F(TagImport, ProcessEndingMidImportLeavesTheTableAsItWas) {
  // The import is one transaction: a process that dies half way stores
  // nothing of it. The child process ends itself from the progress report.
  db.AddRow("T1", {{"tag名称", Variant("old")}});
  auto before = db.Snapshot();
  std::vector<std::string> lines;
  for (int i = 0; i < 3000; ++i) lines.push_back(Record("N" + std::to_string(i), {"n"}));
  lines.push_back(Record("T1", {"new"}));
  ui.pathBox = db.Folder().WriteLines("m.csv", lines);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    struct Dying : ScriptedUi {
      void ReportProgress(std::string_view, long done, long) override {
        if (done >= 2000) _exit(0);
      }
    } dying;
    dying.pathBox = ui.pathBox;
    dying.baseFolder = db.BaseFolder();
    dying.answers.push_back(MsgBoxResult::Yes);
    Command1_Click(dying);
    _exit(3);  // the job ended without reporting progress
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(db.Snapshot(), before);
  EXPECT_EQ(Text("T1", "tag名称"), "old");
}

TEST_F(TagImport, UnforeseenExceptionLeavesNoTransactionOpenForTheNextJob) {
  // The window keeps running after an exception that is no engine error;
  // the next import of the same session must really store its rows.
  std::vector<std::string> lines;
  for (int i = 0; i < 1500; ++i) lines.push_back(Record("N" + std::to_string(i), {"n"}));
  struct Failing : ScriptedUi {
    void ReportProgress(std::string_view, long, long) override { throw std::runtime_error("unforeseen"); }
  } failing;
  failing.pathBox = db.Folder().WriteLines("m.csv", lines);
  failing.baseFolder = db.BaseFolder();
  failing.answers.push_back(MsgBoxResult::Yes);
  EXPECT_THROW(Command1_Click(failing), std::runtime_error);
  EXPECT_EQ(db.RowCount(), 0);

  Run({Record("A1", {"a"}), Record("A2", {"b"})});
  EXPECT_EQ(After().size(), 0u);
  EXPECT_EQ(db.RowCount(), 2);
  try {
    dao::DBEngine::Instance().Workspaces(0).CommitTrans();
    ADD_FAILURE() << "a transaction level was left open";
  } catch (const PlatformError& error) {
    EXPECT_EQ(error.Number(), err::kCommitWithoutBegin);
  }
}

// The outcome the job returns says what its messages say, with counts.
TEST_F(TagImport, OutcomeTellsCompletedRefusedOrFailedWithCounts) {
  db.Execute("CREATE UNIQUE INDEX name_unique ON M_TAG (\"tag名称\")");
  struct Case {
    const char* name;
    std::vector<std::string> lines;
    MsgBoxResult answer;
    JobStatus status;
    long rows, refused;
  };
  const std::vector<Case> cases = {
      {"clean", {HeaderLine(), Record("A1", {"a"}), Record("A2", {"b"})}, MsgBoxResult::Yes, JobStatus::Completed, 2, 0},
      {"answered No", {Record("B1", {"c"})}, MsgBoxResult::No, JobStatus::Refused, 0, 0},
      {"one refused, one skipped", {Record("C1", {"a"}), Record("C2", {"d"}), "not,a,record"},
       MsgBoxResult::Yes, JobStatus::Failed, 1, 2},
  };
  for (const Case& c : cases) {
    ScriptedUi person;
    person.pathBox = db.Folder().WriteLines("m.csv", c.lines);
    person.baseFolder = db.BaseFolder();
    person.answers.push_back(c.answer);
    const JobOutcome outcome = Command1_Click(person);
    EXPECT_EQ(outcome.status, c.status) << c.name;
    EXPECT_EQ(outcome.rows, c.rows) << c.name;
    EXPECT_EQ(outcome.refused, c.refused) << c.name;
  }
  ui.pathBox = "";
  ui.baseFolder = db.BaseFolder();
  EXPECT_EQ(Command1_Click(ui).status, JobStatus::Refused);
  ui.pathBox = "/nowhere/m.csv";
  ui.answers.push_back(MsgBoxResult::Yes);
  EXPECT_EQ(Command1_Click(ui).status, JobStatus::Failed);
}

}  // namespace
}  // namespace pendra::tagimport
