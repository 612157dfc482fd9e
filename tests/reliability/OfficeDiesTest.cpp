// The spreadsheet application dies mid-job: the office process a pendra run
// started is killed at several moments of an expansion and of an output.
// The job must end with its own error message and exit status 1, leave the
// tables as they were, write no target (and no half-written file beside it)
// and leave no process and no profile folder behind.
#include <signal.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <iomanip>
#include <set>
#include <sstream>
#include <thread>

#include "ReliabilitySupport.h"
#include "ScheduleTestSupport.h"

namespace pendra::reliability {
namespace {

namespace fs = std::filesystem;
using cli::test::Launch;
using cli::test::OfficesOf;
using cli::test::Outcome;
using cli::test::PendraProcess;

std::set<std::string> Listing(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

// Waits until the run has an office; its first PID, or -1 when the run
// ended first.
pid_t FirstOffice(PendraProcess& run) {
  pid_t office = -1;
  cli::test::WaitFor([&] {
    const auto offices = OfficesOf(run.Pid());
    if (!offices.empty()) office = offices.front();
    return office > 0 || !run.Running();
  }, std::chrono::seconds(60));
  return office;
}

// Kills every office of the run (the one found and any started since).
void KillOffices(pid_t run, pid_t first) {
  kill(first, SIGKILL);
  for (pid_t office : OfficesOf(run)) kill(office, SIGKILL);
}

std::string Seconds(double s) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(2) << s;
  return text.str();
}

struct Moment {
  std::string name;
  // Waits, from the moment the run's first office is seen, until the office
  // is to die; false when the run ended first.
  std::function<bool(PendraProcess&)> wait;
};

bool WaitSeconds(PendraProcess& run, double seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < until) {
    if (!run.Running()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Common checks after the office died: the run ended with the job's error,
// nothing of the run is left.
void ExpectCleanEnd(PendraProcess& run, const Outcome& outcome, const std::string& what) {
  EXPECT_EQ(outcome.exitCode, 1) << what << ": " << outcome.out << outcome.err;
  EXPECT_EQ(outcome.out, "") << what;
  EXPECT_TRUE(OfficesGone(run.Pid(), 3000)) << what << ": an office is left";
  EXPECT_TRUE(cli::test::ProfileFoldersOf(cli::test::ProfileRoot(), run.Pid()).empty())
      << what << ": the run's profile folder is left";
}

TEST(OfficeDiesMidJob, ExpansionEndsWithItsErrorAndTablesUnchanged) {
  schedule::test::BaseFolder base;
  const std::string workbook = LargeWorkbook(base.Template());
  const std::string db = base.ScheduleDb();
  const auto before = ScheduleDump(db);
  const std::vector<Moment> moments = {
      {"while it starts", [](PendraProcess&) { return true; }},
      {"while the workbook loads", [](PendraProcess& run) { return WaitSeconds(run, 0.6); }},
      {"while rows are stored",
       [&](PendraProcess& run) {
         return cli::test::WaitFor([&] { return fs::exists(db + "-journal") || !run.Running(); },
                                   std::chrono::seconds(60)) &&
                run.Running();
       }},
  };
  int ended = 0;
  for (const auto& moment : moments) {
    const std::string what = "expand, office killed " + moment.name;
    Launch launch;
    launch.args = {"expand", workbook, "--yes", "--base", base.Path()};
    PendraProcess run(launch);
    const pid_t office = FirstOffice(run);
    ASSERT_GT(office, 0) << what << ": the run started no office";
    const bool inTime = moment.wait(run);
    const double at = run.SecondsSinceStart();
    KillOffices(run.Pid(), office);
    const Outcome outcome = run.Wait(std::chrono::seconds(60));
    ASSERT_TRUE(inTime) << what << ": the run ended first";
    ExpectCleanEnd(run, outcome, what);
    const std::string prefix = "Pendra情報の展開エラー ｴﾗｰ番号  ";
    EXPECT_EQ(outcome.err.rfind(prefix, 0), 0u) << what << ": " << outcome.err;
    const DbLook look = LookAt(db);
    EXPECT_FALSE(look.journalLeft) << what << ": the job did not roll back itself";
    EXPECT_EQ(look.integrity, "ok") << what;
    EXPECT_EQ(ScheduleDump(db), before) << what << ": tables changed";
    const std::string number = outcome.err.substr(prefix.size(), outcome.err.find(':') - prefix.size());
    Figure(what + " (" + Seconds(at) + " s): exit " + std::to_string(outcome.exitCode) + ", error " + number +
           " after " + Seconds(outcome.seconds - at) + " s, tables " +
           (ScheduleDump(db) == before ? "unchanged" : "CHANGED"));
    ++ended;
  }
  EXPECT_EQ(ended, 3);
}

TEST(OfficeDiesMidJob, OutputEndsWithItsErrorAndWritesNoTarget) {
  schedule::test::BaseFolder base;
  const std::string db = base.ScheduleDb();
  FillLargeTables(db);
  const auto before = ScheduleDump(db);
  const std::string folder = base.Path();

  // A whole output first, to know how long its office lives.
  double officeLife = 0;
  {
    const std::string target = base.File("計測.xls");
    Launch launch;
    launch.args = {"output", target, "--base", folder};
    PendraProcess run(launch);
    ASSERT_GT(FirstOffice(run), 0);
    const double seen = run.SecondsSinceStart();
    const Outcome outcome = run.Wait();
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    officeLife = outcome.seconds - seen;
    fs::remove(target);
  }
  const auto listing = Listing(folder);

  int ended = 0;
  for (double fraction : {0.0, 0.25, 0.5, 0.7}) {
    const std::string target = base.File("出力 \"途中\".xls");
    const std::string what = "output, office killed at " + Seconds(fraction) + " of its life";
    Launch launch;
    launch.args = {"output", target, "--base", folder};
    PendraProcess run(launch);
    const pid_t office = FirstOffice(run);
    ASSERT_GT(office, 0) << what;
    const bool inTime = WaitSeconds(run, fraction * officeLife);
    const double at = run.SecondsSinceStart();
    KillOffices(run.Pid(), office);
    const Outcome outcome = run.Wait(std::chrono::seconds(60));
    ASSERT_TRUE(inTime) << what << ": the run ended first";
    ExpectCleanEnd(run, outcome, what);
    EXPECT_EQ(outcome.err, "Pendra情報のXLS出力エラー\n") << what;
    EXPECT_FALSE(fs::exists(target)) << what << ": a target was written";
    EXPECT_EQ(Listing(folder), listing) << what << ": files were left beside the target";
    EXPECT_EQ(ScheduleDump(db), before) << what;
    Figure(what + " (" + Seconds(at) + " s of a " + Seconds(officeLife) + " s office life): exit " +
           std::to_string(outcome.exitCode) + ", " + (fs::exists(target) ? "TARGET WRITTEN" : "no target") +
           ", tables " + (ScheduleDump(db) == before ? "unchanged" : "CHANGED"));
    ++ended;
  }
  EXPECT_EQ(ended, 4);
}

}  // namespace
}  // namespace pendra::reliability
