// Killed mid-job: pendra is started on a large job and killed with SIGKILL
// at 20 moments spread over its run, then 10 more times at moments spread
// over its transaction (the part of the run in which it writes). After each
// kill the database must hold exactly what it held before (or, for a kill
// after the commit, exactly what a whole run writes), pass its integrity
// check, and no office of the killed run may be left running. The profile
// folders a killed run leaves behind are removed by the runs that follow.
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
using Clock = std::chrono::steady_clock;

constexpr int kKills = 20;
constexpr int kTransactionKills = 10;

using DumpFn = std::function<std::vector<std::string>(const std::string&)>;

struct KillJob {
  std::string name;       // how the figures call it
  std::string db;         // the database file the job writes
  std::vector<std::string> args;
  DumpFn full;            // every column: unchanged means equal
  DumpFn content;         // without timestamps: a whole run means equal
};

std::string Seconds(double s) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(2) << s;
  return text.str();
}

struct Tally {
  int killed = 0, survived = 0, officeUp = 0, inTransaction = 0, rolledBack = 0, committed = 0, endedFirst = 0;
  std::string moments;
};

class KillSeries {
 public:
  explicit KillSeries(KillJob job) : job_(std::move(job)) {
    launch_.args = job_.args;
    pristine_ = cli::test::ReadFile(job_.db);
    before_ = job_.full(job_.db);
  }

