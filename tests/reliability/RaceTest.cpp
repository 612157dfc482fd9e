// A second writer racing our jobs on a genuine Access file: another program
// (a process of its own, with a writer of its own that takes no lock of
// ours) adds rows to the table our job writes, at random moments, while
// the job runs again and again. Each run of ours commits or refuses with
// nothing changed; the other program's rows are never lost.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <thread>

#include "ReliabilitySupport.h"
#include "ScheduleTestSupport.h"
#include "core/PlatformError.h"
#include "jet/Checker.h"
#include "jet/JetFile.h"
#include "jet/TableRewrite.h"
#include "mdb/AccessFile.h"

namespace pendra::reliability {
namespace {

namespace fs = std::filesystem;

constexpr int kOurRuns = 8;
constexpr int kMostOtherWrites = 200;   // the other program stops by itself

std::vector<std::vector<Variant>> RowsOf(const std::string& db, const std::string& table) {
  for (auto& t : mdb::ReadAccessFile(db).tables)
    if (t.name == table) return std::move(t.rows);
  return {};
}

// The other program: reads the file, adds one M_TAG row (a copy of the
// first with a tag of its own) and puts a new file in its place, until
// `stop` appears. Each row it committed goes to `log`.
[[noreturn]] void OtherProgram(const std::string& db, const std::string& stop, const std::string& log) {
  std::mt19937 random(static_cast<unsigned>(getpid()));
  std::ofstream written(log);
  for (int i = 0; i < kMostOtherWrites && !fs::exists(stop); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(20, 120)(random)));
    try {
      auto rows = RowsOf(db, "M_TAG");
      if (rows.empty()) continue;
      std::vector<Variant> row = rows.front();
      const std::string tag = "OTHER-" + std::to_string(i);
      row[0] = Variant(tag);
      rows.push_back(row);
      jet::JetFile file(cli::test::ReadFile(db), db);
      jet::RewriteTable(file, "M_TAG", rows);
      const std::string temporary = db + ".other";
      std::ofstream(temporary, std::ios::binary | std::ios::trunc) << file.bytes();
      fs::rename(temporary, db);
      written << tag << std::endl;
    } catch (const PlatformError&) {
      // Read while our job replaced the file: the other program tries again.
    }
  }
  _exit(0);
}

TEST(RacingWriter, OurJobCommitsOrRefusesAndTheOtherProgramsRowsStay) {
  schedule::test::BaseFolder base;
  const std::string db = base.Path() + "/VL_Database/Velmora.mdb";
  fs::copy_file(PENDRA_ACCESS_TESTDATA "/ja_V2016.accdb", db, fs::copy_options::overwrite_existing);
  const std::string csv = base.File("ﾏｽﾀｰ情報.csv");
  WriteLargeCsv(csv, 300);
  const std::string stop = base.Path() + "/stop", log = base.Path() + "/other.log";
  const pid_t other = fork();
  ASSERT_GE(other, 0);
  if (other == 0) OtherProgram(db, stop, log);
  int committed = 0, refused = 0;
  for (int run = 0; run < kOurRuns; ++run) {
    const auto outcome = cli::test::RunPendra({"import-csv", csv, "--yes", "--base", base.Path()});
    if (outcome.exitCode == 0) {
      ++committed;
    } else {
      ++refused;
      EXPECT_NE(outcome.err.find("別のプログラムによって変更されました"), std::string::npos) << outcome.err;
    }
  }
  std::ofstream(stop) << "";
  int status = 0;
  waitpid(other, &status, 0);
  std::set<std::string> tags;
  for (const auto& row : RowsOf(db, "M_TAG")) tags.insert(row[0].IsString() ? row[0].StringValue() : "");
  int otherRows = 0;
  std::ifstream written(log);
  for (std::string tag; std::getline(written, tag); ++otherRows) EXPECT_TRUE(tags.count(tag)) << tag << " was lost";
  EXPECT_TRUE(jet::CheckAccessFile(db).Clean());
  EXPECT_GT(otherRows, 0);
  EXPECT_GT(committed + refused, 0);
  Figure("racing writer: our runs committed " + std::to_string(committed) + ", refused " + std::to_string(refused) +
         "; the other program's rows " + std::to_string(otherRows) + ", all kept");
}

}  // namespace
}  // namespace pendra::reliability
