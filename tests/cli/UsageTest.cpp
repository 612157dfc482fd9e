// The command line itself: help, version and usage errors, which start no
// job and touch no file. Run in-process, on the test's own streams.
#include <gtest/gtest.h>

#include "PendraRun.h"

namespace pendra::cli::test {
namespace {

bool HasJapanese(const std::string& line) {
  for (unsigned char c : line)
    if (c >= 0xE3) return true;  // lead bytes of kana and kanji in UTF-8
  return false;
}

TEST(BatchCommandLine, HelpExplainsEveryOptionInEnglishAndJapanese) {
  for (const char* help : {"--help", "-h"}) {
    const Outcome run = RunInProcess({help});
    EXPECT_EQ(run.exitCode, 0) << help;
    EXPECT_EQ(run.err, "");
    for (const char* word : {"output TARGET", "expand WORKBOOK", "import-csv FILE", "--base DIR", "--yes",
                             "--allow-row-loss", "--help", "--version", "Exit status"})
      EXPECT_NE(run.out.find(word), std::string::npos) << help << " lacks " << word;
    // Each command and option has its Japanese line beside the English one.
    for (const char* japanese : {"出力します", "置き換えます", "M_TAG を更新", "データベースと原紙のあるフォルダ",
                                 "確認と上書きに「はい」と答えます",
                                 "行が失われるときの質問に「はい」と答えます", "ヘルプを表示", "バージョンを表示", "終了コード"})
      EXPECT_NE(run.out.find(japanese), std::string::npos) << help << " lacks " << japanese;
    size_t english = 0, japanese = 0;
    for (size_t start = 0; start < run.out.size();) {
      const size_t end = run.out.find('\n', start);
      const std::string line = run.out.substr(start, end - start);
      (HasJapanese(line) ? japanese : english) += line.empty() ? 0 : 1;
      start = end == std::string::npos ? run.out.size() : end + 1;
    }
    EXPECT_GE(japanese, 8u);
    EXPECT_GE(english, 8u);
  }
}

TEST(BatchCommandLine, HelpWinsOverAnythingElseOnTheLine) {
  const Outcome run = RunInProcess({"expand", "x.xls", "--help", "--base", "/nonexistent"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out.rfind("Usage: pendra", 0), 0u);
}

TEST(BatchCommandLine, VersionIsOnePointZeroZero) {
  const Outcome run = RunInProcess({"--version"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.out.find("1.00"), std::string::npos) << run.out;
  EXPECT_EQ(run.err, "");
}

TEST(BatchCommandLine, UsageErrorsExitWithTwoAndExplainOnStandardError) {
  const std::vector<std::vector<std::string>> lines = {
      {},
      {"output"},
      {"output", ""},
      {"expand", "a.xls", "b.xls"},
      {"frobnicate", "x"},
      {"output", "x.xls", "--bogus"},
      {"output", "x.xls", "--base"},
      {"import-csv"},
      // Limits out of range: the first two overflowed and ended the office at once.
      {"output", "x.xls", "--office-seconds", "10000000000"},
      {"output", "x.xls", "--office-memory", "17592186044416"},
      {"output", "x.xls", "--office-seconds", "0"},
      {"output", "x.xls", "--office-seconds", "604801"},
      {"output", "x.xls", "--office-memory", "127"},
      {"output", "x.xls", "--office-memory", "1048577"},
      {"output", "x.xls", "--office-memory", "2GB"},
      {"output", "x.xls", "--office-memory"},
  };
  for (const auto& line : lines) {
    std::string shown;
    for (const auto& a : line) shown += " " + a;
    const Outcome run = RunInProcess(line);
    EXPECT_EQ(run.exitCode, 2) << shown;
    EXPECT_EQ(run.out, "") << shown;
    // What went wrong, one usage line and where the help is; not the help.
    const size_t first = run.err.find('\n');
    const size_t second = run.err.find('\n', first + 1);
    ASSERT_NE(second, std::string::npos) << shown << ": " << run.err;
    EXPECT_EQ(run.err.rfind("pendra: ", 0), 0u) << shown << ": " << run.err;
    EXPECT_EQ(run.err.substr(first + 1, 14), "Usage: pendra ") << shown;
    EXPECT_EQ(run.err.substr(second + 1), "Try 'pendra --help' for more information.\n") << shown;
  }
}

TEST(BatchCommandLine, ALimitOutOfRangeNamesItsRange) {
  const Outcome seconds = RunInProcess({"output", "x.xls", "--office-seconds", "10000000000"});
  EXPECT_NE(seconds.err.find("--office-seconds needs a whole number of seconds from 1 to 604800"), std::string::npos)
      << seconds.err;
  const Outcome memory = RunInProcess({"output", "x.xls", "--office-memory", "17592186044416"});
  EXPECT_NE(memory.err.find("--office-memory needs a whole number of megabytes from 320 to 1048576"), std::string::npos)
      << memory.err;
}

// A variable out of range is refused before any job runs, as the option
// is, unless the option overrides it.
TEST(BatchCommandLine, ALimitVariableOutOfRangeIsAUsageErrorUnlessTheOptionOverridesIt) {
  struct Case {
    const char* variable;
    const char* value;
    const char* option;
  };
  for (const Case& c : {Case{"PENDRA_OFFICE_SECONDS", "10000000000", "--office-seconds"},
                        Case{"PENDRA_OFFICE_MEMORY_MB", "17592186044416", "--office-memory"},
                        Case{"PENDRA_OFFICE_MEMORY_MB", "lots", "--office-memory"}}) {
    Launch launch;
    launch.args = {"backups", "--base", "/nonexistent"};
    launch.env = {{c.variable, std::string(c.value)}};
    const Outcome refused = RunLaunched(launch);
    EXPECT_EQ(refused.exitCode, 2) << c.variable << "=" << c.value;
    EXPECT_NE(refused.err.find(std::string(c.variable) + "=" + c.value + " is not a whole number"), std::string::npos)
        << refused.err;
    launch.args.insert(launch.args.end(), {c.option, "400"});
    const Outcome overridden = RunLaunched(launch);
    EXPECT_NE(overridden.exitCode, 2) << c.variable << "=" << c.value << " " << c.option << ": " << overridden.err;
  }
}

TEST(BatchCommandLine, UnknownCommandIsNamedInTheError) {
  const Outcome run = RunInProcess({"frobnicate", "x"});
  EXPECT_NE(run.err.find("frobnicate"), std::string::npos) << run.err;
  const Outcome option = RunInProcess({"output", "x.xls", "--bogus"});
  EXPECT_NE(option.err.find("--bogus"), std::string::npos) << option.err;
}

}  // namespace
}  // namespace pendra::cli::test
