// Killed mid-job: pendra is started on a large job and killed with SIGKILL
// at 20 moments spread over its run. After each kill the database must hold
// exactly what it held before (or, for a kill after the commit, exactly what
// a whole run writes), pass its integrity check, and no office of the killed
// run may be left running. The profile folders a killed run leaves behind
// are removed by the runs that follow.
#include <signal.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <iomanip>
#include <random>
#include <sstream>
#include <thread>

#include "ReliabilitySupport.h"
#include "ScheduleTestSupport.h"

namespace pendra::reliability {
namespace {

namespace fs = std::filesystem;
using cli::test::Launch;
using cli::test::Outcome;
using cli::test::PendraProcess;

constexpr int kKills = 20;

using DumpFn = std::function<std::vector<std::string>(const std::string&)>;

struct KillJob {
  std::string name;       // how the figures call it
  std::string db;         // the database file the job writes
  std::vector<std::string> args;
  DumpFn full;            // every column: unchanged means equal
  DumpFn content;         // without timestamps: a whole run means equal
};

void KillSeries(const KillJob& job) {
  const std::string pristine = cli::test::ReadFile(job.db);
  const auto before = job.full(job.db);
  const auto contentBefore = job.content(job.db);
  Launch launch;
  launch.args = job.args;

  // One whole run: how long the job takes, and what it writes.
  const Outcome whole = cli::test::RunLaunched(launch);
  ASSERT_EQ(whole.exitCode, 0) << whole.err;
  const double length = whole.seconds;
  const auto after = job.content(job.db);
  ASSERT_NE(after, contentBefore) << "the job changes nothing: the kills would prove nothing";
  Restore(job.db, pristine);
  ASSERT_EQ(job.full(job.db), before);

  std::random_device seedSource;
  const unsigned seed = seedSource();
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> jitter(-length / 60, length / 60);

  int killed = 0, survived = 0, officeUp = 0, inTransaction = 0, rolledBack = 0, committed = 0, endedFirst = 0;
  std::vector<std::string> leftFolders;
  std::ostringstream moments;
  double slowestOfficeEnd = 0;
  for (int i = 0; i < kKills; ++i) {
    double at = std::max(0.005, length * (0.03 + 0.92 * i / (kKills - 1)) + jitter(random));
    for (int attempt = 0;; ++attempt) {
      PendraProcess run(launch);
      while (run.SecondsSinceStart() < at && run.Running())
        std::this_thread::sleep_for(std::chrono::microseconds(500));
      const bool withOffice = !cli::test::OfficesOf(run.Pid()).empty();
      run.Kill(SIGKILL);
      const Outcome outcome = run.Wait(std::chrono::seconds(60));
      if (outcome.signal != SIGKILL) {
        // The job ended before the kill: a whole run. Try this moment a
        // little earlier, so that every one of the 20 is a real kill.
        ++endedFirst;
        EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
        EXPECT_EQ(job.content(job.db), after);
        Restore(job.db, pristine);
        ASSERT_LT(attempt, 5) << "the job keeps ending before " << at << " s";
        at *= 0.85;
        continue;
      }
      ++killed;
      officeUp += withOffice ? 1 : 0;
      moments << (i ? " " : "") << std::fixed << std::setprecision(2) << at;

      // The office dies with its parent (PR_SET_PDEATHSIG): gone at once.
      const auto killedAt = std::chrono::steady_clock::now();
      const bool officesGone = OfficesGone(run.Pid(), 3000);
      if (withOffice)
        slowestOfficeEnd = std::max(slowestOfficeEnd,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - killedAt).count());
      for (auto& folder : cli::test::ProfileFoldersOf(cli::test::ProfileRoot(), run.Pid()))
        leftFolders.push_back(folder);
      const DbLook look = LookAt(job.db);
      inTransaction += look.journalLeft ? 1 : 0;
      const bool unchanged = job.full(job.db) == before;
      const bool wholeRun = !unchanged && job.content(job.db) == after;
      rolledBack += unchanged ? 1 : 0;
      committed += wholeRun ? 1 : 0;
      EXPECT_EQ(look.integrity, "ok") << job.name << ", kill at " << at << " s";
      EXPECT_TRUE(unchanged || wholeRun) << job.name << ", kill at " << at << " s: rows lost or half written";
      EXPECT_TRUE(officesGone) << job.name << ", kill at " << at << " s: the office outlived the killed run";
      if (look.integrity == "ok" && (unchanged || wholeRun) && officesGone) ++survived;
      if (!unchanged) Restore(job.db, pristine);
      break;
    }
  }