  // One whole run: how long it takes, when its transaction runs (seen by
  // its rollback journal), and what it writes.
  void MeasureWholeRun() {
    PendraProcess run(launch_);
    double first = -1, last = -1;
    while (run.Running()) {
      if (Writing()) {
        last = run.SecondsSinceStart();
        if (first < 0) first = last;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    const Outcome whole = run.Wait();
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    length_ = whole.seconds;
    transaction_ = first >= 0 ? last - first : 0;
    after_ = job_.content(job_.db);
    ASSERT_NE(after_, job_.content(pristineCopy())) << "the job changes nothing: the kills would prove nothing";
    Restore(job_.db, pristine_);
    ASSERT_EQ(job_.full(job_.db), before_);
  }

  // Starts the job, waits with `wait` (false: the job ended first), kills
  // it and checks what it left. False when the job ended before the kill.
  bool KillOnce(const std::function<bool(PendraProcess&)>& wait, Tally& tally) {
    PendraProcess run(launch_);
    wait(run);
    const double at = run.SecondsSinceStart();
    const bool withOffice = !cli::test::OfficesOf(run.Pid()).empty();
    run.Kill(SIGKILL);
    const Outcome outcome = run.Wait(std::chrono::seconds(60));
    if (outcome.signal != SIGKILL) {
      // A whole run after all.
      ++tally.endedFirst;
      EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
      EXPECT_EQ(job_.content(job_.db), after_);
      Restore(job_.db, pristine_);
      return false;
    }
    ++tally.killed;
    tally.officeUp += withOffice ? 1 : 0;
    tally.moments += (tally.moments.empty() ? "" : " ") + Seconds(at);

    // The office dies with its parent (PR_SET_PDEATHSIG): gone at once.
    const auto killedAt = Clock::now();
    const bool officesGone = OfficesGone(run.Pid(), 3000);
    if (withOffice)
      slowestOfficeEnd_ = std::max(slowestOfficeEnd_, std::chrono::duration<double>(Clock::now() - killedAt).count());
    for (auto& folder : cli::test::ProfileFoldersOf(cli::test::ProfileRoot(), run.Pid())) leftFolders_.push_back(folder);

    const DbLook look = LookAt(job_.db);
    tally.inTransaction += look.journalLeft ? 1 : 0;
    const bool unchanged = job_.full(job_.db) == before_;
    const bool wholeRun = !unchanged && job_.content(job_.db) == after_;
    tally.rolledBack += unchanged ? 1 : 0;
    tally.committed += wholeRun ? 1 : 0;
    EXPECT_EQ(look.integrity, "ok") << job_.name << ", kill at " << at << " s";
    EXPECT_TRUE(unchanged || wholeRun) << job_.name << ", kill at " << at << " s: rows lost or half written";
    EXPECT_TRUE(officesGone) << job_.name << ", kill at " << at << " s: the office outlived the killed run";
    if (look.integrity == "ok" && (unchanged || wholeRun) && officesGone) ++tally.survived;
    if (!unchanged) Restore(job_.db, pristine_);
    return true;
  }

  // 20 kills at i/20 of the run's length, with jitter; a kill whose job
  // ended first is tried again a little earlier.
  Tally SpreadOverTheRun() {
    Tally tally;
    std::mt19937 random(std::random_device{}());
    std::uniform_real_distribution<double> jitter(-length_ / 60, length_ / 60);
    for (int i = 0; i < kKills; ++i) {
      double at = std::max(0.005, length_ * (0.03 + 0.92 * i / (kKills - 1)) + jitter(random));
      for (int attempt = 0; attempt < 6; ++attempt, at *= 0.85) {
        if (KillOnce([at](PendraProcess& run) { return WaitUntil(run, at); }, tally)) break;
      }
    }
    return tally;
  }

  // 10 kills spread over the transaction, counted from the moment its
  // journal appears.
  Tally SpreadOverTheTransaction() {
    Tally tally;
    for (int j = 0; j < kTransactionKills; ++j) {
      double delay = transaction_ * (0.05 + 0.9 * j / (kTransactionKills - 1));
      for (int attempt = 0; attempt < 6; ++attempt, delay *= 0.8) {
        const auto wait = [&](PendraProcess& run) {
          if (!cli::test::WaitFor([&] { return Writing() || !run.Running(); }, std::chrono::seconds(60)))
            return false;
          return WaitUntil(run, run.SecondsSinceStart() + delay);
        };
        if (KillOnce(wait, tally)) break;
      }
    }
    return tally;
  }

  // A whole run after all the kills: the job still works, and its start
  // removed the profile folders of the killed runs.
  void Finish() {
    const Outcome last = cli::test::RunLaunched(launch_);
    EXPECT_EQ(last.exitCode, 0) << last.err;
    EXPECT_EQ(job_.content(job_.db), after_);
    size_t removed = 0;
    for (const auto& folder : leftFolders_) removed += fs::exists(folder) ? 0 : 1;
    EXPECT_EQ(removed, leftFolders_.size()) << "profile folders of killed runs were left";
    Restore(job_.db, pristine_);
    if (slowestOfficeEnd_ > 0)
      Figure(job_.name + ": offices of killed runs gone after at most " +
             std::to_string(static_cast<int>(slowestOfficeEnd_ * 1000)) + " ms");
    Figure(job_.name + ": profile folders left by killed runs: " + std::to_string(leftFolders_.size()) +
           ", removed by the next run: " + std::to_string(removed));
  }

  double Length() const { return length_; }
  double TransactionLength() const { return transaction_; }
  const std::string& Name() const { return job_.name; }

 private:
  static bool WaitUntil(PendraProcess& run, double seconds) {
    while (run.SecondsSinceStart() < seconds) {
      if (!run.Running()) return false;
      std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    return true;
  }
  // The transaction shows as SQLite's rollback journal, or for an Access
  // file as the work copy the rewrite writes beside it.
  bool Writing() const { return fs::exists(job_.db + "-journal") || AccessWorkFileBeside(job_.db); }
  std::string pristineCopy() {
    const std::string copy = job_.db + ".pristine";
    cli::test::WriteFile(copy, pristine_);
    return copy;
  }

  KillJob job_;
  Launch launch_;
  std::string pristine_;
  std::vector<std::string> before_;
  std::vector<std::string> after_;
  double length_ = 0;
  double transaction_ = 0;
  double slowestOfficeEnd_ = 0;
  std::vector<std::string> leftFolders_;
};

std::string Describe(const Tally& t) {
  return "(rolled back " + std::to_string(t.rolledBack) + ", committed whole " + std::to_string(t.committed) +
         "; killed inside the transaction " + std::to_string(t.inTransaction) + ", with the office running " +
         std::to_string(t.officeUp) + "; runs that ended before their kill " + std::to_string(t.endedFirst) + ")";
}

void KillAndCount(KillJob job) {
  KillSeries series(std::move(job));
  series.MeasureWholeRun();
  if (::testing::Test::HasFatalFailure()) return;
  const Tally spread = series.SpreadOverTheRun();
  Figure(series.Name() + ": whole run " + Seconds(series.Length()) + " s, transaction " +
         Seconds(series.TransactionLength()) + " s; kill moments (s): " + spread.moments);
  Figure(series.Name() + ": kills survived: " + std::to_string(spread.survived) + "/" +
         std::to_string(spread.killed) + " " + Describe(spread));
  const Tally inside = series.SpreadOverTheTransaction();
  Figure(series.Name() + ": kills timed inside the transaction, survived " + std::to_string(inside.survived) +
         "/" + std::to_string(inside.killed) + " " + Describe(inside));
  series.Finish();
  EXPECT_EQ(spread.killed, kKills);
  EXPECT_EQ(spread.survived, spread.killed);
  EXPECT_EQ(inside.killed, kTransactionKills);
  EXPECT_EQ(inside.survived, inside.killed);
}

TEST(KilledMidJob, ExpansionOfALargeWorkbook) {
  schedule::test::BaseFolder base;
  const std::string workbook = LargeWorkbook(base.Template());
  KillAndCount({"expand (" + std::to_string(kLargeGroups) + " + " + std::to_string(kLargeKiki) + " rows)",
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
  KillAndCount({"import-csv (" + std::to_string(kRecords) + " records)", db,
       {"import-csv", csv, "--yes", "--base", base.Path()}, full, content});
}

// The same on a genuine Access file (ACE 16) as each database: the file is
// replaced whole by a rename, so a kill leaves the old file or the new one.
TEST(KilledMidJob, ExpansionIntoAnAccessDatabase) {
  schedule::test::BaseFolder base;
  fs::copy_file(PENDRA_ACCESS_TESTDATA "/ja_V2016.accdb", base.ScheduleDb(), fs::copy_options::overwrite_existing);
  const std::string workbook = LargeWorkbook(base.Template());
  KillAndCount({"expand into Access (" + std::to_string(kLargeGroups) + " + " + std::to_string(kLargeKiki) + " rows)",
       base.ScheduleDb(),
       {"expand", workbook, "--yes", "--base", base.Path()},
       ScheduleDump, ScheduleContentDump});
}

TEST(KilledMidJob, ImportIntoAnAccessDatabase) {
  schedule::test::BaseFolder base;
  const std::string db = base.Path() + "/VL_Database/Velmora.mdb";
  fs::copy_file(PENDRA_ACCESS_TESTDATA "/ja_V2016.accdb", db, fs::copy_options::overwrite_existing);
  const std::string csv = base.File("大きな ﾏｽﾀｰ情報.csv");
  constexpr int kRecords = 100000;
  WriteLargeCsv(csv, kRecords);
  const DumpFn full = [](const std::string& file) { return Dump(file, "M_TAG"); };
  const DumpFn content = [](const std::string& file) { return Dump(file, "M_TAG", "TAG, tag名称, 有効桁, 最大値, 備考"); };
  KillAndCount({"import-csv into Access (" + std::to_string(kRecords) + " records)", db,
       {"import-csv", csv, "--yes", "--base", base.Path()}, full, content});
}

}  // namespace
}  // namespace pendra::reliability
