// The batch command at a terminal: the confirmation is asked there and
// answered by the person, and long work shows its progress there; without
// a terminal it asks nothing and prints no progress.
#include <gtest/gtest.h>

#include "CliFixture.h"
#include "TestFiles.h"

namespace pendra::cli::test {
namespace {

using tagimport::testing::Fields;
using tagimport::testing::ToCp932;

class AtATerminal : public BatchCommand {
 protected:
  void SetUp() override {
    workbook = base.File("往復.xls");
    ASSERT_EQ(RunPendra(On({"output", workbook})).exitCode, 0);
    schedule::test::Exec(ScheduleDb(), "DELETE FROM KikiMaster WHERE rowid > 2");
  }
  Outcome OnTerminal(std::vector<std::string> args, std::string typed) {
    Launch launch;
    launch.args = On(std::move(args));
    launch.terminal = true;
    launch.typed = std::move(typed);
    return RunLaunched(launch);
  }

  std::string workbook;
};

TEST_F(AtATerminal, TheConfirmationIsAskedAndYesExpands) {
  const auto kikiInWorkbook = 10u;
  const Outcome run = OnTerminal({"expand", workbook}, "y\n");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.err.find("指定されたPendra情報をデータベースへ展開します。 よろしいですか？ [y/N]"), std::string::npos)
      << run.err;
  EXPECT_EQ(run.out.rfind("Pendra情報の展開が完了しました。\nGroupMaster: ", 0), 0u) << run.out;
  EXPECT_NE(run.out.find("KikiMaster: "), std::string::npos) << run.out;
  EXPECT_EQ(Rows(ScheduleDb(), "SELECT 1 FROM KikiMaster").size(), kikiInWorkbook);
}

TEST_F(AtATerminal, AnythingButYesRefusesAndChangesNothing) {
  const auto before = ScheduleSnapshot(ScheduleDb());
  // "\x04" is end of input (Ctrl-D).
  for (const char* typed : {"n\n", "\n", "yes please\n", "\x04"}) {
    const Outcome run = OnTerminal({"expand", workbook}, typed);
    EXPECT_EQ(run.exitCode, 1) << "typed " << typed;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(ScheduleSnapshot(ScheduleDb()), before);
  }
}

TEST_F(AtATerminal, ExpansionShowsRowsDonePerTable) {
  const Outcome run = OnTerminal({"expand", workbook, "--yes"}, "");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.err.find("GroupMaster: 6"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("KikiMaster: 10"), std::string::npos) << run.err;
  // The completion message goes to standard output, not into the progress.
  EXPECT_EQ(run.err.find("完了"), std::string::npos);
}

TEST_F(AtATerminal, OutputShowsRowsDoneOutOfRows) {
  const Outcome run = OnTerminal({"output", base.File("出力.xls")}, "");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.err.find("GroupMaster: 6 / 6"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("KikiMaster: 2 / 2"), std::string::npos) << run.err;
}

TEST_F(AtATerminal, ImportShowsRecordsDone) {
  std::string bytes;
  for (int i = 0; i < 1500; ++i) bytes += ToCp932(Fields({"1", "T-" + std::to_string(i), "名"})) + "\r\n";
  const std::string csv = base.File("m.csv");
  WriteFile(csv, bytes);
  const Outcome run = OnTerminal({"import-csv", csv, "--yes"}, "");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.err.find("M_TAG: 1000"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("M_TAG: 1500 / 1500"), std::string::npos) << run.err;
}

TEST_F(AtATerminal, WithoutATerminalNoProgressIsPrinted) {
  const Outcome output = RunPendra(On({"output", base.File("出力.xls")}));
  EXPECT_EQ(output.exitCode, 0);
  EXPECT_EQ(output.err, "");
  const Outcome expand = RunPendra(On({"expand", workbook, "--yes"}));
  EXPECT_EQ(expand.exitCode, 0);
  EXPECT_EQ(expand.err, "");
}

}  // namespace
}  // namespace pendra::cli::test