  // A whole run after all the kills: the job still works, and its start
  // removed the profile folders of the killed runs.
  const Outcome last = cli::test::RunLaunched(launch);
  EXPECT_EQ(last.exitCode, 0) << last.err;
  EXPECT_EQ(job.content(job.db), after);
  size_t removed = 0;
  for (const auto& folder : leftFolders) removed += fs::exists(folder) ? 0 : 1;
  EXPECT_EQ(removed, leftFolders.size()) << "profile folders of killed runs were left";
  Restore(job.db, pristine);

  std::ostringstream length2;
  length2 << std::fixed << std::setprecision(2) << length;
  Figure(job.name + ": whole run " + length2.str() + " s; kill moments (s): " + moments.str());
  Figure(job.name + ": kills survived: " + std::to_string(survived) + "/" + std::to_string(killed) +
         " (rolled back " + std::to_string(rolledBack) + ", committed whole " + std::to_string(committed) +
         "; killed inside the transaction " + std::to_string(inTransaction) + ", with the office running " +
         std::to_string(officeUp) + "; runs that ended before their kill and were retried earlier " +
         std::to_string(endedFirst) + ")");
  if (officeUp > 0)
    Figure(job.name + ": offices of killed runs gone after at most " +
           std::to_string(static_cast<int>(slowestOfficeEnd * 1000)) + " ms");
  Figure(job.name + ": profile folders left by killed runs: " + std::to_string(leftFolders.size()) +
         ", removed by the next run: " + std::to_string(removed));
  EXPECT_EQ(killed, kKills);
  EXPECT_EQ(survived, kKills);
}

TEST(KilledMidJob, ExpansionOfALargeWorkbook) {
  schedule::test::BaseFolder base;
  const std::string workbook = LargeWorkbook(base.Template());
  KillSeries({"expand (" + std::to_string(kLargeGroups) + " + " + std::to_string(kLargeKiki) + " rows)",
              base.ScheduleDb(),
              {"expand", workbook, "--yes", "--base", base.Path()},
              ScheduleDump, ScheduleContentDump});
}

TEST(KilledMidJob, ImportOfALargeMasterFile) {
  schedule::test::BaseFolder base;
  const std::string db = base.Path() + "/VL_Database/Velmora.mdb";
  const std::string csv = base.File("大きな ﾏｽﾀｰ情報.csv");
  constexpr int kRecords = 100000;
  WriteLargeCsv(csv, kRecords);
  const DumpFn full = [](const std::string& file) { return Dump(file, "M_TAG"); };
  const DumpFn content = [](const std::string& file) {
    return Dump(file, "M_TAG",
                "TAG, tag名称, 有効桁, 最大値, 最小値, 大項目NO, 中項目NO, 小項目NO, 単位NO, 収集種別, TOTAL_FLG, "
                "AVE_FLG, MAX_FLG, MIN_FLG, 種別, P種別, パルスMAX, 換算係数, A, B, C, D, E, F, CALC, 備考");
  };
  KillSeries({"import-csv (" + std::to_string(kRecords) + " records)", db,
              {"import-csv", csv, "--yes", "--base", base.Path()}, full, content});
}

}  // namespace
}  // namespace pendra::reliability
